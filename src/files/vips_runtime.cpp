#include "files/vips_runtime.h"

#include <vips/vips.h>

#include <mutex>

#include "files/file_error.h"

namespace kelvane {

namespace {

void quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

}  // namespace

void start_vips() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    if (VIPS_INIT("kelvane") != 0) return;
    // Every picture is read once, in order: caching operations would only keep files open.
    vips_cache_set_max(0);
    vips_cache_set_max_mem(0);
    // Savers pull rows that kelvane's own threads compute; one worker hands them over.
    vips_concurrency_set(1);
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
                      quiet, nullptr);
    started = true;
  });
  if (!started) throw FileError("cannot start the picture library libvips");
}

std::string take_vips_error() {
  const std::string text = vips_error_buffer();
  vips_error_clear();
  return text;
}

bool for_want_of_memory(const std::string& error) {
  return error.find("out of memory") != std::string::npos || error.find("unable to create thread") != std::string::npos ||
         error.find("Cannot allocate memory") != std::string::npos;
}

}  // namespace kelvane

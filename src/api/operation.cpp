// The public operation: windows, keywords and their checks, the version and the formats.
#include <cmath>
#include <cstdio>
#include <string>

#include "api/calls.h"
#include "files/output_format.h"
#include "files/picture_reader.h"
#include "gray/gray_methods.h"
#include "image/thread_pool.h"
#include "leveling/window_arg.h"

namespace kelvane {

std::string version() {
  return std::to_string(KELVANE_VERSION_MAJOR) + "." + std::to_string(KELVANE_VERSION_MINOR) + "." +
         std::to_string(KELVANE_VERSION_PATCH);
}

namespace {

std::string braced(const std::string& text) { return "{" + text + "}"; }

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

Window::Window(long long pixels) {
  // Read as the command line reads the same number.
  parse_window(std::to_string(pixels).c_str(), pixels_);
}

Window Window::share(double percent) {
  const WindowShare share = share_of_percent(percent);
  if (share == no_share)
    throw Error(Error::Kind::illegal_window, "Illegal window: " + braced(number_text(percent) + "%") + ". Try {5%}.");
  Window window;
  window.is_share_ = true;
  window.pixels_ = 0;
  window.millionths_ = share;
  return window;
}

Window Window::parse(const std::string& text) {
  Window window;
  WindowShare share = no_share;
  if (text.find('\0') == std::string::npos) {
    if (parse_window_share(text.c_str(), share)) {
      window.is_share_ = true;
      window.pixels_ = 0;
      window.millionths_ = share;
      return window;
    }
    if (parse_window(text.c_str(), window.pixels_)) return window;
  }
  throw Error(Error::Kind::illegal_window, "Illegal window: " + braced(text) + ". Try {31}.");
}

double Window::percent() const { return is_share_ ? percent_of(millionths_) : 0.0; }

std::uint32_t Window::pixels_for(std::size_t width, std::size_t height) const {
  return is_share_ ? window_of_share(millionths_, width, height) : pixels_;
}

std::string Window::text() const {
  if (!is_share_) return std::to_string(pixels_);
  // Whole millionths of a percent: the decimals that are not zero, no more.
  std::string fraction = std::to_string(1000000 + millionths_ % 1000000).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return std::to_string(millionths_ / 1000000) + (fraction.empty() ? "" : "." + fraction) + "%";
}

std::vector<AlgorithmInfo> algorithm_info() {
  std::vector<AlgorithmInfo> list;
  for (const Algorithm& a : algorithm_table) list.push_back({a.keyword, a.matches, a.takes_method, a.family != Family::mean});
  return list;
}

std::vector<GrayMethodInfo> gray_method_info() {
  std::vector<GrayMethodInfo> list;
  for (const GrayMethodEntry& m : gray_method_table) list.push_back({m.keyword, m.description});
  return list;
}

std::vector<std::string> algorithms() {
  std::vector<std::string> names;
  for (const Algorithm& a : algorithm_table) names.push_back(a.keyword);
  return names;
}

std::vector<std::string> gray_methods() {
  std::vector<std::string> names;
  for (const GrayMethodEntry& m : gray_method_table) names.push_back(m.keyword);
  return names;
}

std::string readable_formats() { return kelvane::readable_formats_text; }

std::vector<std::string> writable_extensions() { return output_extensions(); }

bool writes_extension(const std::string& extension) {
  return extension.find('\0') == std::string::npos && kelvane::output_extension_known(extension);
}

Leveling leveling_of(const Operation& operation) {
  Leveling leveling;
  leveling.algorithm = operation.algorithm.find('\0') == std::string::npos ? find_algorithm(operation.algorithm.c_str())
                                                                            : nullptr;
  if (!leveling.algorithm)
    throw Error(Error::Kind::illegal_function, "Illegal function: " + braced(operation.algorithm) + ". Try {mean}.");
  if (leveling.algorithm->takes_method) {
    leveling.method = find_gray_method(operation.method.c_str());
    if (!leveling.method || operation.method.find('\0') != std::string::npos)
      throw Error(Error::Kind::illegal_method, "Illegal method: " + braced(operation.method) + ". Try {value}.");
  } else if (!operation.method.empty()) {
    throw Error(Error::Kind::illegal_method,
                "Function " + braced(operation.algorithm) + " takes no method; its _fn form does.");
  }
  const Window* windows[2] = {&operation.window, operation.window2 ? &*operation.window2 : nullptr};
  leveling.windows = windows[1] ? 2 : 1;
  std::uint32_t* pixels[2] = {&leveling.window1, &leveling.window2};
  WindowShare* shares[2] = {&leveling.share1, &leveling.share2};
  for (int i = 0; i < leveling.windows; ++i) {
    *pixels[i] = windows[i]->pixels();
    *shares[i] = windows[i]->is_share() ? share_of_percent(windows[i]->percent()) : no_share;
  }
  leveling.level_alpha = operation.level_alpha;
  if (!(operation.max_gain >= 1.0))
    throw Error(Error::Kind::illegal_gain, "Illegal maximum gain: " + braced(number_text(operation.max_gain)) +
                                               ". Try {4}: a gain of at least 1.");
  leveling.max_gain = operation.max_gain;
  return leveling;
}

void check(const Operation& operation) { leveling_of(operation); }

std::vector<std::string> notes_on(const Operation& operation,
                                  const std::vector<std::pair<std::size_t, std::size_t>>& sizes) {
  const Leveling leveling = leveling_of(operation);
  const Window* windows[2] = {&operation.window, operation.window2 ? &*operation.window2 : nullptr};
  std::vector<std::string> notes;
  for (int i = 0; i < leveling.windows; ++i) {
    const Window& window = *windows[i];
    bool alone = window.is_share() ? window.percent() == 0 : window.pixels() <= 1;
    for (const auto& size : sizes) alone = alone || window.pixels_for(size.first, size.second) <= 1;
    if (!alone) continue;
    const char* which = leveling.windows == 1 ? "the window" : i == 0 ? "the first window" : "the second window";
    std::string note = std::string(which) + " is 1 pixel, whose statistics are its own value, so ";
    // Up to rounding: a pixel's window sum is a difference of two large table sums, and
    // minmax divides what is left of it by a soft range that is itself rounding.
    if (leveling.windows == 1)
      note += leveling.algorithm->takes_method ? "every pixel comes out with the same gray, up to rounding (only hues remain)."
                                               : "every channel comes out as one value, up to rounding.";
    else if (i == 0) note += "every pixel takes its second window's reference: the result is a blur.";
    else note += "the reference of every pixel is the pixel itself.";
    notes.push_back(note);
  }
  return notes;
}

void check_options(const Options& options) {
  const auto refuse = [](const std::string& what, const std::string& value, const std::string& range) {
    throw Error(Error::Kind::illegal_option, "Illegal " + what + ": " + braced(value) + ". Use " + range + ".");
  };
  const auto one_of = [](const std::string& value, std::initializer_list<const char*> choices) {
    if (value.empty()) return true;
    for (const char* choice : choices)
      if (value == choice) return true;
    return false;
  };
  if (options.jpeg_quality < 1 || options.jpeg_quality > 100)
    refuse("JPEG quality", std::to_string(options.jpeg_quality), "1 to 100");
  if (options.png_compression < 0 || options.png_compression > 9)
    refuse("PNG compression", std::to_string(options.png_compression), "0 to 9");
  if (!one_of(options.tiff_compression, {"none", "lzw", "zip", "packbits"}))
    refuse("TIFF compression", options.tiff_compression, "none, lzw, zip or packbits");
  if (!one_of(options.jpeg_subsampling, {"4:4:4", "4:2:0"}))
    refuse("JPEG subsampling", options.jpeg_subsampling, "4:4:4 or 4:2:0");
  if (!one_of(options.webp, {"lossless", "lossy"})) refuse("WebP kind", options.webp, "lossless or lossy");
}

StreamSettings settings_of(const Options& options) {
  StreamSettings settings;
  settings.threads = options.threads > 0 ? options.threads : default_threads();
  settings.memory_limit = options.memory_limit;
  if (options.progress)
    settings.progress = [progress = options.progress](std::size_t done, std::size_t total) {
      if (!progress(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0)) throw Cancelled();
    };
  return settings;
}

}  // namespace kelvane

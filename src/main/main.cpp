// kelvane [options] {algorithm} {input} {output} {arg}*
//
// The run goes straight through: options, existence test of the input, its header, keyword,
// argument count, gray method, window numbers, then every page read, leveled and written.
// A warning ends the run before anything is written; the exit status says whether an output
// was written (see exit_status.h).
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "files/file_error.h"
#include "jobs/level_file.h"
#include "main/exit_status.h"
#include "main/messages.h"
#include "main/options.h"
#include "main/progress.h"
#include "main/window_arg.h"

namespace {

bool input_missing(const char* path) {
  struct stat info;
  return ::stat(path, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// words: the keyword, the input, the output and the arguments.
int run(const Options& options, int count, char** words) {
  const char* keyword = words[0];
  const char* input = words[1];
  if (input_missing(input)) {
    warn_missing_file(input);
    return exit_failure;
  }
  // The header only: a mistyped command line is answered before any pixel is decoded.
  std::unique_ptr<PictureReader> reader = open_picture(input);

  Leveling leveling;
  leveling.algorithm = find_algorithm(keyword);
  leveling.level_alpha = options.level_alpha;
  if (!leveling.algorithm) {
    warn_illegal_function(keyword);
    return exit_misuse;
  }
  leveling.windows = window_count(*leveling.algorithm, count - 1);
  if (leveling.windows == 0) {
    warn_parameter_count(keyword, count - 1);
    return exit_misuse;
  }
  if (leveling.algorithm->takes_method) {
    const char* name = words[count - 1];
    leveling.method = find_gray_method(name);
    if (!leveling.method) {
      warn_illegal_method(name);
      return exit_misuse;
    }
  }
  std::uint32_t* window[2] = {&leveling.window1, &leveling.window2};
  for (int i = 0; i < leveling.windows; ++i) {
    if (!parse_window(words[3 + i], *window[i])) {
      warn_illegal_window(words[3 + i]);
      return exit_misuse;
    }
  }
  ProgressLine line(std::string("Leveling ") + input);
  StreamSettings settings = options.stream;
  settings.progress = [&](std::size_t done, std::size_t total) { line.show(double(done) / double(total)); };
  const LevelingReport report = level_file(*reader, words[2], leveling, options.encoding, settings);
  if (report.channel_by_channel) warn_channel_by_channel();
  return exit_ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = options_from_environment();
  const int first = parse_options(argc, argv, options);
  if (first < 0) return exit_misuse;
  if (options.help) {
    print_help();
    return exit_ok;
  }
  if (options.version) {
    print_version();
    return exit_ok;
  }
  const int count = argc - first;  // the keyword and what follows it
  if (count < 1) {
    print_usage();
    return exit_ok;
  }
  if (count == 1) {
    warn_no_input_file();
    return exit_misuse;
  }
  try {
    return run(options, count, argv + first);
  } catch (const FileError& e) {
    report_error(e.what());
  } catch (const std::bad_alloc&) {
    report_error(std::string("not enough memory to level ") + argv[first + 1]);
  } catch (const std::exception& e) {
    report_error(std::string("cannot level ") + argv[first + 1] + ": " + e.what());
  }
  return exit_failure;
}

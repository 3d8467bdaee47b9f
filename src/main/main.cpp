// kelvane [options] {algorithm} {input} {output} {arg}*
//
// The run goes straight through: options, existence test of the input, keyword, argument
// count, gray method, window numbers, the input's header, then every page read, leveled and
// written by the library. A mistyped command line is answered before any picture library
// starts. A warning ends the run before anything is written; the exit status says whether an
// output was written (see exit_status.h).
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "kelvane/kelvane.h"
#include "leveling/algorithms.h"
#include "main/exit_status.h"
#include "main/folder_mode.h"
#include "main/messages.h"
#include "main/options.h"
#include "main/progress.h"
#include "leveling/window_arg.h"

namespace kelvane {
namespace {

bool input_missing(const char* path) {
  struct stat info;
  return ::stat(path, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool is_folder(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// A window of one pixel has the pixel's own statistics: with one window every pixel of a
// channel comes out alike, which is rarely what was meant. Percent windows are checked on
// the file's pages (a folder's pictures are not opened for it).
void note_windows_of_one_pixel(const Operation& operation, const Algorithm& algorithm, const File* file) {
  const std::uint32_t pixels[2] = {operation.window1, operation.window2};
  const double percent[2] = {operation.window1_percent, operation.window2_percent};
  for (int i = 0; i < operation.windows; ++i) {
    bool alone = percent[i] < 0 ? pixels[i] <= 1 : percent[i] == 0;
    if (percent[i] > 0 && file) {
      const WindowShare share = share_of_percent(percent[i]);
      for (std::size_t page = 0; page < file->pages(); ++page)
        alone = alone || window_of_share(share, file->width(page), file->height(page)) <= 1;
    }
    if (alone) note_pixel_alone(operation.windows == 1 ? 0 : i + 1, algorithm.takes_method);
  }
}

void show_progress(double fraction, void* line) { static_cast<ProgressLine*>(line)->show(fraction); }

// words: the keyword, the input, the output and the arguments.
int run(const CommandLine& command_line, int count, char** words) {
  const char* keyword = words[0];
  const char* input = words[1];
  if (input_missing(input)) {
    warn_missing_file(input);
    return exit_failure;
  }
  const Algorithm* algorithm = find_algorithm(keyword);
  if (!algorithm) {
    warn_illegal_function(keyword);
    return exit_misuse;
  }
  Operation operation;
  operation.algorithm = keyword;
  operation.level_alpha = command_line.level_alpha;
  operation.windows = window_count(*algorithm, count - 1);
  if (operation.windows == 0) {
    warn_parameter_count(keyword, count - 1);
    return exit_misuse;
  }
  if (algorithm->takes_method) {
    operation.method = words[count - 1];
    if (!find_gray_method(operation.method.c_str())) {
      warn_illegal_method(operation.method.c_str());
      return exit_misuse;
    }
  }
  std::uint32_t* window[2] = {&operation.window1, &operation.window2};
  double* percent[2] = {&operation.window1_percent, &operation.window2_percent};
  for (int i = 0; i < operation.windows; ++i) {
    WindowShare share = no_share;
    if (parse_window_share(words[3 + i], share)) *percent[i] = percent_of(share);
    else if (!parse_window(words[3 + i], *window[i])) {
      warn_illegal_window(words[3 + i]);
      return exit_misuse;
    }
  }
  operation.max_gain = command_line.max_gain;
  if (algorithm->family == Family::mean && !std::isinf(operation.max_gain)) note_gain_ignored(keyword);
  // The header only: every page's size is known before any pixel is decoded.
  std::unique_ptr<File> file;
  if (!is_folder(input)) file = std::make_unique<File>(input, command_line.options);
  note_windows_of_one_pixel(operation, *algorithm, file.get());
  if (!file)
    return level_folder(input, words[2], operation, command_line.options, command_line.folder,
                        command_line.progress_delay);
  if (!command_line.folder.format.empty() || command_line.folder.skip_existing) note_folder_options_ignored();
  ProgressLine line(std::string("Leveling ") + input, command_line.progress_delay);
  const Report report = level_file(*file, words[2], operation, command_line.options, show_progress, &line);
  if (report.channel_by_channel) warn_channel_by_channel();
  return exit_ok;
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
  using namespace kelvane;
  CommandLine command_line = command_line_from_environment();
  const int first = parse_options(argc, argv, command_line);
  if (first < 0) return exit_misuse;
  if (command_line.help) {
    print_help();
    return exit_ok;
  }
  if (command_line.version) {
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
    return run(command_line, count, argv + first);
  } catch (const Error& e) {
    report_error(e.what());
  } catch (const std::bad_alloc&) {
    report_error(std::string("not enough memory to level ") + argv[first + 1]);
  } catch (const std::exception& e) {
    report_error(std::string("cannot level ") + argv[first + 1] + ": " + e.what());
  }
  return exit_failure;
}

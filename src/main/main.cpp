// kelvane [options] {algorithm} {input} {output} {arg}*
//
// The run goes straight through: options, existence test of the input, keyword, argument
// count, gray method, window numbers, the input's header, then every page read, leveled and
// written by the library. A mistyped command line is answered before any picture library
// starts. A warning ends the run before anything is written; the exit status says whether an
// output was written (see exit_status.h).
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kelvane/kelvane.h"
#include "main/exit_status.h"
#include "main/folder_mode.h"
#include "main/messages.h"
#include "main/options.h"
#include "main/progress.h"
#include "main/signals.h"

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
void note_windows_of_one_pixel(const Operation& operation, const File* file) {
  std::vector<std::pair<std::size_t, std::size_t>> sizes;
  for (std::size_t page = 0; file && page < file->pages(); ++page) sizes.emplace_back(file->width(page), file->height(page));
  for (const std::string& note : notes_on(operation, sizes)) say_note(note);
}

// The operation of a keyword and its arguments (the words after the input and the output),
// or a warning and false.
bool operation_of(const char* keyword, int arguments, char** words, Operation& operation) {
  const std::vector<AlgorithmInfo> algorithms = algorithm_info();
  const auto algorithm = std::find_if(algorithms.begin(), algorithms.end(),
                                      [&](const AlgorithmInfo& a) { return a.name == keyword; });
  if (algorithm == algorithms.end()) {
    warn_illegal_function(keyword);
    return false;
  }
  // One window or two, and the gray method of the _fn algorithms.
  const int windows = arguments - (algorithm->takes_method ? 1 : 0);
  if (windows != 1 && windows != 2) {
    warn_parameter_count(keyword, arguments + 2);
    return false;
  }
  operation.algorithm = keyword;
  if (algorithm->takes_method) {
    operation.method = words[arguments - 1];
    const std::vector<std::string> methods = gray_methods();
    if (std::find(methods.begin(), methods.end(), operation.method) == methods.end()) {
      warn_illegal_method(operation.method.c_str());
      return false;
    }
  }
  for (int i = 0; i < windows; ++i) {
    try {
      const Window window = Window::parse(words[i]);
      if (i == 0) operation.window = window;
      else operation.window2 = window;
    } catch (const Error&) {
      warn_illegal_window(words[i]);
      return false;
    }
  }
  return true;
}

// words: the keyword, the input, the output and the arguments; with --preset, the input and
// the output only.
int run(const CommandLine& command_line, int count, char** words) {
  const bool preset = !command_line.preset.empty();
  if (preset && count != 2) {
    warn_preset_arguments(command_line.preset.c_str());
    return exit_misuse;
  }
  const char* input = preset ? words[0] : words[1];
  if (input_missing(input)) {
    warn_missing_file(input);
    return exit_failure;
  }
  Operation operation;
  if (preset) {
    for (const Preset& p : presets())
      if (p.name == command_line.preset) operation = p.operation;
    if (!std::isinf(command_line.max_gain)) operation.max_gain = command_line.max_gain;
  } else {
    if (!operation_of(words[0], count - 3, words + 3, operation)) return exit_misuse;
    operation.max_gain = command_line.max_gain;
  }
  const char* output = preset ? words[1] : words[2];
  operation.level_alpha = command_line.level_alpha;
  const std::vector<AlgorithmInfo> algorithms = algorithm_info();
  for (const AlgorithmInfo& a : algorithms)
    if (a.name == operation.algorithm && !a.stretches && !std::isinf(command_line.max_gain))
      note_gain_ignored(operation.algorithm.c_str());
  // The header only: every page's size is known before any pixel is decoded.
  std::unique_ptr<File> file;
  if (!is_folder(input)) file = std::make_unique<File>(input, command_line.options);
  note_windows_of_one_pixel(operation, file.get());
  if (!file)
    return level_folder(input, output, operation, command_line.options, command_line.folder,
                        command_line.progress_delay);
  if (!command_line.folder.format.empty() || command_line.folder.skip_existing) note_folder_options_ignored();
  ProgressLine line(std::string("Leveling ") + input, command_line.progress_delay);
  Options options = command_line.options;
  options.progress = [&line](double fraction) {
    line.show(fraction);
    return true;
  };
  const Report report = level_file(*file, output, operation, options);
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
  // An option after the keyword would be read as a picture or a window.
  for (int i = first; i < argc && !command_line.end_of_options; ++i)
    if (argv[i][0] == '-' && option_named(argv[i])) {
      warn_option_after_arguments(argv[i]);
      return exit_misuse;
    }
  if (count < 1) {
    print_usage();
    return exit_ok;
  }
  if (count == 1 && command_line.preset.empty()) {
    warn_no_input_file();
    return exit_misuse;
  }
  end_at_once_on_signals();
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

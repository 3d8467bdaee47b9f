// kelvane {algorithm} {input} {output} {arg}*
//
// The run goes straight through: existence test of the input, load, keyword, argument count,
// gray method, window numbers, leveling, save. A warning ends the run before anything is
// written; the exit status says whether an output was written (see exit_status.h).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "main/dispatch.h"
#include "main/exit_status.h"
#include "main/image_file.h"
#include "main/messages.h"
#include "main/window_arg.h"

namespace {

bool is_option(const char* arg, const char* short_name, const char* long_name) {
  return std::strcmp(arg, long_name) == 0 || (short_name && std::strcmp(arg, short_name) == 0);
}

bool input_exists(const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (!file) return false;
  std::fclose(file);
  return true;
}

int run(int argc, char** argv) {
  const char* keyword = argv[1];
  const char* input = argv[2];
  const char* output = argv[3];  // null when argc is 3: read only once the count is accepted
  if (!input_exists(input)) {
    warn_missing_file(input);
    return exit_failure;
  }
  Image image = load_unit_image(input);

  const Algorithm* algorithm = find_algorithm(keyword);
  if (!algorithm) {
    warn_illegal_function(keyword);
    return exit_misuse;
  }
  const int windows = window_count(*algorithm, argc - 2);
  if (windows == 0) {
    warn_parameter_count(keyword, argc - 2);
    return exit_misuse;
  }
  GrayMethod method = nullptr;
  if (algorithm->takes_method) {
    const char* name = argv[argc - 1];
    method = find_gray_method(name);
    if (!method) {
      warn_illegal_method(name);
      return exit_misuse;
    }
  }
  std::uint32_t window[2] = {0, 0};
  for (int i = 0; i < windows; ++i) {
    if (!parse_window(argv[4 + i], window[i])) {
      warn_illegal_window(argv[4 + i]);
      return exit_misuse;
    }
  }

  if (image.empty()) throw FileError(std::string("cannot level ") + input + ": it holds no pixels");
  check_output_format(output, image.depth);

  // A volume (a multi-page TIFF, say) is leveled slice by slice, each slice as a picture.
  Picture picture = image.picture();
  if (windows == 1) algorithm->one_window(picture, window[0], method);
  else algorithm->two_windows(picture, window[0], window[1], method);
  save_unit_image(image, output);
  return exit_ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage();
    return exit_ok;
  }
  if (is_option(argv[1], "-h", "--help")) {
    print_help();
    return exit_ok;
  }
  if (is_option(argv[1], nullptr, "--version")) {
    print_version();
    return exit_ok;
  }
  if (argc == 2) {
    warn_no_input_file();
    return exit_misuse;
  }
  try {
    return run(argc, argv);
  } catch (const FileError& e) {
    report_error(e.what());
  } catch (const std::bad_alloc&) {
    report_error(std::string("not enough memory to level ") + argv[2]);
  }
  return exit_failure;
}

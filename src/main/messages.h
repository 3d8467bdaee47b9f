#pragma once
// Everything the tool says. Usage, help and warnings go to standard output, one line each,
// flushed; errors go to standard error as one "Error: ..." line.
#include <string>

namespace kelvane {

void print_usage();
void print_help();
void print_version();

void warn_no_input_file();
void warn_missing_file(const char* path);
void warn_illegal_function(const char* keyword);
void warn_parameter_count(const char* keyword, int count);
void warn_illegal_method(const char* name);
void warn_illegal_window(const char* text);
void warn_unknown_option(const char* option);
void warn_illegal_option_value(const char* option, const char* value, const char* example);
void warn_option_takes_no_value(const char* option);
// An option among the picture arguments, where it would be taken for one of them.
void warn_option_after_arguments(const char* word);
void warn_channel_by_channel();
void warn_preset_arguments(const char* preset);
// The same for one picture of a folder.
void warn_channel_by_channel_of(const char* path);

// Notes on standard error: --max-gain given to mean; the library's notes on an operation.
void note_gain_ignored(const char* keyword);
void say_note(const std::string& note);

// --format or --skip-existing with a single picture, where they change nothing.
void note_folder_options_ignored();

// One line on standard output, flushed.
void say_line(const std::string& line);

void report_error(const std::string& message);

}  // namespace kelvane

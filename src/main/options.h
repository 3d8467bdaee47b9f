#pragma once
// The options that come before the algorithm keyword. One table drives their parsing and
// their lines in --help.
#include <limits>
#include <string>
#include <vector>

#include "kelvane/kelvane.h"
#include "main/folder_mode.h"

namespace kelvane {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool level_alpha = false;
  double max_gain = std::numeric_limits<double>::infinity();  // --max-gain; infinity: none
  Options options;  // threads, memory, encoding
  FolderChoices folder;
  double progress_delay = 2.0;  // seconds before a progress line appears
  std::string preset;  // --preset: the operation by name, in place of the keyword and its arguments
  bool end_of_options = false;  // "--" ended the options: every later word is an argument
};

// The settings the environment gives: KELVANE_THREADS, when it holds a positive number, for
// the threads (else the machine's cores); KELVANE_MEMORY_LIMIT_MB for the memory a run may use;
// KELVANE_PROGRESS_DELAY for the seconds before a progress line appears.
CommandLine command_line_from_environment();

struct OptionRule {
  const char* name;
  const char* alias;    // a short name, or null
  const char* value;    // the value's name in --help, or null for a flag
  const char* example;  // a good value, for the warning about a bad one
  const char* help;
  bool (*apply)(CommandLine& command_line, const char* value);  // false: the value is not accepted
};

extern const std::vector<OptionRule> option_rules;

// Reads the options at the front of the arguments (--name value or --name=value, up to "--"
// or the first word that is not one) and returns the index of the first argument. On a word
// that starts with '-' but is no option, or a value out of range, writes the warning and
// returns -1.
int parse_options(int argc, char** argv, CommandLine& command_line);

// The option a word names (--name, --name=value or its alias), or null.
const OptionRule* option_named(const char* word);

}  // namespace kelvane

#pragma once
// The options that come before the algorithm keyword. One table drives their parsing and
// their lines in --help.
#include <vector>

#include "files/picture_writer.h"
#include "stream/level_page.h"

struct Options {
  bool help = false;
  bool version = false;
  bool level_alpha = false;
  EncodingChoices encoding;
  StreamSettings stream;
};

// The settings the environment gives: KELVANE_THREADS, when it holds a positive number, for
// the threads (else the machine's cores).
Options options_from_environment();

struct OptionSpec {
  const char* name;
  const char* alias;    // a short name, or null
  const char* value;    // the value's name in --help, or null for a flag
  const char* example;  // a good value, for the warning about a bad one
  const char* help;
  bool (*apply)(Options& options, const char* value);  // false: the value is not accepted
};

extern const std::vector<OptionSpec> option_specs;

// Reads the options at the front of the arguments and returns the index of the first word
// that is not one. On a word that starts with '-' but is no option, or a value out of range,
// writes the warning and returns -1.
int parse_options(int argc, char** argv, Options& options);

#pragma once
// Other programs, run to make test files and to read kelvane's outputs as their users would:
// ImageMagick, libtiff's tools, cwebp, exiftool, Debian's Python with PIL and astropy.
#include <string>

struct ProgramRun {
  int status = -1;
  std::string output;  // standard output and error
};

// Runs a command through /bin/sh. Fails the test if the program is not installed.
ProgramRun run_program(const std::string& command);

// Runs a Python program with Debian's /usr/bin/python3.
ProgramRun run_python(const std::string& program);

// A path quoted for the shell.
std::string quoted(const std::string& path);

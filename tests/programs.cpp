#include "programs.h"

#include <sys/wait.h>

#include <cstdio>

#include <gtest/gtest.h>

ProgramRun run_program(const std::string& command) {
  ProgramRun run;
  std::FILE* pipe = ::popen(("(" + command + ") 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  EXPECT_NE(127, run.status) << "not installed (scripts/setup installs it): " << command;
  return run;
}

std::string quoted(const std::string& path) {
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

ProgramRun run_python(const std::string& program) { return run_program("/usr/bin/python3 -c " + quoted(program)); }

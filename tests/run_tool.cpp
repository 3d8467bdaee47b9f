#include "run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {
std::string slurp(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}
}  // namespace

ToolRun run_tool(const std::vector<std::string>& args, long file_size_limit) {
  char out_name[] = "/tmp/kelvane-out-XXXXXX", err_name[] = "/tmp/kelvane-err-XXXXXX";
  const int out_fd = ::mkstemp(out_name), err_fd = ::mkstemp(err_name);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (file_size_limit > 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(KELVANE_BINARY));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(KELVANE_BINARY, argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(out_fd);
  ::close(err_fd);
  ToolRun run;
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  else run.signal = WTERMSIG(status);
  run.out = slurp(out_name);
  run.err = slurp(err_name);
  ::unlink(out_name);
  ::unlink(err_name);
  return run;
}

#include "run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "files.h"

void reset_signals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) ::signal(s, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

ToolRun run_tool(const std::vector<std::string>& args, const RunLimits& limits) {
  char out_name[] = "/tmp/kelvane-out-XXXXXX", err_name[] = "/tmp/kelvane-err-XXXXXX";
  const int out_fd = ::mkstemp(out_name), err_fd = ::mkstemp(err_name);
  const pid_t pid = ::fork();
  if (pid == 0) {
    reset_signals();
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (limits.file_size > 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(limits.file_size), static_cast<rlim_t>(limits.file_size)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (limits.address_space > 0) {
      const rlimit limit{static_cast<rlim_t>(limits.address_space), static_cast<rlim_t>(limits.address_space)};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    for (const auto& setting : limits.env) ::putenv(const_cast<char*>(setting.c_str()));
    if (!limits.directory.empty() && ::chdir(limits.directory.c_str()) != 0) ::_exit(126);
    if (limits.as_nobody && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    const char* binary = limits.binary.empty() ? KELVANE_BINARY : limits.binary.c_str();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(binary, argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(out_fd);
  ::close(err_fd);
  ToolRun run;
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  else run.signal = WTERMSIG(status);
  run.out = read_file(out_name);
  run.err = read_file(err_name);
  ::unlink(out_name);
  ::unlink(err_name);
  return run;
}

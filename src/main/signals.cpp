#include "main/signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "kelvane/kelvane.h"

namespace kelvane {

namespace {

std::atomic<int> requested{0};

// Ends the process by the signal itself, as the shell expects of an interrupted program:
// from a handler, where the signal is blocked, it is let through first.
[[noreturn]] void die(int signal) {
  forget_unfinished_outputs();
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

void on_signal_at_once(int signal) { die(signal); }

void on_signal_gently(int signal) {
  int none = 0;
  if (!requested.compare_exchange_strong(none, signal)) die(signal);
}

void install(void (*handler)(int)) {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(s, &action, nullptr);
  }
}

}  // namespace

void end_at_once_on_signals() { install(on_signal_at_once); }

void stop_gently_on_signals() { install(on_signal_gently); }

int stop_requested() { return requested.load(); }

void end_by_signal(int signal) { die(signal); }

}  // namespace kelvane

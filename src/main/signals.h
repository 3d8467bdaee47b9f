#pragma once
// What SIGINT, SIGTERM and SIGHUP do to a run. Signals the caller ignores (nohup) stay ignored.

namespace kelvane {

// One picture: the run ends at once, its unfinished output removed.
void end_at_once_on_signals();

// A folder: the first signal asks the run to stop, so that it can say how far it got; a
// second ends it at once.
void stop_gently_on_signals();

// The signal that asked the run to stop, or 0.
int stop_requested();

// Ends the process as that signal would have, once the run has said how far it got.
[[noreturn]] void end_by_signal(int signal);

}  // namespace kelvane

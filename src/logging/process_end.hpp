#pragma once

#include <vector>

// What happens to buffered log lines when the process ends or forks. While a
// process runs, lines below warn wait in the log file's buffer for up to 3
// seconds; these hooks write them out at every end that can be caught:
//
// - Exit: flush_at_exit(), for an exit hook of the interpreter (Python runs
//   it on every end of its own, KeyboardInterrupt included, where C++ static
//   destructors may never run).
// - Fatal signals: SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE
//   and SIGILL. The handler writes the buffer with async-signal-safe calls,
//   never waits on a lock the interrupted thread may hold (it gives up
//   instead), then lets the process end exactly as it would have: the default
//   action again (same signal, same exit status, a core where there would be
//   one), or the handler that was installed before, called in turn.
// - Fork: the buffer is written out before fork() and the locks a log call
//   takes are held across it, so no line is written by both processes and
//   the child never inherits a lock held by the flusher thread. The child
//   drops the parent's periodic flusher (its thread does not exist there)
//   and writes each line at once, so its lines reach the file even when it
//   ends with _exit().
//
// Not caught: SIGKILL and power loss. Lines still in the buffer (at most its
// 8 KiB, or 3 seconds of lines) are lost on SIGKILL; on power loss also what
// the kernel had not yet written to the device.
namespace logging {

class LogFileSink;

// The signals whose default action is to end the process and whose end is
// worth a flush; the ones install_signal_flush() considers.
extern const std::vector<int> flushed_signals;

// Makes `sink` the one the hooks write out, from init() once the logger is
// installed. The first call registers the fork handlers, for the rest of the
// process.
void attach_process_end(LogFileSink* sink);
// Stops the hooks from using the sink, before shutdown_logging() destroys it;
// waits for a signal handler that is using it.
void detach_process_end() noexcept;

// Writes out what the process logger still buffers. Harmless when logging is
// not running.
void flush_at_exit() noexcept;

// Installs the flush for each of flushed_signals whose disposition is the
// default or a handler installed earlier (such as Python's faulthandler),
// which is then chained; ignored signals and those in `leave_alone` (the
// program's own handlers) are left as they are. A handler the program sets
// later replaces the flush, as usual.
void install_signal_flush(const std::vector<int>& leave_alone);
// Puts back every disposition install_signal_flush() replaced, where the flush
// is still installed (a handler set since stays).
void restore_signal_dispositions() noexcept;

}  // namespace logging

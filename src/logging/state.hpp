#pragma once

#include <chrono>

// Process-wide and per-thread state shared by the logging subsystem. The
// process-wide objects are constant-initialised, so they hold their initial
// values before any code of the module runs. They are plain (not atomic): their
// writers are called from Python with the interpreter lock held.
namespace logging {

// Set at the start of init(), cleared at the end of shutdown_logging() (and
// when init() fails before the logger is installed).
extern bool logging_initialized;
// Set by shutdown_logging() and never cleared: filtered logging stays off for
// the rest of the process.
extern bool logging_shut_down;
// Origin of the elapsed-time column; only meaningful once timer_started is set.
extern std::chrono::steady_clock::time_point timer_start;
extern bool timer_started;

// The source path of the line being written on this thread. Points at an empty
// text except while log_with_source_file() writes; it never owns what it
// points at.
extern thread_local const char* current_source_file;

// Restarts the elapsed-time column from zero. Works in every logging state.
void initialize_timer();

// True while the process logger is up: initialised, not shut down, and spdlog
// holds a default logger. Reads the flags without a lock.
bool logger_ready() noexcept;

}  // namespace logging

#pragma once

// Creation and tear-down of the process logger "core": a colour console sink
// on standard output and the log file sink (LogFileSink) writing
// ".vantrel/logs/korvex.log" below the working directory of init(), made
// absolute then (5 MiB, 3 rotated files, appended to on open), both with the line pattern
// "%Y-%m-%d %H:%M:%S | %E | %^%-8l%$ | %* | %v". spdlog's registry owns the
// logger, its sinks and the 3-second periodic flusher.
namespace logging {

// Does nothing when already initialised. Otherwise marks logging initialised,
// restarts the timer, builds and installs the logger as spdlog's default, starts
// the periodic flusher, connects the file sink to the ends of the process
// (exit, fork, fatal signals: see process_end.hpp; the signal flush itself is
// installed by the caller) and writes "Logging to directory: <abs dir>" at info.
// Throws std::filesystem::filesystem_error when the working directory cannot
// be read or the log directory made, and spdlog::spdlog_ex when the file
// cannot be opened; on such a failure it
// undoes its own work (not initialised, timer origin as before, nothing
// registered), so a later call tries again. Standard descriptors 0-2 that are
// closed are pointed at /dev/null first, so the log file never takes their
// place.
void init();

// Marks logging shut down for good, puts back the signal dispositions the
// flush replaced, lets spdlog stop the flusher and drop every logger (closing
// and flushing the file), then clears the initialised flag.
// Harmless before init() and when called twice.
void shutdown_logging();

}  // namespace logging

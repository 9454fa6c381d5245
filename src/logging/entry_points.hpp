#pragma once

#include <spdlog/logger.h>
#include <memory>
#include <string_view>

#include "logging/levels.hpp"

// The write paths behind the Python log functions.
namespace logging {

// The logger registered as "core", looked up on every call. Throws
// std::runtime_error("logging::init() must be called before using
// logging::core()") when there is none.
std::shared_ptr<spdlog::logger> core();

// Writes `message` literally (never as a format string) to core() at `level`,
// with no source file: the source column stays blank. Throws like core().
void log_plain(spdlog::level::level_enum level, std::string_view message);

// Writes `message` literally to the default logger at to_spdlog_level(level)
// with `filepath` shown in the source column; a null path counts as empty.
// Does nothing unless the logger is ready. The thread's current_source_file is
// restored to the empty text however the write ends, so the caller's path is
// never read after the call. Callers must not race shutdown_logging() (from
// Python the interpreter lock orders them).
void log_with_source_file(Level level, const char* filepath, std::string_view message);

}  // namespace logging

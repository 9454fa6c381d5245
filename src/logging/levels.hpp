#pragma once

#include <spdlog/common.h>
#include <cstdint>
#include <string>

// Severity levels and the filter registry that decides whether a message from
// a given source file is written. All registry operations lock one mutex, never
// throw and never validate; their settings survive init and shut-down.
namespace logging {

// Same numbers as spdlog's levels. Values outside 0..6 can arrive from Python
// and are compared as plain integers.
enum class Level : std::int32_t {
    trace = 0,
    debug = 1,
    info = 2,
    warn = 3,
    error = 4,
    critical = 5,
    off = 6,
};

// One per-package threshold: applies to every path containing `substring`.
struct PackageLevel {
    std::string substring;
    Level level;
};

// 0..6 map to spdlog's level of the same number; anything else to info.
spdlog::level::level_enum to_spdlog_level(Level level) noexcept;

// Threshold used when neither a file nor a package entry matches (initially info).
void set_global_level(Level level);
// Threshold for one file basename; the key is matched verbatim (case-sensitive,
// a key containing a separator never matches).
void set_file_level(const std::string& filename, Level level);
void clear_file_level(const std::string& filename);
// Replaces the level of an existing entry in place, else appends: the first
// matching entry in insertion order decides.
void set_package_level(const std::string& package, Level level);
void clear_package_level(const std::string& package);
// Empties the file and package tables and resets the global threshold to info.
void clear_filters();

// False at once unless the process logger is ready. Otherwise the threshold is
// the file entry of the path's basename (split at '/' and '\'), else the first
// package entry whose substring occurs in the full path, else the global one;
// returns level >= threshold as signed integers. `filepath` must not be null.
bool is_enabled_for(Level level, const char* filepath);

}  // namespace logging

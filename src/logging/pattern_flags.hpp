#pragma once

#include <spdlog/pattern_formatter.h>
#include <optional>
#include <string>
#include <string_view>

// The two custom pattern flags of the log line: %E, seconds since the timer
// started, and %*, a compact form of this thread's current source file. Both
// append straight into spdlog's line buffer and ignore any width given in the
// pattern: they pad themselves.
namespace logging {

// %E: whole milliseconds since timer_start as "{:>9.3f}s" (ten characters,
// wider from 100000 s on). Reads the steady clock when the field is formatted.
// Before any timer start: "    0.000s".
class ElapsedTimeFormatter final : public spdlog::custom_flag_formatter {
  public:
    void format(const spdlog::details::log_msg& msg, const std::tm& tm_time,
                spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::custom_flag_formatter> clone() const override;
};

// %*: the short form of current_source_file, padded with spaces to at least 30
// characters (all spaces when no source file is set); longer forms are kept whole.
class SourceFileFormatter final : public spdlog::custom_flag_formatter {
  public:
    void format(const spdlog::details::log_msg& msg, const std::tm& tm_time,
                spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::custom_flag_formatter> clone() const override;
};

// `path` with '\' turned into '/' and, when it is absolute and lies inside the
// project root, made relative to it ("." for the root itself). The root is
// searched once per process, on the first absolute path, and cached for good.
// A null path counts as empty.
std::string relative_to_project_root(const char* path);

// Appends the compact form of `path` to `dest`: after the first "korvex/" the
// directories as initials and the file name whole, dotted; for "korvex-X..."
// "X." and the base name; else abbreviate_path(). Uses the cached project root.
// An initial is the first whole UTF-8 character ("ü", not half of it); a byte
// that starts no complete sequence is taken alone.
void shorten_source_path(std::string_view path, spdlog::memory_buf_t& dest);

// Appends `path` with every directory element before the last '/' cut to its
// first (whole UTF-8) character and a '.' (empty and "." elements are skipped), then the text
// after the last '/'. A path without '/' is appended whole.
void abbreviate_path(std::string_view path, spdlog::memory_buf_t& dest);

// Appends a whole number of milliseconds as "{:>9.3f}s" of seconds would
// show it: right-aligned in nine characters, three decimals, then 's'.
void append_elapsed(long long milliseconds, spdlog::memory_buf_t& dest);

namespace detail {

// The shortening rules for a given project root (no value or empty: paths are
// never made relative). shorten_source_path() is this with the cached root.
void shorten_source_path(std::string_view path, const std::optional<std::string>& root,
                         spdlog::memory_buf_t& dest);

}  // namespace detail

}  // namespace logging

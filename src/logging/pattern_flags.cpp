#include "logging/pattern_flags.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "logging/project_root.hpp"
#include "logging/state.hpp"

namespace logging {

namespace {

constexpr std::string_view kPackageMarker = "korvex/";
constexpr std::string_view kModuleMarker = "korvex-";
constexpr std::size_t kSourceColumnWidth = 30;
constexpr std::string_view kElapsedFallback = "    0.000s";
constexpr std::string_view kSpaces = "                              ";
static_assert(kSpaces.size() == kSourceColumnWidth);

// Paths up to this length are rewritten on the stack; only longer ones allocate.
using PathBuffer = fmt::basic_memory_buffer<char, 256>;

void append(spdlog::memory_buf_t& dest, std::string_view text) {
    dest.append(text.data(), text.data() + text.size());
}

// The project root, searched from the working directory of the first absolute
// path that is formatted and kept for the rest of the process, even when it
// has no value. The function-local static makes the first use thread-safe.
const std::optional<std::string>& cached_project_root() {
    static const std::optional<std::string> root = find_project_root();
    return root;
}

// Step 1 of the relative form: a copy with '/' for every '\'.
std::string_view to_generic(std::string_view path, PathBuffer& buffer) {
    buffer.clear();
    buffer.append(path.data(), path.data() + path.size());
    std::replace(buffer.begin(), buffer.end(), '\\', '/');
    return std::string_view(buffer.data(), buffer.size());
}

// `generic` is already '/'-separated. The root is only consulted (and, for the
// cached root, only searched) for absolute paths.
template <typename RootSource>
std::string_view relative_to(std::string_view generic, RootSource&& root_source) {
    if (generic.empty() || generic.front() != '/') {
        return generic;
    }
    const std::optional<std::string>& root = root_source();
    if (!root || root->empty()) {
        return generic;
    }
    const std::string_view r = *root;
    if (generic.size() > r.size() && generic.compare(0, r.size(), r) == 0 &&
        generic[r.size()] == '/') {
        return generic.substr(r.size() + 1);
    }
    if (generic == r) {
        return ".";
    }
    return generic;
}

// The initial of a non-empty text: its first character whole, so an initial
// never cuts a UTF-8 sequence in half and the log stays valid UTF-8. A byte
// that does not start a complete sequence stands alone, as any other byte.
std::string_view first_character(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    const std::size_t length = lead < 0xC2   ? 1
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 1;
    if (length > text.size()) {
        return text.substr(0, 1);
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return text.substr(0, 1);
        }
    }
    return text.substr(0, length);
}

// Package rule: the elements after the marker, directories as initials.
void append_dotted(std::string_view rest, spdlog::memory_buf_t& dest) {
    bool first = true;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const bool is_directory = slash != std::string_view::npos;
        const std::string_view element = is_directory ? rest.substr(0, slash) : rest;
        rest = is_directory ? rest.substr(slash + 1) : std::string_view{};
        if (element.empty()) {
            continue;
        }
        if (!first) {
            dest.push_back('.');
        }
        first = false;
        append(dest, is_directory ? first_character(element) : element);
    }
}

std::string_view basename_of(std::string_view path) {
    const auto last = path.rfind('/');
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

void shorten_relative(std::string_view s, spdlog::memory_buf_t& dest) {
    if (const auto pos = s.find(kPackageMarker); pos != std::string_view::npos) {
        append_dotted(s.substr(pos + kPackageMarker.size()), dest);
        return;
    }
    if (const auto pos = s.find(kModuleMarker); pos != std::string_view::npos) {
        const auto next = pos + kModuleMarker.size();
        if (next < s.size() && s[next] != '/') {
            append(dest, first_character(s.substr(next)));
            dest.push_back('.');
            append(dest, basename_of(s));
            return;
        }
    }
    abbreviate_path(s, dest);
}

void pad_column(spdlog::memory_buf_t& dest, std::size_t start) {
    const std::size_t written = dest.size() - start;
    if (written < kSourceColumnWidth) {
        append(dest, kSpaces.substr(0, kSourceColumnWidth - written));
    }
}

}  // namespace

void append_elapsed(long long milliseconds, spdlog::memory_buf_t& dest) {
    // "{:>9.3f}s" of milliseconds / 1000.0, with integer digits: the three
    // decimals of a whole number of milliseconds are exact, so the text is the
    // same as the floating-point one (for any elapsed time below 10^12 s), at
    // a fraction of its cost on every line.
    char text[32];
    char* at = text + sizeof text;
    *--at = 's';
    const bool negative = milliseconds < 0;
    unsigned long long rest = negative ? 0ULL - static_cast<unsigned long long>(milliseconds)
                                       : static_cast<unsigned long long>(milliseconds);
    for (int i = 0; i < 3; ++i, rest /= 10) {
        *--at = static_cast<char>('0' + rest % 10);
    }
    *--at = '.';
    do {
        *--at = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative) {
        *--at = '-';
    }
    constexpr std::ptrdiff_t kWidth = 10;  // nine for the number, one for the s
    while (text + sizeof text - at < kWidth) {
        *--at = ' ';
    }
    dest.append(at, text + sizeof text);
}

void ElapsedTimeFormatter::format(const spdlog::details::log_msg&, const std::tm&,
                                  spdlog::memory_buf_t& dest) {
    if (!timer_started) {
        append(dest, kElapsedFallback);
        return;
    }
    using namespace std::chrono;
    const auto nanos = duration_cast<nanoseconds>(steady_clock::now() - timer_start).count();
    // Whole milliseconds first, so 2.9996 s reads 2.999s and never rounds up.
    append_elapsed(nanos / 1000000, dest);
}

std::unique_ptr<spdlog::custom_flag_formatter> ElapsedTimeFormatter::clone() const {
    return std::make_unique<ElapsedTimeFormatter>();
}

void SourceFileFormatter::format(const spdlog::details::log_msg&, const std::tm&,
                                 spdlog::memory_buf_t& dest) {
    const std::size_t start = dest.size();
    const char* path = current_source_file;
    if (path != nullptr && *path != '\0') {
        // The short form depends only on the path's bytes (the project root,
        // once found, never changes), so the last one is kept per thread: a
        // loop logging from one file, and the second sink of every line,
        // copy it instead of shortening the path again.
        struct LastForm {
            std::string path;
            std::string form;  // padded to the column's width
        };
        thread_local LastForm last;
        // One pass over the path, ending at the first difference. The form
        // is kept padded, so a repeated path costs one copy.
        if (std::strcmp(path, last.path.c_str()) == 0) {
            append(dest, last.form);
            return;
        }
        const std::string_view text(path);
        shorten_source_path(text, dest);
        pad_column(dest, start);
        last.path.assign(text);
        last.form.assign(dest.data() + start, dest.size() - start);
        return;
    }
    pad_column(dest, start);
}

std::unique_ptr<spdlog::custom_flag_formatter> SourceFileFormatter::clone() const {
    return std::make_unique<SourceFileFormatter>();
}

std::string relative_to_project_root(const char* path) {
    PathBuffer buffer;
    const std::string_view generic = to_generic(path ? path : "", buffer);
    return std::string(relative_to(generic, cached_project_root));
}

void shorten_source_path(std::string_view path, spdlog::memory_buf_t& dest) {
    PathBuffer buffer;
    shorten_relative(relative_to(to_generic(path, buffer), cached_project_root), dest);
}

void abbreviate_path(std::string_view path, spdlog::memory_buf_t& dest) {
    const auto last = path.rfind('/');
    if (last == std::string_view::npos) {
        append(dest, path);
        return;
    }
    std::string_view dirs = path.substr(0, last);
    while (true) {
        const auto slash = dirs.find('/');
        const std::string_view element = dirs.substr(0, slash);
        if (!element.empty() && element != ".") {
            append(dest, first_character(element));
            dest.push_back('.');
        }
        if (slash == std::string_view::npos) {
            break;
        }
        dirs = dirs.substr(slash + 1);
    }
    append(dest, path.substr(last + 1));
}

namespace detail {

void shorten_source_path(std::string_view path, const std::optional<std::string>& root,
                         spdlog::memory_buf_t& dest) {
    PathBuffer buffer;
    shorten_relative(relative_to(
                         to_generic(path, buffer), [&]() -> const auto& { return root; }),
                     dest);
}

}  // namespace detail

}  // namespace logging

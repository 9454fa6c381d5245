// libFuzzer target: the path-shortening rules on arbitrary bytes. Checks the
// invariants that hold for every input: no crash or out-of-bounds access
// (the sanitizers watch), the relative form never contains '\', the source
// column is at least 30 characters wide, abbreviating never grows a path, and
// shortening grows it by at most five bytes (the module rule's "X." in front
// of a base name that is the whole path, X being one character of up to four
// UTF-8 bytes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "logging/pattern_flags.hpp"
#include "logging/state.hpp"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The first byte picks a project root, the rest is the path.
    static const std::optional<std::string> roots[] = {
        std::nullopt, std::string(""), std::string("/"), std::string("/home/u/bot"),
        std::string("C:/work"), std::string("/a/korvex"),
    };
    const auto& root = roots[size == 0 ? 0 : data[0] % 6];
    const std::string path = size == 0 ? input : input.substr(1);

    spdlog::memory_buf_t out;
    logging::detail::shorten_source_path(path, root, out);
    check(out.size() <= path.size() + 5);

    out.clear();
    logging::abbreviate_path(path, out);
    check(out.size() <= path.size());

    const std::string nul_terminated = path.substr(0, path.find('\0'));
    const std::string relative = logging::relative_to_project_root(nul_terminated.c_str());
    check(relative.find('\\') == std::string::npos);

    logging::SourceFileFormatter formatter;
    spdlog::details::log_msg msg(spdlog::source_loc{}, "core", spdlog::level::info, "m");
    std::tm tm{};
    out.clear();
    logging::current_source_file = nul_terminated.c_str();
    formatter.format(msg, tm, out);
    logging::current_source_file = "";
    check(out.size() >= 30);
    return 0;
}

#include "logging/project_root.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace logging {

namespace {

namespace fs = std::filesystem;

constexpr const char* kMarkers[] = {".git", "vantrel.project.yml", ".vantrel"};

bool entry_exists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    return !ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
}

bool holds_marker(const fs::path& dir) {
    return std::any_of(std::begin(kMarkers), std::end(kMarkers),
                       [&](const char* marker) { return entry_exists(dir / marker); });
}

std::string generic_text(const fs::path& path) {
    std::string text = path.native();
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

}  // namespace

std::optional<std::string> find_project_root() {
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (ec) {
        return std::nullopt;
    }
    const fs::path start = cwd.lexically_normal();
    fs::path candidate = start;
    while (!candidate.empty()) {
        if (holds_marker(candidate)) {
            return generic_text(candidate);
        }
        // The root is searched too; its parent is itself, which ends the walk.
        if (candidate == candidate.root_path()) {
            break;
        }
        candidate = candidate.parent_path();
    }
    return generic_text(start);
}

}  // namespace logging

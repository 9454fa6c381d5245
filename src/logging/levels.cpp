#include "logging/levels.hpp"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "logging/package_index.hpp"
#include "logging/state.hpp"

namespace logging {

namespace {

// One mutex guards everything below. filter_mutex and global_level are
// constant-initialised; the containers start empty.
std::mutex filter_mutex;
Level global_level = Level::info;
std::unordered_map<std::string, Level> file_levels;
std::vector<PackageLevel> package_levels;
PackageIndex package_index;
// Reused key for basename lookups, so a query allocates nothing once warm.
std::string lookup_key;

std::string_view basename_of(std::string_view path) {
    std::size_t start = path.size();
    while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\') {
        --start;
    }
    return path.substr(start);
}

Level threshold_for(std::string_view path) {
    if (!file_levels.empty()) {
        lookup_key.assign(basename_of(path));
        if (const auto it = file_levels.find(lookup_key); it != file_levels.end()) {
            return it->second;
        }
    }
    if (!package_levels.empty()) {
        if (const auto i = package_index.first_match(package_levels, path);
            i != PackageIndex::kNoEntry) {
            return package_levels[i].level;
        }
    }
    return global_level;
}

}  // namespace

spdlog::level::level_enum to_spdlog_level(Level level) noexcept {
    const auto value = static_cast<std::int32_t>(level);
    if (value < 0 || value > static_cast<std::int32_t>(Level::off)) {
        return spdlog::level::info;
    }
    return static_cast<spdlog::level::level_enum>(value);
}

void set_global_level(Level level) {
    std::lock_guard<std::mutex> lock(filter_mutex);
    global_level = level;
}

void set_file_level(const std::string& filename, Level level) {
    std::lock_guard<std::mutex> lock(filter_mutex);
    file_levels[filename] = level;
}

void clear_file_level(const std::string& filename) {
    std::lock_guard<std::mutex> lock(filter_mutex);
    file_levels.erase(filename);
}

void set_package_level(const std::string& package, Level level) {
    std::lock_guard<std::mutex> lock(filter_mutex);
    for (auto& entry : package_levels) {
        if (entry.substring == package) {
            entry.level = level;
            return;
        }
    }
    package_levels.push_back(PackageLevel{package, level});
    package_index.rebuild(package_levels);
}

void clear_package_level(const std::string& package) {
    std::lock_guard<std::mutex> lock(filter_mutex);
    auto& entries = package_levels;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const PackageLevel& e) { return e.substring == package; }),
                  entries.end());
    package_index.rebuild(entries);
}

void clear_filters() {
    std::lock_guard<std::mutex> lock(filter_mutex);
    file_levels.clear();
    package_levels.clear();
    package_index.rebuild(package_levels);
    global_level = Level::info;
}

bool is_enabled_for(Level level, const char* filepath) {
    if (!logger_ready()) {
        return false;
    }
    const std::string_view path(filepath);
    Level threshold;
    {
        std::lock_guard<std::mutex> lock(filter_mutex);
        threshold = threshold_for(path);
    }
    return static_cast<std::int32_t>(level) >= static_cast<std::int32_t>(threshold);
}

}  // namespace logging

#include "logging/levels.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "logging/state.hpp"

namespace logging {

namespace {

constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

// Finds the first package entry (in insertion order) whose substring occurs in
// a path, in one pass over the path instead of one substring search per
// entry. Rebuilt from package_levels whenever that list changes.
class PackageIndex {
  public:
    void rebuild(const std::vector<PackageLevel>& entries) {
        starts_.fill(false);
        single_.fill(kNoEntry);
        pairs_.reset();
        for (auto& bucket : by_first_byte_) {
            bucket.clear();
        }
        empty_entry_ = kNoEntry;
        only_start_ = -1;
        int distinct_starts = 0;
        // Substrings are unique, so there is at most one empty entry and at
        // most one single-byte entry per byte.
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string& text = entries[i].substring;
            if (text.empty()) {
                empty_entry_ = i;
                continue;
            }
            const auto first = static_cast<unsigned char>(text[0]);
            if (!starts_[first]) {
                ++distinct_starts;
                only_start_ = first;
            }
            starts_[first] = true;
            if (text.size() == 1) {
                single_[first] = i;
                continue;
            }
            pairs_.set(pair(first, static_cast<unsigned char>(text[1])));
            by_first_byte_[first].push_back(i);  // ascending, since i grows
        }
        if (distinct_starts != 1) {
            only_start_ = -1;
        }
    }

    // Index of the first entry occurring in `path`, or kNoEntry.
    std::size_t first_match(const std::vector<PackageLevel>& entries, std::string_view path) const {
        std::size_t best = empty_entry_;  // the empty substring occurs everywhere
        const char* data = path.data();
        const std::size_t size = path.size();
        if (only_start_ >= 0) {
            // Typical set-up: every entry starts with the same byte ("korvex...").
            // memchr jumps from one candidate position to the next.
            const char wanted = static_cast<char>(only_start_);
            const char* at = data;
            const char* const end = data + size;
            while (best != 0 && (at = static_cast<const char*>(std::memchr(
                                     at, wanted, static_cast<std::size_t>(end - at)))) != nullptr) {
                best =
                    check_position(entries, data, size, static_cast<std::size_t>(at - data), best);
                ++at;
            }
            return best;
        }
        for (std::size_t pos = 0; pos < size && best != 0; ++pos) {
            if (starts_[static_cast<unsigned char>(data[pos])]) {
                best = check_position(entries, data, size, pos, best);
            }
        }
        return best;
    }

  private:
    // The best entry index after looking at the entries that start at `pos`,
    // whose first byte is known to start some entry.
    std::size_t check_position(const std::vector<PackageLevel>& entries, const char* data,
                               std::size_t size, std::size_t pos, std::size_t best) const {
        const auto byte = static_cast<unsigned char>(data[pos]);
        best = std::min(best, single_[byte]);
        if (pos + 1 == size ||
            !pairs_.test(pair(byte, static_cast<unsigned char>(data[pos + 1])))) {
            return best;
        }
        for (const std::size_t i : by_first_byte_[byte]) {
            if (i >= best) {
                break;
            }
            if (occurs_at(entries[i].substring, data + pos, size - pos)) {
                return i;
            }
        }
        return best;
    }

    static std::size_t pair(unsigned char first, unsigned char second) {
        return first | (static_cast<std::size_t>(second) << 8);
    }

    static bool occurs_at(const std::string& needle, const char* at, std::size_t left) {
        const std::size_t n = needle.size();
        // Sibling packages usually share a prefix ("korvex/..."): testing the
        // last byte first rejects them without walking that prefix.
        if (n > left || at[n - 1] != needle[n - 1]) {
            return false;
        }
        // Only the first byte is known to match: the pair filter says that some
        // entry starting with this byte has this second byte, not that this one does.
        std::size_t j = 1;
        while (j < n && at[j] == needle[j]) {
            ++j;
        }
        return j == n;
    }

    std::array<bool, 256> starts_{};
    std::array<std::size_t, 256> single_{};
    std::bitset<65536> pairs_;
    std::array<std::vector<std::size_t>, 256> by_first_byte_;
    std::size_t empty_entry_ = kNoEntry;
    int only_start_ = -1;  // the one first byte of all non-empty entries, or -1
};

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
        if (const auto i = package_index.first_match(package_levels, path); i != kNoEntry) {
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

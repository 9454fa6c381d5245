#include "logging/package_index.hpp"

#include <algorithm>
#include <cstring>

namespace logging {

namespace {

std::size_t pair(unsigned char first, unsigned char second) {
    return first | (static_cast<std::size_t>(second) << 8);
}

bool occurs_at(const std::string& needle, const char* at, std::size_t left) {
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

}  // namespace

void PackageIndex::rebuild(const std::vector<PackageLevel>& entries) {
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

std::size_t PackageIndex::first_match(const std::vector<PackageLevel>& entries,
                                      std::string_view path) const {
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
            best = check_position(entries, data, size, static_cast<std::size_t>(at - data), best);
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

// The best entry index after looking at the entries that start at `pos`,
// whose first byte is known to start some entry.
std::size_t PackageIndex::check_position(const std::vector<PackageLevel>& entries, const char* data,
                                         std::size_t size, std::size_t pos,
                                         std::size_t best) const {
    const auto byte = static_cast<unsigned char>(data[pos]);
    best = std::min(best, single_[byte]);
    if (pos + 1 == size || !pairs_.test(pair(byte, static_cast<unsigned char>(data[pos + 1])))) {
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

}  // namespace logging

#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "logging/levels.hpp"

namespace logging {

// Finds the first package entry (in insertion order) whose substring occurs in
// a path, in one pass over the path instead of one substring search per
// entry. It holds positions into the entry list it was built from, so it is
// rebuilt whenever that list changes, under the same lock.
class PackageIndex {
  public:
    static constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

    void rebuild(const std::vector<PackageLevel>& entries);

    // Index of the first entry of `entries` (the list last given to rebuild)
    // occurring in `path`, or kNoEntry.
    std::size_t first_match(const std::vector<PackageLevel>& entries, std::string_view path) const;

  private:
    std::size_t check_position(const std::vector<PackageLevel>& entries, const char* data,
                               std::size_t size, std::size_t pos, std::size_t best) const;

    std::array<bool, 256> starts_{};
    std::array<std::size_t, 256> single_{};
    std::bitset<65536> pairs_;
    std::array<std::vector<std::size_t>, 256> by_first_byte_;
    std::size_t empty_entry_ = kNoEntry;
    int only_start_ = -1;  // the one first byte of all non-empty entries, or -1
};

}  // namespace logging

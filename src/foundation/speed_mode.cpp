#include "foundation/speed_mode.hpp"

namespace korvex::foundation {

namespace {
// Constant-initialised, so it reads false before any code of the module runs.
std::atomic<bool> speed_mode{false};
static_assert(sizeof(std::atomic<bool>) == 1 && std::atomic<bool>::is_always_lock_free);
}  // namespace

std::atomic<bool>& speed_mode_flag() {
    return speed_mode;
}

}  // namespace korvex::foundation

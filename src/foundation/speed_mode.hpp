#pragma once

#include <atomic>

namespace korvex::foundation {

// Process-wide record of whether the motor firmware runs in SpeedMode (BEMF
// feedback disabled). Starts false at load and changes only when someone
// stores into it. It is a one-byte lock-free atomic, so native threads may
// read it (acquire) and write it (release) without the interpreter lock;
// there is never a read-modify-write.
std::atomic<bool>& speed_mode_flag();

}  // namespace korvex::foundation

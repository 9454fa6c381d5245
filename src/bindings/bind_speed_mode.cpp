#include "bindings/bindings.hpp"
#include "foundation/speed_mode.hpp"

namespace bindings {

using korvex::foundation::speed_mode_flag;

void bind_speed_mode(py::module_& m) {
    m.def(
        "is_speed_mode_enabled", [] { return speed_mode_flag().load(std::memory_order_acquire); },
        "Return True if SpeedMode is currently active (BEMF disabled).");
    m.def(
        "set_speed_mode_enabled",
        [](bool enabled) { speed_mode_flag().store(enabled, std::memory_order_release); },
        py::arg("enabled"),
        "Set the process-wide SpeedMode flag. Should only be called by the `SetSpeedMode` step "
        "after the firmware has acknowledged the BEMF-disable command; calling it directly "
        "bypasses the firmware handshake and leaves the library/firmware state inconsistent.");
}

}  // namespace bindings

#include "foundation/feedforward.hpp"

#include "foundation/text_form.hpp"

namespace korvex::foundation {

std::string to_string(const PidGains& g) {
    return detail::text_form("PidGains(kp=", g.kp, ", ki=", g.ki, ", kd=", g.kd, ")");
}

std::string to_string(const Feedforward& f) {
    return detail::text_form("Feedforward(kS=", f.kS, ", kV=", f.kV, ", kA=", f.kA, ")");
}

std::string to_string(const MotorCalibration& c) {
    const std::string pid = c.pid ? to_string(*c.pid) : std::string("None");
    return detail::text_form("MotorCalibration(ticks_to_rad=", c.ticks_to_rad,
                             ", vel_lpf_alpha=", c.vel_lpf_alpha, ", pid=", pid, ")");
}

}  // namespace korvex::foundation

#include "foundation/pid.hpp"

#include "foundation/text_form.hpp"

namespace korvex::foundation {

std::string to_string(const PidConfig& c) {
    return detail::text_form("PidConfig(kp=", c.kp, ", ki=", c.ki, ", kd=", c.kd,
                             ", integral_max=", c.integral_max,
                             ", integral_deadband=", c.integral_deadband,
                             ", derivative_lpf_alpha=", c.derivative_lpf_alpha,
                             ", output_min=", c.output_min, ", output_max=", c.output_max, ")");
}

}  // namespace korvex::foundation

#include "foundation/motion.hpp"

#include <cmath>
#include <limits>

#include "foundation/text_form.hpp"

namespace korvex::foundation {

std::string to_string(const ChassisVelocity& v) {
    return detail::text_form("ChassisVelocity(vx=", v.vx, ", vy=", v.vy, ", wz=", v.wz, ")");
}

std::string to_string(const Pose& p) {
    return detail::text_form("Pose(position=[", double{p.position.x()}, ", ",
                             double{p.position.y()}, ", ", double{p.position.z()},
                             "], heading=", double{p.heading}, ")");
}

float narrow_to_float(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    // Halfway between the largest float and 2^128; ties round to even, which is
    // upwards here because the largest float has an odd significand.
    constexpr double kOverflow = 0x1.ffffffp127;
    const double magnitude = std::fabs(value);
    if (magnitude <= kMax || std::isnan(value)) {
        return static_cast<float>(value);
    }
    const float bound = magnitude >= kOverflow ? std::numeric_limits<float>::infinity()
                                               : std::numeric_limits<float>::max();
    return std::signbit(value) ? -bound : bound;
}

}  // namespace korvex::foundation

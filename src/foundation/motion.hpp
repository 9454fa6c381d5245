#pragma once

#include <Eigen/Core>
#include <string>

namespace korvex::foundation {

// Planar chassis velocity. No units are attached here.
struct ChassisVelocity {
    double vx = 0.0;  // linear velocity along x
    double vy = 0.0;  // linear velocity along y
    double wz = 0.0;  // angular velocity about z
};

// Position (x, y, z) and heading, both in 32-bit floats.
struct Pose {
    Eigen::Vector3f position = Eigen::Vector3f::Zero();
    float heading = 0.0f;
};

std::string to_string(const ChassisVelocity& velocity);
std::string to_string(const Pose& pose);

// Narrows a double to the nearest 32-bit float the way IEEE round-to-nearest
// does, without the undefined behaviour C++ gives an out-of-range conversion:
// magnitudes that round beyond the largest float become the infinity of their
// sign, magnitudes just above it that still round down give the largest float,
// NaN stays NaN and infinities stay infinities.
float narrow_to_float(double value);

}  // namespace korvex::foundation

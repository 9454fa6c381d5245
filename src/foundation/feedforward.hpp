#pragma once

#include <cmath>
#include <optional>
#include <string>

namespace korvex::foundation {

// A set of PID gains, carried inside MotorCalibration.
struct PidGains {
    double kp = 1.0;
    double ki = 0.0;
    double kd = 0.0;
};

// Feedforward gains: static (added with the sign of the velocity), velocity
// and acceleration.
struct Feedforward {
    double kS = 0.0;
    double kV = 0.0;
    double kA = 0.0;
};

// Per-motor calibration. Nothing is validated: a zero or negative scale and an
// alpha outside [0, 1] are stored as given.
//
// From Python, reading `pid` while it holds gains gives a view into this
// record. Emptying `pid` only clears the optional's flag (use reset(), never
// assignment from an empty optional, whose trivial copy would overwrite the
// stored bytes): a view taken earlier keeps reading the last gains, writing
// through it never makes `pid` present again, and gains assigned later show
// through it.
struct MotorCalibration {
    double ticks_to_rad = 0.004363323129985824;  // pi/720: one revolution per 1440 ticks
    double vel_lpf_alpha = 0.5;                  // velocity low-pass coefficient, used by callers
    std::optional<PidGains> pid;                 // the motor's own gains, when it has them
};

std::string to_string(const PidGains& gains);
std::string to_string(const Feedforward& ff);
// Ends in ", pid=None)" while pid is empty, else ", pid=PidGains(...))".
std::string to_string(const MotorCalibration& calibration);

// Stateless feedforward: no memory, no filter, no limits.
class FeedforwardController {
  public:
    explicit FeedforwardController(const Feedforward& ff = Feedforward{}) : config(ff) {}

    // velocity*kV + acceleration*kA, plus copysign(1, velocity)*kS for any
    // velocity that does not compare equal to zero (no dead band: 1e-300 adds
    // the full kS; +0.0 and -0.0 add nothing; NaN propagates). Never fails.
    double calculate(double velocity, double acceleration = 0.0) const {
        const double sum = velocity * config.kV + acceleration * config.kA;
        if (velocity == 0.0) {
            return sum;
        }
        return std::copysign(1.0, velocity) * config.kS + sum;
    }

    Feedforward config;
};

}  // namespace korvex::foundation

#pragma once

#include <cmath>
#include <string>

namespace korvex::foundation {

// Settings of one PID loop. Time is in the caller's unit (the same in every
// update of one controller). Nothing is validated; out-of-range values act as
// PidController::update describes.
struct PidConfig {
    double kp = 1.0;                    // proportional gain
    double ki = 0.0;                    // integral gain
    double kd = 0.0;                    // derivative gain
    double integral_max = 10.0;         // accumulated error*dt stays in [-max, max]
    double integral_deadband = 0.01;    // |error| at or below this holds the integral
    double derivative_lpf_alpha = 0.1;  // weight of the newest raw derivative, clamped to [0, 1]
    double output_min = -10.0;          // lower output limit
    double output_max = 10.0;           // upper output limit
};

// "PidConfig(kp=1, ki=0, ...)" with %g-style numbers.
std::string to_string(const PidConfig& config);

// Discrete PID on the error alone: the caller computes error and dt and calls
// update() once per cycle. Never throws, never allocates, never locks.
class PidController {
  public:
    // Copies the configuration; later changes to the caller's object do not
    // reach the controller.
    explicit PidController(const PidConfig& config = PidConfig{}) : config_(config) {}

    // One control step; returns the limited output.
    //  - dt <= 0 returns 0.0 and changes nothing (a NaN dt is processed).
    //  - The integral accumulates error*dt only while |error| > integral_deadband
    //    and is limited upper test first, so a negative integral_max maps every
    //    sum above it to integral_max and every other sum to -integral_max.
    //  - The first step after construction or reset() uses derivative 0 and
    //    leaves the filtered derivative untouched.
    //  - The output is limited upper test first (output_min > output_max gives
    //    output_max for outputs above it, output_min otherwise); NaN passes.
    //  - A NaN error or dt poisons the state until reset().
    double update(double error, double dt) {
        if (dt <= 0.0) {
            return 0.0;
        }
        if (std::fabs(error) > config_.integral_deadband) {
            const double sum = error * dt + integral_;
            if (sum > config_.integral_max) {
                integral_ = config_.integral_max;
            } else if (sum < -config_.integral_max) {
                integral_ = -config_.integral_max;
            } else {
                integral_ = sum;
            }
        }
        double derivative_term = 0.0;
        if (first_update_) {
            first_update_ = false;
        } else {
            double a = config_.derivative_lpf_alpha;
            if (a > 1.0) {
                a = 1.0;
            } else if (a < 0.0) {
                a = 0.0;
            }
            const double raw = (error - prev_error_) / dt;
            derivative_ = raw * a + (1.0 - a) * derivative_;
            derivative_term = derivative_;
        }
        const double out =
            (config_.kp * error + config_.ki * integral_) + config_.kd * derivative_term;
        double result = out;
        if (out > config_.output_max) {
            result = config_.output_max;
        } else if (out < config_.output_min) {
            result = config_.output_min;
        }
        prev_error_ = error;
        return result;
    }

    // Clears integral, previous error and filtered derivative and makes the
    // next update a first one again. The configuration stays.
    void reset() {
        integral_ = 0.0;
        prev_error_ = 0.0;
        derivative_ = 0.0;
        first_update_ = true;
    }

    // Replaces kp, ki and kd only. The accumulated integral is stored without
    // ki, so a new ki rescales the whole integral term from the next update.
    void set_gains(double kp, double ki, double kd) {
        config_.kp = kp;
        config_.ki = ki;
        config_.kd = kd;
    }

    // Accumulated error*dt after limiting (not multiplied by ki).
    double integral() const { return integral_; }
    // Low-pass filtered derivative of the error (not multiplied by kd).
    double derivative() const { return derivative_; }

  private:
    PidConfig config_;
    double integral_ = 0.0;
    double prev_error_ = 0.0;
    double derivative_ = 0.0;
    bool first_update_ = true;
};

}  // namespace korvex::foundation

// The controller's arithmetic without the binding layer, so the sanitizer
// builds exercise it too; the full behaviour is covered from Python.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/pid.hpp"

using korvex::foundation::PidConfig;
using korvex::foundation::PidController;

TEST(PidController, WorkedExampleWithAllThreeTerms) {
    PidConfig config;
    config.kp = 2.0;
    config.ki = 0.5;
    config.kd = 0.1;
    PidController controller(config);
    struct Step {
        double error, dt, result, integral, derivative;
    };
    const Step steps[] = {
        {1.0, 0.1, 2.05, 0.1, 0.0},
        {0.5, 0.1, 1.025, 0.15, -0.5},
        {0.005, 0.1, -0.0095, 0.15, -0.945},
        {0.5, 0.0, 0.0, 0.15, -0.945},
    };
    for (const auto& s : steps) {
        EXPECT_NEAR(controller.update(s.error, s.dt), s.result, 1e-12);
        EXPECT_NEAR(controller.integral(), s.integral, 1e-12);
        EXPECT_NEAR(controller.derivative(), s.derivative, 1e-12);
    }
}

TEST(PidController, NonFiniteInputsNeverTrap) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    PidController controller;
    EXPECT_EQ(controller.update(inf, 0.1), 10.0);
    // The infinite raw derivative of the next step times kd = 0 is NaN.
    EXPECT_TRUE(std::isnan(controller.update(-inf, 0.1)));
    EXPECT_TRUE(std::isnan(controller.update(nan, 0.1)));
    EXPECT_TRUE(std::isnan(controller.update(1.0, inf)));
    controller.reset();
    EXPECT_EQ(controller.update(1.0, 0.1), 1.0);
}

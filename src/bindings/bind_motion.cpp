#include <pybind11/eigen.h>

#include "bindings/bindings.hpp"
#include "foundation/motion.hpp"

namespace bindings {

using korvex::foundation::ChassisVelocity;
using korvex::foundation::Pose;

void bind_motion(py::module_& m) {
    bind_three_doubles<ChassisVelocity>(m, "ChassisVelocity", {"vx", &ChassisVelocity::vx},
                                        {"vy", &ChassisVelocity::vy}, {"wz", &ChassisVelocity::wz});

    py::class_<Pose> pose(m, "Pose");
    pose.def(py::init<>())
        // Reading gives a read-only float32 view of shape (3,) whose base is the
        // Pose; assigning copies anything NumPy can cast to (3,) or (3, 1).
        .def_readwrite("position", &Pose::position)
        .def_property(
            "heading", [](const Pose& p) { return double{p.heading}; },
            [](Pose& p, double heading) {
                p.heading = korvex::foundation::narrow_to_float(heading);
            });
    def_text_form(pose);
}

}  // namespace bindings

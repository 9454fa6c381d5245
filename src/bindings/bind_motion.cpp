#include <pybind11/eigen.h>

#include "bindings/bindings.hpp"
#include "foundation/motion.hpp"

namespace bindings {

using korvex::foundation::ChassisVelocity;
using korvex::foundation::Pose;

void bind_motion(py::module_& m) {
    py::class_<ChassisVelocity> velocity(m, "ChassisVelocity");
    velocity.def(py::init<>())
        .def(py::init([](double vx, double vy, double wz) {
                 return ChassisVelocity{vx, vy, wz};
             }),
             py::arg("vx"), py::arg("vy"), py::arg("wz"))
        .def_readwrite("vx", &ChassisVelocity::vx)
        .def_readwrite("vy", &ChassisVelocity::vy)
        .def_readwrite("wz", &ChassisVelocity::wz);
    def_text_form(velocity);

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

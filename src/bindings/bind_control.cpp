#include <pybind11/stl.h>
#include <pybind11/typing.h>
#include <optional>
#include <type_traits>

#include "bindings/bindings.hpp"
#include "bindings/fast_path.hpp"
#include "foundation/feedforward.hpp"

namespace bindings {

using korvex::foundation::Feedforward;
using korvex::foundation::FeedforwardController;
using korvex::foundation::MotorCalibration;
using korvex::foundation::PidGains;

// A PidGains view handed out by MotorCalibration.pid points into the
// optional's storage, which lives as long as the calibration (the view keeps
// it alive). Emptying pid only clears the optional's flag (no destructor runs
// for a trivially destructible record and the bytes stay), so an old view
// stays safe: it keeps reading the last gains, writing through it never makes
// pid present, and gains assigned later show through it.
static_assert(std::is_trivially_destructible_v<PidGains>);

namespace {

PyTypeObject* feedforward_controller_type = nullptr;

// calculate(velocity[, acceleration]) with exact floats, called every cycle.
PyObject* fast_calculate(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    const auto* controller =
        fast_path::value_of<const FeedforwardController>(self, feedforward_controller_type);
    if (controller == nullptr || nargs < 1 || nargs > 2 || !PyFloat_CheckExact(args[0]) ||
        (nargs == 2 && !PyFloat_CheckExact(args[1]))) {
        return nullptr;
    }
    const double acceleration = nargs == 2 ? PyFloat_AS_DOUBLE(args[1]) : 0.0;
    return PyFloat_FromDouble(controller->calculate(PyFloat_AS_DOUBLE(args[0]), acceleration));
}

}  // namespace

void bind_control(py::module_& m) {
    bind_three_doubles<PidGains>(m, "PidGains", {"kp", &PidGains::kp}, {"ki", &PidGains::ki},
                                 {"kd", &PidGains::kd});
    // Registered before FeedforwardController, whose default argument shows this text.
    bind_three_doubles<Feedforward>(m, "Feedforward", {"kS", &Feedforward::kS},
                                    {"kV", &Feedforward::kV}, {"kA", &Feedforward::kA});

    py::class_<MotorCalibration> calibration(m, "MotorCalibration");
    calibration.def(py::init<>())
        .def(py::init([](double ticks_to_rad, double vel_lpf_alpha) {
                 return MotorCalibration{ticks_to_rad, vel_lpf_alpha, std::nullopt};
             }),
             py::arg("ticks_to_rad"), py::arg("vel_lpf_alpha"))
        .def(py::init([](double ticks_to_rad, double vel_lpf_alpha, std::optional<PidGains> pid) {
                 return MotorCalibration{ticks_to_rad, vel_lpf_alpha, pid};
             }),
             py::arg("ticks_to_rad"), py::arg("vel_lpf_alpha"), py::arg("pid") = py::none())
        .def_readwrite("ticks_to_rad", &MotorCalibration::ticks_to_rad)
        .def_readwrite("vel_lpf_alpha", &MotorCalibration::vel_lpf_alpha)
        .def_property(
            "pid",
            [](py::object self) -> py::typing::Optional<PidGains> {
                auto& owner = self.cast<MotorCalibration&>();
                if (!owner.pid) {
                    return py::none();
                }
                return py::cast(&*owner.pid, py::return_value_policy::reference_internal, self);
            },
            [](MotorCalibration& owner, const std::optional<PidGains>& pid) {
                // Not `owner.pid = pid`: the trivial copy of an empty optional
                // would copy its indeterminate payload over the stored gains
                // that older views still read.
                if (pid) {
                    owner.pid = *pid;
                } else {
                    owner.pid.reset();
                }
            });
    def_text_form(calibration);

    py::class_<FeedforwardController> controller(m, "FeedforwardController");
    controller.def(py::init<const Feedforward&>(), py::arg("config") = Feedforward{})
        .def_readwrite("config", &FeedforwardController::config)
        .def("calculate", &FeedforwardController::calculate, py::arg("velocity"),
             py::arg("acceleration") = 0.0);
    feedforward_controller_type = reinterpret_cast<PyTypeObject*>(controller.ptr());
    fast_path::install_method<&fast_calculate>(controller, "calculate");
}

}  // namespace bindings

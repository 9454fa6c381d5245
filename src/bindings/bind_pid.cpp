#include "bindings/bindings.hpp"
#include "bindings/fast_path.hpp"
#include "foundation/pid.hpp"

namespace bindings {

using korvex::foundation::PidConfig;
using korvex::foundation::PidController;

namespace {

PyTypeObject* controller_type = nullptr;

// update(error, dt) with two exact floats, the call of every control cycle.
PyObject* fast_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    auto* controller = fast_path::value_of<PidController>(self, controller_type);
    if (controller == nullptr || nargs != 2 || !PyFloat_CheckExact(args[0]) ||
        !PyFloat_CheckExact(args[1])) {
        return nullptr;
    }
    return PyFloat_FromDouble(
        controller->update(PyFloat_AS_DOUBLE(args[0]), PyFloat_AS_DOUBLE(args[1])));
}

}  // namespace

void bind_pid(py::module_& m) {
    py::class_<PidConfig> config(m, "PidConfig");
    config
        .def(py::init([](double kp, double ki, double kd, double integral_max,
                         double integral_deadband, double derivative_lpf_alpha, double output_min,
                         double output_max) {
                 return PidConfig{kp,
                                  ki,
                                  kd,
                                  integral_max,
                                  integral_deadband,
                                  derivative_lpf_alpha,
                                  output_min,
                                  output_max};
             }),
             py::arg("kp") = 1.0, py::arg("ki") = 0.0, py::arg("kd") = 0.0,
             py::arg("integral_max") = 10.0, py::arg("integral_deadband") = 0.01,
             py::arg("derivative_lpf_alpha") = 0.1, py::arg("output_min") = -10.0,
             py::arg("output_max") = 10.0)
        .def_readwrite("kp", &PidConfig::kp)
        .def_readwrite("ki", &PidConfig::ki)
        .def_readwrite("kd", &PidConfig::kd)
        .def_readwrite("integral_max", &PidConfig::integral_max)
        .def_readwrite("integral_deadband", &PidConfig::integral_deadband)
        .def_readwrite("derivative_lpf_alpha", &PidConfig::derivative_lpf_alpha)
        .def_readwrite("output_min", &PidConfig::output_min)
        .def_readwrite("output_max", &PidConfig::output_max);
    // Registered before PidController, whose default argument shows this text.
    def_text_form(config);

    py::class_<PidController> controller(m, "PidController");
    controller.def(py::init<const PidConfig&>(), py::arg("config") = PidConfig{})
        .def("update", &PidController::update, py::arg("error"), py::arg("dt"))
        .def("reset", &PidController::reset)
        .def("set_gains", &PidController::set_gains, py::arg("kp"), py::arg("ki"), py::arg("kd"))
        .def_property_readonly("integral", &PidController::integral)
        .def_property_readonly("derivative", &PidController::derivative);
    controller_type = reinterpret_cast<PyTypeObject*>(controller.ptr());
    fast_path::install_method<&fast_update>(controller, "update");
}

}  // namespace bindings

// No-op functions with the signatures of foundation's hot calls, so the
// benchmark can show what the binding layer itself costs per call.
#include <pybind11/pybind11.h>

#include <cstdint>

namespace py = pybind11;

// foundation's level enum, declared but not registered here: pybind11 shares
// its type registry between modules built with the same version, so the floor
// converts foundation.Level exactly as foundation does. Import foundation first.
namespace logging {
enum class Level : std::int32_t;
}

namespace {

struct Floor {
    double update(double, double) { return 0.0; }
    double calculate(double, double) { return 0.0; }
};

}  // namespace

PYBIND11_MODULE(bench_floor, m) {
    py::class_<Floor>(m, "Floor")
        .def(py::init<>())
        .def("update", &Floor::update, py::arg("error"), py::arg("dt"))
        .def("calculate", &Floor::calculate, py::arg("velocity"), py::arg("acceleration") = 0.0);
    m.def(
        "log_filtered", [](logging::Level, py::str, py::str) {}, py::arg("level"),
        py::arg("filepath"), py::arg("message"));
}

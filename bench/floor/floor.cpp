// No-op functions with the signatures of foundation's hot calls, so the
// benchmark can show what the binding layer itself costs per call.
#include <pybind11/pybind11.h>

#include <cstdint>

namespace py = pybind11;

namespace {

enum class Level : std::int32_t { trace, debug, info, warn, error, critical, off };

struct Floor {
    double update(double, double) { return 0.0; }
    double calculate(double, double) { return 0.0; }
};

}  // namespace

PYBIND11_MODULE(bench_floor, m) {
    py::enum_<Level>(m, "Level")
        .value("trace", Level::trace)
        .value("debug", Level::debug)
        .value("info", Level::info)
        .value("warn", Level::warn)
        .value("error", Level::error)
        .value("critical", Level::critical)
        .value("off", Level::off);
    py::class_<Floor>(m, "Floor")
        .def(py::init<>())
        .def("update", &Floor::update, py::arg("error"), py::arg("dt"))
        .def("calculate", &Floor::calculate, py::arg("velocity"), py::arg("acceleration") = 0.0);
    m.def(
        "log_filtered", [](Level, py::str, py::str) {}, py::arg("level"), py::arg("filepath"),
        py::arg("message"));
}

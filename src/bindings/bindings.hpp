#pragma once

#include <pybind11/pybind11.h>

// The module's registration functions, one per area, called in this order by
// the module entry. Each only defines names: none creates a logger, starts a
// thread or touches a file.
namespace bindings {

namespace py = pybind11;

void bind_pid(py::module_& m);
void bind_logging(py::module_& m);
void bind_control(py::module_& m);
void bind_motion(py::module_& m);
void bind_speed_mode(py::module_& m);

// Binds __repr__ and __str__ of a record to its free to_string(), so both
// give the same text.
template <typename Record, typename... Options>
py::class_<Record, Options...>& def_text_form(py::class_<Record, Options...>& cls) {
    const auto text = [](const Record& record) { return to_string(record); };
    cls.def("__repr__", text);
    cls.def("__str__", text);
    return cls;
}

}  // namespace bindings

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

// A field of a record of three doubles, with its Python name.
template <typename Record>
struct Field {
    const char* name;
    double Record::*member;
};

// A plain record of three doubles: a default constructor, a constructor that
// takes all three fields in order (none of them optional), a read-write
// property per field and the text form.
template <typename Record>
py::class_<Record> bind_three_doubles(py::module_& m, const char* name, Field<Record> first,
                                      Field<Record> second, Field<Record> third) {
    py::class_<Record> cls(m, name);
    cls.def(py::init<>())
        .def(py::init([](double a, double b, double c) {
                 return Record{a, b, c};
             }),
             py::arg(first.name), py::arg(second.name), py::arg(third.name));
    for (const auto& field : {first, second, third}) {
        cls.def_readwrite(field.name, field.member);
    }
    def_text_form(cls);
    return cls;
}

}  // namespace bindings

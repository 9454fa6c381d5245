#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <stdexcept>
#include <string>

// A fast entry in front of a pybind11-bound function or method, for the calls
// that robot programs make at the control-loop rate. The fast entry handles
// only the common call shape (positional arguments of exact types, checked
// without conversion) and hands every other call, keywords and wrong types
// included, to the pybind11 function it replaces. Conversions, TypeError texts,
// signatures and docstrings therefore stay exactly those of pybind11; only the
// general dispatcher's overhead is skipped.
namespace bindings::fast_path {

namespace py = pybind11;

// Returns the result, or nullptr (with no Python error set) to ask for the
// general path; with a Python error set, nullptr is raised as it is.
using Handler = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

// The bound C++ object of `object` when its type is exactly `type` and it is
// fully constructed, else nullptr.
template <typename T>
T* value_of(PyObject* object, PyTypeObject* type) {
    if (Py_TYPE(object) != type) {
        return nullptr;
    }
    auto* inst = reinterpret_cast<py::detail::instance*>(object);
    if (!inst->simple_layout) {
        return nullptr;
    }
    return static_cast<T*>(inst->simple_value_holder[0]);
}

// One fast entry per handler; everything is kept for the life of the process,
// like the module itself.
template <Handler Fast>
struct Entry {
    static inline PyObject* general = nullptr;
    static inline bool is_method = false;
    static inline std::string doc;
    static inline PyMethodDef def{};

    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) {
        const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
        if (kwnames == nullptr) {
            if (PyObject* result = Fast(self, args, nargs)) {
                return result;
            }
            if (PyErr_Occurred()) {
                return nullptr;
            }
        }
        if (!is_method) {
            return PyObject_Vectorcall(general, args, static_cast<std::size_t>(nargsf), kwnames);
        }
        // The pybind11 function takes self as its first positional argument.
        const Py_ssize_t total = nargs + (kwnames ? PyTuple_GET_SIZE(kwnames) : 0);
        PyObject* small[8];
        std::unique_ptr<PyObject*[]> large;
        PyObject** stack = small;
        if (total + 1 > 8) {
            large.reset(new PyObject*[static_cast<std::size_t>(total) + 1]);
            stack = large.get();
        }
        stack[0] = self;
        for (Py_ssize_t i = 0; i < total; ++i) {
            stack[i + 1] = args[i];
        }
        return PyObject_Vectorcall(general, stack, static_cast<std::size_t>(nargs + 1), kwnames);
    }

    static void prepare(py::handle function, const char* name, bool method) {
        general = function.inc_ref().ptr();
        is_method = method;
        doc = py::str(function.attr("__doc__"));
        def = PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)),
                          METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
    }
};

// Puts the fast entry in front of the module function `name`.
template <Handler Fast>
void install_function(py::module_& m, const char* name) {
    Entry<Fast>::prepare(m.attr(name), name, false);
    py::object fast = py::reinterpret_steal<py::object>(
        PyCFunction_NewEx(&Entry<Fast>::def, m.ptr(), m.attr("__name__").ptr()));
    if (!fast) {
        throw py::error_already_set();
    }
    m.attr(name) = fast;
}

// Puts the fast entry in front of the method `name` of a bound class.
template <Handler Fast, typename Class>
void install_method(Class& cls, const char* name) {
    // pybind11 stores methods wrapped in an instancemethod; keep the function.
    py::object method = cls.attr("__dict__")[name];
    if (!PyInstanceMethod_Check(method.ptr())) {
        throw std::logic_error(std::string("not a pybind11 method: ") + name);
    }
    py::object function =
        py::reinterpret_borrow<py::object>(PyInstanceMethod_Function(method.ptr()));
    Entry<Fast>::prepare(function, name, true);
    py::object descriptor = py::reinterpret_steal<py::object>(
        PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls.ptr()), &Entry<Fast>::def));
    if (!descriptor) {
        throw py::error_already_set();
    }
    cls.attr(name) = descriptor;
}

}  // namespace bindings::fast_path

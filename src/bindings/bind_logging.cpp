#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/bindings.hpp"
#include "bindings/fast_path.hpp"
#include "logging/entry_points.hpp"
#include "logging/levels.hpp"
#include "logging/lifecycle.hpp"
#include "logging/process_end.hpp"
#include "logging/state.hpp"

namespace bindings {

// A message or source path borrowed from its Python object for one call: the
// UTF-8 form that CPython caches inside a str (or a bytes object's own
// buffer), NUL-terminated, without a copy. None is refused with TypeError, so
// a null text can never reach the filter, the logger or a length count; a str
// that cannot be encoded (lone surrogates) is refused the same way.
struct BorrowedText {
    const char* data = "";
    std::size_t size = 0;

    // The text up to its first NUL, as the logger takes it.
    std::string_view until_nul() const {
        const void* nul = std::memchr(data, '\0', size);
        return {data, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size};
    }
};

// Borrows the UTF-8 form of a str; false (with no Python error left set) when
// the str cannot be encoded.
bool borrow_utf8(PyObject* str, BorrowedText& text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return false;
    }
    text = {data, static_cast<std::size_t>(size)};
    return true;
}

}  // namespace bindings

namespace pybind11::detail {

template <>
struct type_caster<bindings::BorrowedText> {
    PYBIND11_TYPE_CASTER(bindings::BorrowedText, const_name("str"));

    bool load(handle src, bool /*convert*/) {
        PyObject* object = src.ptr();
        if (PyUnicode_Check(object)) {
            return bindings::borrow_utf8(object, value);
        }
        if (PyBytes_Check(object)) {
            value = {PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
            return true;
        }
        return false;
    }

    static handle cast(const bindings::BorrowedText& text, return_value_policy, handle) {
        return PyUnicode_FromStringAndSize(text.data, static_cast<Py_ssize_t>(text.size));
    }
};

}  // namespace pybind11::detail

namespace bindings {

namespace {

using logging::Level;

// The process logger, plus what only the interpreter can arrange: the exit
// hook that writes buffered lines out however Python ends (KeyboardInterrupt
// included: Python then re-raises SIGINT after finalising, and C++ static
// destructors never run), and the flush on fatal signals, except for the
// signals a Python handler serves, which are the program's to handle.
void initialize_logging() {
    const bool already = logging::logging_initialized;
    logging::init();
    if (already) {
        return;
    }
    std::vector<int> python_handled;
    const py::object getsignal = py::module_::import("signal").attr("getsignal");
    for (const int signal_number : logging::flushed_signals) {
        // SIG_DFL and SIG_IGN are plain numbers, None a handler not set from Python.
        if (PyCallable_Check(getsignal(signal_number).ptr())) {
            python_handled.push_back(signal_number);
        }
    }
    logging::install_signal_flush(python_handled);
    static const bool exit_hook = Py_AtExit(&logging::flush_at_exit) == 0;
    (void)exit_hook;
}

template <spdlog::level::level_enum level>
void write_plain(BorrowedText message) {
    logging::log_plain(level, message.until_nul());
}

void log_filtered(Level level, BorrowedText filepath, BorrowedText message) {
    if (!logging::is_enabled_for(level, filepath.data)) {
        return;
    }
    logging::log_with_source_file(level, filepath.data, message.until_nul());
}

// The common call of _log_filtered: a Level and two exact str, positionally.
// It runs once per log call of every Python package above this module, and a
// rejected call should cost less than a disabled standard-library logger.
PyTypeObject* level_type = nullptr;

// Anything but an exact, encodable str goes to the general path, which
// converts or refuses it as pybind11 does.
bool exact_text(PyObject* object, BorrowedText& text) {
    return PyUnicode_CheckExact(object) && borrow_utf8(object, text);
}

PyObject* fast_log_filtered(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    BorrowedText filepath;
    BorrowedText message;
    const Level* level = nullptr;
    if (nargs != 3 || (level = fast_path::value_of<const Level>(args[0], level_type)) == nullptr ||
        !exact_text(args[1], filepath) || !exact_text(args[2], message)) {
        return nullptr;
    }
    try {
        log_filtered(*level, filepath, message);
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace

void bind_logging(py::module_& m) {
    py::enum_<Level>(m, "Level")
        .value("trace", Level::trace)
        .value("debug", Level::debug)
        .value("info", Level::info)
        .value("warn", Level::warn)
        .value("error", Level::error)
        .value("critical", Level::critical)
        .value("off", Level::off);

    m.def("initialize_logging", &initialize_logging, "Initialize and enable the logging system");
    m.def("shutdown_logging", &logging::shutdown_logging,
          "Flush and tear down the logger so that no further log calls touch spdlog");
    m.def("initialize_timer", &logging::initialize_timer,
          "Initialize the timer for elapsed time logging");
    m.def("set_global_level", &logging::set_global_level, py::arg("level"),
          R"(
        Set the global runtime log level. Messages below this level are filtered.

        Args:
            level: The minimum log level to display (e.g., Level.trace, Level.debug, Level.info)
    )");
    m.def("set_file_level", &logging::set_file_level, py::arg("filename"), py::arg("level"),
          R"(
        Set the log level for a specific source file (by basename).

        Args:
            filename: The source file basename (e.g., "fused_odometry.cpp")
            level: The minimum log level for this file
    )");
    m.def("clear_file_level", &logging::clear_file_level, py::arg("filename"),
          R"(
        Remove the log level filter for a specific source file.

        Args:
            filename: The source file basename to clear
    )");
    m.def("clear_filters", &logging::clear_filters, R"(
        Clear all file-specific filters and reset global level to INFO.
    )");
    // The four plain writers share one body and differ only in their level.
    const struct {
        const char* name;
        void (*write)(BorrowedText);
        const char* doc;
    } plain_writers[] = {
        {"debug", &write_plain<spdlog::level::debug>,
         "\n        Log a message with severity level debug\n    "},
        {"info", &write_plain<spdlog::level::info>,
         "\n        Log a message with severity level info\n    "},
        {"warn", &write_plain<spdlog::level::warn>,
         "\n        Log a message with severity level warn\n    "},
        {"error", &write_plain<spdlog::level::err>,
         "\n        Log a message with severity level error\n    "},
    };
    for (const auto& writer : plain_writers) {
        m.def(writer.name, writer.write, py::arg("message"), writer.doc);
    }
    m.def("set_package_level", &logging::set_package_level, py::arg("package"), py::arg("level"),
          R"(
        Set the log level for all source files whose path contains the given substring.

        Package filters are checked after file-specific filters (set_file_level).
        Use path fragments like "korvex-motion" (C++ module) or "korvex/step/motion"
        (Python package) to match groups of files.

        Args:
            package: A substring to match against the full source file path
            level: The minimum log level for matching files
    )");
    m.def("clear_package_level", &logging::clear_package_level, py::arg("package"),
          R"(
        Remove the log level filter for a package substring.

        Args:
            package: The package substring to clear
    )");
    m.def("_log_filtered", &log_filtered, py::arg("level"), py::arg("filepath"), py::arg("message"),
          R"(
        Log a message with file-based filtering (internal use).

        Checks is_enabled_for(level, filepath) before logging, supporting both
        per-file filtering (set_file_level) and package filtering (set_package_level).

        Args:
            level: The log level
            filepath: The full source file path (used for filtering and display)
            message: The log message
    )");
    level_type = reinterpret_cast<PyTypeObject*>(py::type::of<Level>().ptr());
    fast_path::install_function<&fast_log_filtered>(m, "_log_filtered");
}

}  // namespace bindings

#include "bindings/bindings.hpp"

// Single-phase initialisation: pybind11 refuses any interpreter but the one the
// module was built for, and turns a failure during registration into
// ImportError (chained to a Python error, or carrying a C++ exception's text).
PYBIND11_MODULE(foundation, m) {
    m.doc() = "Python bindings for korvex-foundation";
    bindings::bind_pid(m);
    bindings::bind_logging(m);
    bindings::bind_control(m);
    bindings::bind_motion(m);
    bindings::bind_speed_mode(m);
}

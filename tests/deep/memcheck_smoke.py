"""Exercises every bound area in one interpreter, for a run under valgrind:
the logger from start to shut-down (filters, source columns, bad input), the
controllers, the records and the pose's NumPy views."""

import os
import sys
import tempfile

import numpy as np

import foundation as f
from foundation import Level


def main() -> None:
    os.chdir(tempfile.mkdtemp())
    f.initialize_logging()
    f.set_global_level(Level.trace)
    f.set_file_level("a.py", Level.warn)
    for i in range(12):
        f.set_package_level(f"korvex/p{i}", Level.debug)
    for level in range(-3, 10):
        f._log_filtered(Level(level), "/opt/korvex/p3/step/a.py", f"level {level} {{}} %s")
        f._log_filtered(Level(level), "/opt/korvex-motion/x.cpp", "module rule")
    for bad in (None, "\ud800", 1):
        try:
            f._log_filtered(Level.info, bad, "m")
        except TypeError:
            pass
    f._log_filtered(Level.info, "/" * 70000, "x" * 100000)
    f._log_filtered(Level.info, b"/bytes/path.py", b"bytes")
    f.info("a\0b")
    f.clear_package_level("korvex/p3")
    f.clear_filters()
    f.initialize_timer()
    f.shutdown_logging()
    f._log_filtered(Level.error, "/a.py", "dropped")

    pid = f.PidController(f.PidConfig(kp=2, ki=0.5, kd=0.1))
    for e in (1.0, 0.5, float("nan"), 3):
        pid.update(e, 0.01)
    pid.update(error=1.0, dt=0.1)
    ff = f.FeedforwardController()
    ff.config.kS = 0.2
    ff.calculate(1.0), ff.calculate(1.0, 2.0), ff.calculate(velocity=-1)
    cal = f.MotorCalibration(0.1, 0.2, f.PidGains(1, 2, 3))
    view = cal.pid
    cal.pid = None
    view.kp = 5.0
    repr(cal), repr(view)
    pose = f.Pose()
    pose.position = np.array([[1.0], [2.0], [3.0]])
    arr = pose.position
    del pose
    assert arr.tolist() == [1.0, 2.0, 3.0]
    try:
        f.Pose().position = np.zeros((3, 3))
    except TypeError:
        pass
    f.set_speed_mode_enabled(np.bool_(True))
    print("memcheck smoke done", file=sys.stderr)


if __name__ == "__main__":
    main()

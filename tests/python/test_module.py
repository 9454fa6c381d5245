"""The module entry: import, docstring, names, version check and binding conventions."""

import pickle
import shutil
import subprocess
from pathlib import Path

import pytest

import foundation
from support import MODULE_PATH, run_python

PYTHON312 = next(iter(sorted(Path.home().glob(".pyenv/versions/3.12*/bin/python3.12"))), None)

EXPECTED_NAMES = {
    "PidConfig", "PidController",
    "Level", "initialize_logging", "shutdown_logging", "initialize_timer", "set_global_level",
    "set_file_level", "clear_file_level", "clear_filters", "debug", "info", "warn", "error",
    "set_package_level", "clear_package_level", "_log_filtered",
    "PidGains", "Feedforward", "MotorCalibration", "FeedforwardController",
    "ChassisVelocity", "Pose",
    "is_speed_mode_enabled", "set_speed_mode_enabled",
}


def test_docstring():
    assert foundation.__doc__ == "Python bindings for korvex-foundation"


def test_module_has_exactly_the_registered_names():
    public = {name for name in dir(foundation) if not name.startswith("__")}
    assert public == EXPECTED_NAMES


def test_import_starts_no_thread_and_touches_no_file(tmp_path):
    run = run_python(
        """
        import os
        def threads():
            return len(os.listdir("/proc/self/task"))
        before = threads()
        import foundation
        assert threads() == before, (before, threads())
        assert os.listdir(".") == []
        print("ok")
        """,
        tmp_path,
    )
    assert run.stdout.strip() == "ok"
    assert list(tmp_path.iterdir()) == []


@pytest.mark.skipif(PYTHON312 is None, reason="needs pyenv's CPython 3.12")
def test_wrong_interpreter_refused_with_version_message(tmp_path):
    shutil.copy(MODULE_PATH, tmp_path / "foundation.so")
    run = run_python(
        """
        import os, sys
        sys.setdlopenflags(os.RTLD_LAZY)
        try:
            import foundation
        except ImportError as e:
            print(str(e))
        else:
            print("imported")
        """,
        tmp_path, executable=str(PYTHON312), env={"PYTHONPATH": str(tmp_path)},
    )
    version = subprocess.run([str(PYTHON312), "-c", "import sys; print(sys.version)"],
                             capture_output=True, text=True, check=True).stdout.rstrip("\n")
    assert run.stdout.rstrip("\n") == (
        "Python version mismatch: module was compiled for Python 3.13, but the interpreter "
        f"version is incompatible: {version}.")


@pytest.mark.skipif(PYTHON312 is None, reason="needs pyenv's CPython 3.12")
def test_wrong_interpreter_with_default_loader_flags_fails_cleanly(tmp_path):
    shutil.copy(MODULE_PATH, tmp_path / "foundation.so")
    run = run_python(
        """
        try:
            import foundation
        except ImportError:
            print("refused")
        """,
        tmp_path, executable=str(PYTHON312), env={"PYTHONPATH": str(tmp_path)},
    )
    assert run.stdout.strip() == "refused"


RECORDS = [
    foundation.PidConfig, foundation.PidGains, foundation.Feedforward,
    foundation.MotorCalibration, foundation.ChassisVelocity, foundation.Pose,
]
CLASSES = RECORDS + [foundation.PidController, foundation.FeedforwardController]


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_conventions(cls):
    a, b = cls(), cls()
    assert cls.__module__ == "foundation"
    assert a != b and a == a
    with pytest.raises(TypeError):
        pickle.dumps(a)
    with pytest.raises(AttributeError):
        a.undeclared = 1
    with pytest.raises(TypeError):
        iter(a)
    with pytest.raises(TypeError):
        a + b


@pytest.mark.parametrize("cls", RECORDS, ids=lambda c: c.__name__)
def test_text_form_is_repr_and_str(cls):
    record = cls()
    assert repr(record) == str(record)
    assert repr(record).startswith(cls.__name__ + "(")


@pytest.mark.parametrize("value, text", [
    (1.0, "1"), (-10.0, "-10"), (0.01, "0.01"), (1 / 3, "0.333333"), (0.0001, "0.0001"),
    (0.00001, "1e-05"), (1234567.0, "1.23457e+06"), (123456789.0, "1.23457e+08"),
    (-0.0, "-0"), (1e-7, "1e-07"), (float("inf"), "inf"), (float("-inf"), "-inf"),
    (float("nan"), "nan"),
])
def test_number_formatting(value, text):
    assert repr(foundation.PidGains(value, 0.0, 0.0)) == f"PidGains(kp={text}, ki=0, kd=0)"


def test_text_form_ignores_the_program_locale(tmp_path):
    run = run_python(
        """
        import locale
        for name in ("de_DE.UTF-8", "C.UTF-8"):
            try:
                locale.setlocale(locale.LC_ALL, name)
                break
            except locale.Error:
                pass
        import foundation
        print(repr(foundation.PidGains(1234.5, 0.5, 0)))
        """,
        tmp_path,
    )
    assert run.stdout.strip() == "PidGains(kp=1234.5, ki=0.5, kd=0)"


def test_int_is_stored_as_float_and_str_is_refused():
    config = foundation.PidConfig(kp=2)
    assert type(config.kp) is float and config.kp == 2.0
    config.ki = 3
    assert type(config.ki) is float and config.ki == 3.0
    with pytest.raises(TypeError):
        config.kd = "1.0"
    assert config.kd == 0.0
    with pytest.raises(TypeError):
        foundation.PidConfig(kp="2")


def test_object_with_float_conversion_is_accepted():
    class Number:
        def __float__(self):
            return 2.5

    assert foundation.PidConfig(kp=Number()).kp == 2.5


@pytest.mark.parametrize("call", [
    lambda: foundation.PidConfig(1, 2, 3, 4, 5, 6, 7, 8, 9),
    lambda: foundation.PidConfig(gain=1.0),
    lambda: foundation.PidController(None),
    lambda: foundation.PidController(foundation.PidGains()),
    lambda: foundation.PidController().update(1.0),
    lambda: foundation.PidController().update(1.0, 0.1, 0.2),
    lambda: foundation.PidController().update("1", 0.1),
    lambda: foundation.PidController().set_gains(1.0, 2.0),
])
def test_bad_arguments_raise_type_error(call):
    with pytest.raises(TypeError, match="incompatible"):
        call()


def test_signature_shows_default_record_text():
    assert ("config: foundation.PidConfig = PidConfig(kp=1, ki=0, kd=0, integral_max=10, "
            "integral_deadband=0.01, derivative_lpf_alpha=0.1, output_min=-10, output_max=10)"
            ) in foundation.PidController.__init__.__doc__

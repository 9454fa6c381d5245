"""The process-wide SpeedMode flag, in a fresh interpreter per case."""

import numpy as np
import pytest

import foundation
from support import run_python


@pytest.fixture
def flag():
    """Leaves the flag off for the next test in this process."""
    foundation.set_speed_mode_enabled(False)
    yield
    foundation.set_speed_mode_enabled(False)


def test_starts_off_and_survives_logging(tmp_path):
    run = run_python(
        """
        import foundation as f
        print(f.is_speed_mode_enabled())
        f.set_speed_mode_enabled(True)
        f.initialize_logging(); f.shutdown_logging(); f.initialize_logging()
        print(f.is_speed_mode_enabled())
        """,
        tmp_path,
    )
    assert run.printed == ["False", "True"]


@pytest.mark.parametrize("value, expected", [
    (True, True), (False, False), (1, True), (2.5, True), (0, False), (None, False),
    (np.bool_(True), True), (np.bool_(False), False), (np.int32(3), True), (0.0, False),
])
def test_accepted_values(flag, value, expected):
    foundation.set_speed_mode_enabled(not expected)
    foundation.set_speed_mode_enabled(value)
    assert foundation.is_speed_mode_enabled() is expected


class RaisingTruth:
    def __bool__(self):
        raise RuntimeError("no truth")


@pytest.mark.parametrize("value", ["yes", "", [1], (), {}, RaisingTruth(), object()])
def test_refused_values_keep_the_flag(flag, value):
    foundation.set_speed_mode_enabled(True)
    with pytest.raises(TypeError):
        foundation.set_speed_mode_enabled(value)
    assert foundation.is_speed_mode_enabled() is True


def test_keyword_and_missing_argument(flag):
    foundation.set_speed_mode_enabled(enabled=True)
    assert foundation.is_speed_mode_enabled() is True
    with pytest.raises(TypeError):
        foundation.set_speed_mode_enabled()


def test_docstrings():
    assert foundation.is_speed_mode_enabled.__doc__ == (
        "is_speed_mode_enabled() -> bool\n\n"
        "Return True if SpeedMode is currently active (BEMF disabled).\n")
    assert foundation.set_speed_mode_enabled.__doc__ == (
        "set_speed_mode_enabled(enabled: bool) -> None\n\n"
        "Set the process-wide SpeedMode flag. Should only be called by the `SetSpeedMode` step "
        "after the firmware has acknowledged the BEMF-disable command; calling it directly "
        "bypasses the firmware handshake and leaves the library/firmware state inconsistent.\n")

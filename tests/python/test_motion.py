"""ChassisVelocity and Pose."""

import gc
import math

import numpy as np
import pytest

from foundation import ChassisVelocity, Pose


def test_chassis_velocity_constructors_and_text():
    assert repr(ChassisVelocity()) == "ChassisVelocity(vx=0, vy=0, wz=0)"
    v = ChassisVelocity(0.5, -0.25, 1.5)
    assert str(v) == repr(v) == "ChassisVelocity(vx=0.5, vy=-0.25, wz=1.5)"
    a, b = ChassisVelocity(1.0, 0.0, 0.5), ChassisVelocity(vx=1.0, vy=0.0, wz=0.5)
    assert repr(a) == repr(b) and a != b
    assert repr(ChassisVelocity(1234567.0, 1e-7, 2)) == (
        "ChassisVelocity(vx=1.23457e+06, vy=1e-07, wz=2)")
    v.wz = 3
    assert v.wz == 3.0 and type(v.wz) is float


@pytest.mark.parametrize("call", [
    lambda: ChassisVelocity(vx=1.0), lambda: ChassisVelocity(1.0, 2.0),
    lambda: ChassisVelocity("1", 0, 0), lambda: Pose(position=[1, 2, 3]),
    lambda: Pose(heading=1.0), lambda: Pose(1.0),
])
def test_constructors_refuse_bad_arguments(call):
    with pytest.raises(TypeError, match="incompatible"):
        call()


def test_pose_defaults_and_text():
    pose = Pose()
    assert repr(pose) == "Pose(position=[0, 0, 0], heading=0)"
    pose.position = [1.5, -2, 0.25]
    pose.heading = math.pi
    assert str(pose) == repr(pose) == "Pose(position=[1.5, -2, 0.25], heading=3.14159)"


def test_heading_is_a_32_bit_float():
    pose = Pose()
    pose.heading = 0.1
    assert pose.heading == 0.10000000149011612
    assert repr(pose).endswith("heading=0.1)")
    with pytest.raises(TypeError):
        pose.heading = "north"
    assert pose.heading == 0.10000000149011612


HALFWAY = 3.4028235677973366e38  # between the largest float and 2**128: rounds up


@pytest.mark.parametrize("value", [
    1e300, -1e300, math.inf, -math.inf, HALFWAY, -HALFWAY, math.nextafter(HALFWAY, 0),
    -math.nextafter(HALFWAY, 0), 3.4028235e38, 3.4028234663852886e38, 1e-50, -1e-50, 1e-45,
])
def test_heading_outside_float_range_rounds_like_ieee(value):
    pose = Pose()
    pose.heading = value
    with np.errstate(over="ignore"):
        expected = float(np.array(value).astype(np.float32))
    assert pose.heading == expected
    assert math.copysign(1, pose.heading) == math.copysign(1, expected)


def test_heading_nan_stays_nan():
    pose = Pose()
    pose.heading = math.nan
    assert math.isnan(pose.heading)


@pytest.mark.parametrize("value", [
    [1, 2, 3], (1.0, 2.0, 3.0), np.array([1, 2, 3], dtype=np.int64),
    np.array([[1.0], [2.0], [3.0]]), np.array([1, 2, 3], dtype=np.float64),
    np.array([1, 2, 3], dtype=np.uint8), np.array([1, 2, 3], dtype=np.float32),
])
def test_position_accepts_three_vectors(value):
    pose = Pose()
    pose.position = value
    position = pose.position
    assert position.dtype == np.float32 and position.shape == (3,) and position.strides == (4,)
    assert position.tolist() == [1.0, 2.0, 3.0]


def test_position_bool_array_converts():
    pose = Pose()
    pose.position = np.array([True, False, True])
    assert pose.position.tolist() == [1.0, 0.0, 1.0]


@pytest.mark.parametrize("value", [
    [1, 2], [1, 2, 3, 4], np.zeros((1, 3)), np.zeros((3, 3)), np.zeros(2), np.zeros(4),
    5.0, np.float32(1.0), "abc", ["a", "b", "c"], None, [[1, 2, 3]],
])
def test_position_refuses_other_shapes(value):
    pose = Pose()
    pose.position = [7, 8, 9]
    with pytest.raises(TypeError):
        pose.position = value
    assert pose.position.tolist() == [7.0, 8.0, 9.0]


def test_position_is_a_read_only_view():
    pose = Pose()
    first = pose.position
    assert first.base is pose and not first.flags.writeable
    with pytest.raises(ValueError):
        first[0] = 1.0
    with pytest.raises(ValueError):
        first += 1.0
    pose.position = [4, 5, 6]
    assert first.tolist() == [4.0, 5.0, 6.0]
    second = pose.position
    assert second is not first and np.shares_memory(first, second)


def test_position_view_keeps_pose_alive():
    pose = Pose()
    pose.position = [1, 2, 3]
    view = pose.position
    del pose
    gc.collect()
    assert view.tolist() == [1.0, 2.0, 3.0]


def test_position_signature():
    assert "numpy.ndarray[numpy.float32[3, 1]]" in Pose.position.fget.__doc__


def test_motion_needs_no_numpy_until_position(tmp_path):
    from support import run_python
    run = run_python(
        """
        import sys, foundation
        v = foundation.ChassisVelocity(1, 2, 3); p = foundation.Pose(); p.heading = 1.0; repr(p)
        print("numpy" in sys.modules)
        p.position
        print("numpy" in sys.modules)
        """,
        tmp_path,
    )
    assert run.printed == ["False", "True"]


def test_position_without_numpy_raises_the_import_error(tmp_path):
    from support import run_python
    run = run_python(
        """
        import sys
        sys.modules["numpy"] = None  # NumPy cannot be imported
        import foundation
        p = foundation.Pose()
        p.heading = 2.0
        for access in (lambda: p.position, lambda: setattr(p, "position", [1, 2, 3])):
            try:
                access()
            except ImportError:
                print("ImportError")
        print(p)
        """,
        tmp_path,
    )
    assert run.printed == ["ImportError", "ImportError", "Pose(position=[0, 0, 0], heading=2)"]

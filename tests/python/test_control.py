"""PidGains, Feedforward, MotorCalibration and FeedforwardController."""

import gc
import math

import pytest

from foundation import Feedforward, FeedforwardController, MotorCalibration, PidGains


@pytest.mark.parametrize("velocity, acceleration, expected", [
    (1.5, 0.0, 3.25), (-1.5, 2.0, -2.25), (0.0, 2.0, 1.0), (-0.0, -2.0, -1.0),
    (1e-9, 0.0, 0.250000002), (-1e-9, 0.0, -0.250000002), (0.0, 0.0, 0.0),
    (1e-300, 0.0, 0.25), (-1e-300, 0.0, -0.25),
])
def test_calculate_table(velocity, acceleration, expected):
    controller = FeedforwardController(Feedforward(kS=0.25, kV=2.0, kA=0.5))
    assert controller.calculate(velocity, acceleration) == pytest.approx(expected, rel=1e-12)


def test_calculate_non_finite():
    controller = FeedforwardController(Feedforward(0.25, 2.0, 0.5))
    assert math.isnan(controller.calculate(math.nan))
    assert math.isnan(controller.calculate(1.0, math.nan))
    assert controller.calculate(math.inf) == math.inf
    assert controller.calculate(-math.inf, 1.0) == -math.inf


def test_calculate_defaults():
    controller = FeedforwardController(Feedforward(kS=0.1, kV=2.0, kA=5.0))
    assert controller.calculate(1.0) == pytest.approx(2.1)
    assert controller.calculate(velocity=1.0, acceleration=0.0) == pytest.approx(2.1)
    default = FeedforwardController()
    assert all(default.calculate(v, a) == 0.0 for v in (-3.0, 0.0, 2.5) for a in (-1.0, 0.0, 7.0))


def test_config_is_a_view_and_assignments_copy():
    controller = FeedforwardController()
    controller.config.kS = 0.2
    assert controller.calculate(1.0) == 0.2
    record = Feedforward(1.0, 0.0, 0.0)
    controller.config = record
    record.kS = 9.0
    assert controller.calculate(1.0) == 1.0
    passed = Feedforward(0.5, 0.0, 0.0)
    controller = FeedforwardController(passed)
    passed.kS = 7.0
    assert controller.calculate(1.0) == 0.5


def test_config_view_keeps_controller_alive():
    controller = FeedforwardController(Feedforward(0.3, 0.0, 0.0))
    view = controller.config
    del controller
    gc.collect()
    assert view.kS == 0.3
    view.kS = 0.4
    assert view.kS == 0.4


@pytest.mark.parametrize("obj, text", [
    (PidGains(), "PidGains(kp=1, ki=0, kd=0)"),
    (PidGains(2.5, 0.1, 0.0), "PidGains(kp=2.5, ki=0.1, kd=0)"),
    (Feedforward(), "Feedforward(kS=0, kV=0, kA=0)"),
    (Feedforward(123456789.0, 1e-7, -0.0), "Feedforward(kS=1.23457e+08, kV=1e-07, kA=-0)"),
    (MotorCalibration(), "MotorCalibration(ticks_to_rad=0.00436332, vel_lpf_alpha=0.5, pid=None)"),
    (MotorCalibration(0.01, 0.3), "MotorCalibration(ticks_to_rad=0.01, vel_lpf_alpha=0.3, pid=None)"),
    (MotorCalibration(0.01, 0.3, None),
     "MotorCalibration(ticks_to_rad=0.01, vel_lpf_alpha=0.3, pid=None)"),
    (MotorCalibration(math.pi / 720, 0.5, PidGains(2.5, 0.1, 0.0)),
     "MotorCalibration(ticks_to_rad=0.00436332, vel_lpf_alpha=0.5, "
     "pid=PidGains(kp=2.5, ki=0.1, kd=0))"),
])
def test_text_forms(obj, text):
    assert repr(obj) == str(obj) == text


def test_calibration_defaults():
    calibration = MotorCalibration()
    assert calibration.ticks_to_rad == math.pi / 720 == 0.004363323129985824
    assert calibration.vel_lpf_alpha == 0.5 and calibration.pid is None


def test_pid_view_copy_and_emptying():
    calibration = MotorCalibration()
    gains = PidGains(2.0, 0.0, 0.0)
    calibration.pid = gains
    gains.kp = 99.0
    assert calibration.pid.kp == 2.0
    calibration.pid.kp = 3.0
    assert repr(calibration).endswith("pid=PidGains(kp=3, ki=0, kd=0))")
    calibration.pid = None
    assert calibration.pid is None
    assert repr(calibration).endswith(", pid=None)")


def test_pid_view_after_emptying_is_detached_but_safe():
    calibration = MotorCalibration(0.01, 0.3, PidGains(2.0, 0.5, 0.1))
    view = calibration.pid
    calibration.pid = None
    assert (view.kp, view.ki, view.kd) == (2.0, 0.5, 0.1)  # the last gains
    view.kp = 5.0
    assert calibration.pid is None  # writing never makes pid present again
    calibration.pid = PidGains(7.0, 0.0, 0.0)
    assert view.kp == 7.0  # gains assigned later show through
    del calibration
    gc.collect()
    assert view.kp == 7.0  # the view keeps its owner alive


def test_constructor_copies_pid():
    gains = PidGains(1.5, 0.0, 0.0)
    calibration = MotorCalibration(ticks_to_rad=0.1, vel_lpf_alpha=0.2, pid=gains)
    gains.kp = 0.0
    assert calibration.pid.kp == 1.5


def test_fields_are_read_write_without_validation():
    calibration = MotorCalibration()
    calibration.ticks_to_rad = -1
    calibration.vel_lpf_alpha = 7
    assert (calibration.ticks_to_rad, calibration.vel_lpf_alpha) == (-1.0, 7.0)
    gains, ff = PidGains(), Feedforward()
    gains.kd, ff.kA = -2, 3
    assert (gains.kd, ff.kA) == (-2.0, 3.0)


@pytest.mark.parametrize("call", [
    lambda: PidGains(kp=2.0),
    lambda: PidGains(1.0, 2.0),
    lambda: Feedforward(kS=0.1),
    lambda: MotorCalibration(0.1),
    lambda: MotorCalibration(0.1, 0.2, PidGains(), 4),
    lambda: MotorCalibration(0.1, 0.2, Feedforward()),
    lambda: FeedforwardController(None),
    lambda: FeedforwardController(PidGains()),
    lambda: FeedforwardController().calculate(),
    lambda: FeedforwardController().calculate("1"),
])
def test_overloads_refuse_bad_arguments(call):
    with pytest.raises(TypeError, match="incompatible"):
        call()


def test_full_keyword_sets_succeed():
    assert repr(PidGains(kp=2.0, ki=0.0, kd=0.1)) == "PidGains(kp=2, ki=0, kd=0.1)"
    assert repr(Feedforward(kS=1, kV=2, kA=3)) == "Feedforward(kS=1, kV=2, kA=3)"


@pytest.mark.parametrize("attr, value", [("pid", Feedforward()), ("pid", 1.0), ("config", None)])
def test_bad_record_assignment_changes_nothing(attr, value):
    owner = MotorCalibration(0.1, 0.2, PidGains(3.0, 0.0, 0.0)) if attr == "pid" \
        else FeedforwardController(Feedforward(1.0, 0.0, 0.0))
    before = repr(getattr(owner, attr))
    with pytest.raises(TypeError):
        setattr(owner, attr, value)
    assert repr(getattr(owner, attr)) == before


def test_signatures():
    assert "config: foundation.Feedforward = Feedforward(kS=0, kV=0, kA=0)" in \
        FeedforwardController.__init__.__doc__
    assert "pid: Optional[foundation.PidGains] = None" in MotorCalibration.__init__.__doc__
    assert "acceleration: float = 0.0" in FeedforwardController.calculate.__doc__

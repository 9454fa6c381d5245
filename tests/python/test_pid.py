"""PidConfig and PidController."""

import math

import pytest

from foundation import PidConfig, PidController

DEFAULT_TEXT = ("PidConfig(kp=1, ki=0, kd=0, integral_max=10, integral_deadband=0.01, "
                "derivative_lpf_alpha=0.1, output_min=-10, output_max=10)")
FIELDS = ["kp", "ki", "kd", "integral_max", "integral_deadband", "derivative_lpf_alpha",
          "output_min", "output_max"]


def run_steps(controller, steps):
    """Returns (result, integral, derivative) after each (error, dt) step."""
    out = []
    for error, dt in steps:
        result = controller.update(error, dt)
        out.append((result, controller.integral, controller.derivative))
    return out


def assert_rows(actual, expected):
    for got, want in zip(actual, expected, strict=True):
        assert got == pytest.approx(want, rel=1e-9, abs=1e-12)


def test_config_defaults_and_text_form():
    config = PidConfig()
    assert [getattr(config, f) for f in FIELDS] == [1.0, 0.0, 0.0, 10.0, 0.01, 0.1, -10.0, 10.0]
    assert repr(config) == str(config) == DEFAULT_TEXT
    assert repr(PidConfig(kp=2, output_max=1e7)) == (
        "PidConfig(kp=2, ki=0, kd=0, integral_max=10, integral_deadband=0.01, "
        "derivative_lpf_alpha=0.1, output_min=-10, output_max=1e+07)")


def test_config_positional_arguments_in_field_order():
    config = PidConfig(1, 2, 3, 4, 5, 6, 7, 8)
    assert [getattr(config, f) for f in FIELDS] == [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0]


def test_config_fields_are_writable_without_validation():
    config = PidConfig()
    for f in FIELDS:
        setattr(config, f, -123.5)
    assert [getattr(config, f) for f in FIELDS] == [-123.5] * 8


@pytest.mark.parametrize("config, steps, expected", [
    pytest.param(PidConfig(), [(1.0, 0.1), (1.0, 0.1)],
                 [(1.0, 0.1, 0.0), (1.0, 0.2, 0.0)], id="defaults"),
    pytest.param(PidConfig(kp=2.0, ki=0.5, kd=0.1),
                 [(1.0, 0.1), (0.5, 0.1), (0.005, 0.1), (0.5, 0.0)],
                 [(2.05, 0.1, 0.0), (1.025, 0.15, -0.5), (-0.0095, 0.15, -0.945),
                  (0.0, 0.15, -0.945)], id="pid-with-deadband-and-dt-guard"),
    pytest.param(PidConfig(kp=1.0, ki=1.0, integral_max=0.25),
                 [(2.0, 0.1)] * 4,
                 [(2.2, 0.2, 0.0), (2.25, 0.25, 0.0), (2.25, 0.25, 0.0), (2.25, 0.25, 0.0)],
                 id="integral-limit"),
    pytest.param(PidConfig(kp=100.0), [(1.0, 0.1), (-1.0, 0.1)],
                 [(10.0, 0.1, 0.0), (-10.0, 0.0, -2.0)], id="output-limits"),
])
def test_worked_examples(config, steps, expected):
    assert_rows(run_steps(PidController(config), steps), expected)


@pytest.mark.parametrize("alpha, outputs", [
    (1.0, [0.0, 10.0, 0.0]),
    (0.1, [0.0, 1.0, 0.9]),
    (-1.0, [0.0, 0.0, 0.0]),
    (2.0, [0.0, 10.0, 0.0]),
])
def test_derivative_filter_coefficient_is_clamped(alpha, outputs):
    controller = PidController(PidConfig(kp=0.0, kd=1.0, derivative_lpf_alpha=alpha))
    got = [controller.update(e, 0.1) for e in (0.0, 1.0, 1.0)]
    assert got == pytest.approx(outputs)


@pytest.mark.parametrize("dt", [0.0, -0.1, -math.inf])
def test_non_positive_dt_changes_nothing(dt):
    controller = PidController(PidConfig(kp=1.0, kd=1.0, derivative_lpf_alpha=1.0))
    assert controller.update(5.0, dt) == 0.0
    assert (controller.integral, controller.derivative) == (0.0, 0.0)
    # Still the first update: derivative value 0, so only kp * error.
    assert controller.update(1.0, 0.1) == pytest.approx(1.0)
    controller.update(3.0, 0.1)
    before = (controller.integral, controller.derivative)
    assert controller.update(100.0, dt) == 0.0
    assert (controller.integral, controller.derivative) == before
    # The previous error is still 3.0: raw derivative (3 - 3) / 0.1 = 0.
    assert controller.update(3.0, 0.1) == pytest.approx(3.0)


@pytest.mark.parametrize("error, accumulates", [
    (0.01, False), (-0.01, False), (0.0100001, True), (-0.0100001, True), (math.nan, False),
])
def test_deadband_is_strict(error, accumulates):
    controller = PidController()
    controller.update(error, 1.0)
    assert (controller.integral != 0.0) == accumulates


@pytest.mark.parametrize("error, dt, integral", [
    (1.0, 0.1, -1.0),     # sum 0.1 above -1: upper test wins
    (-310.0, 0.1, 1.0),   # sum -31: not above -1, below 1
])
def test_negative_integral_max(error, dt, integral):
    controller = PidController(PidConfig(integral_max=-1.0))
    controller.update(error, dt)
    assert controller.integral == integral


@pytest.mark.parametrize("kp, error, result", [(0.0, 1.0, -5.0), (20.0, -1.0, 5.0)])
def test_inverted_output_limits(kp, error, result):
    controller = PidController(PidConfig(kp=kp, output_min=5.0, output_max=-5.0))
    assert controller.update(error, 0.1) == result


def test_reset_restarts_integral_and_first_update():
    controller = PidController(PidConfig(kp=1.0, ki=1.0, kd=1.0, derivative_lpf_alpha=1.0))
    run_steps(controller, [(1.0, 0.1), (2.0, 0.1)])
    controller.reset()
    assert (controller.integral, controller.derivative) == (0.0, 0.0)
    assert controller.update(5.0, 0.1) == pytest.approx(5.0 + 0.5)
    assert controller.integral == pytest.approx(0.5)


def test_set_gains_keeps_state_and_rescales_integral():
    controller = PidController()
    run_steps(controller, [(1.0, 0.1), (1.0, 0.1)])
    controller.set_gains(2.0, 1.0, 0.0)
    assert controller.integral == pytest.approx(0.2)
    assert controller.update(1.0, 0.1) == pytest.approx(2.3)


def test_set_gains_keeps_first_update_pending_and_limits():
    controller = PidController(PidConfig(output_max=1.0))
    controller.set_gains(0.0, 0.0, 100.0)
    assert controller.update(1.0, 0.1) == 0.0  # still the first update: derivative 0
    controller.set_gains(100.0, 0.0, 0.0)
    assert controller.update(1.0, 0.1) == 1.0  # output_max kept from construction


def test_nan_error_poisons_until_reset():
    controller = PidController(PidConfig(kd=0.0))
    assert math.isnan(controller.update(math.nan, 0.1))
    assert math.isnan(controller.update(1.0, 0.1))
    assert math.isnan(controller.derivative)
    assert math.isnan(controller.update(1.0, 0.1))
    controller.reset()
    assert controller.update(1.0, 0.1) == 1.0


def test_nan_dt_is_processed():
    controller = PidController()
    controller.update(1.0, 0.1)
    assert math.isnan(controller.update(1.0, math.nan))
    assert math.isnan(controller.integral) and math.isnan(controller.derivative)


def test_infinite_error_is_limited():
    controller = PidController()
    assert controller.update(math.inf, 0.1) == 10.0
    assert controller.integral == 10.0


def test_controller_copies_config():
    config = PidConfig(kp=2.0)
    controller = PidController(config)
    config.kp = 50.0
    assert controller.update(1.0, 0.1) == 2.0


def test_default_controller_matches_default_config():
    steps = [(1.0, 0.1), (0.5, 0.05), (-3.0, 0.2), (0.001, 0.1)]
    assert run_steps(PidController(), steps) == run_steps(PidController(PidConfig()), steps)


def test_controller_has_no_config_or_text_form():
    controller = PidController()
    assert not hasattr(controller, "config")
    assert repr(controller).startswith("<foundation.PidController object at")
    with pytest.raises(AttributeError):
        controller.integral = 1.0


class Number:
    def __float__(self):
        return 0.5


@pytest.mark.parametrize("call", [
    lambda c: c.update(0.5, 0.1),
    lambda c: c.update(error=0.5, dt=0.1),
    lambda c: c.update(0.5, dt=0.1),
    lambda c: c.update(Number(), 0.1),
    lambda c: PidController.update(c, 0.5, 0.1),
    lambda c: type("Sub", (PidController,), {})(PidConfig(kp=3.0)).update(0.5, 0.1),
])
def test_every_call_shape_gives_the_same_result(call):
    assert call(PidController(PidConfig(kp=3.0))) == 1.5


@pytest.mark.parametrize("call", [
    lambda: PidController.update(PidConfig(), 0.5, 0.1),
    lambda: PidController().update(0.5, 0.1, extra=1),
    lambda: PidController().update(),
])
def test_odd_call_shapes_raise_type_error(call):
    with pytest.raises(TypeError):
        call()

"""Velocity control of a simulated DC motor with foundation.

A first-order motor model (time constant TAU, GAIN rad/s per volt) turns a
shaft whose encoder counts 1440 ticks per revolution. Every 10 ms the loop
reads the tick count, turns it into radians with MotorCalibration.ticks_to_rad,
low-pass filters the measured velocity, and drives the motor with a
FeedforwardController output plus a PidController correction. The run is
logged through foundation's logger, with a per-package threshold at work, and
the program prints the step response, a summary and where the log file is; it
draws the step response to a PNG when matplotlib is installed.
"""

from __future__ import annotations

import argparse
import math
from dataclasses import dataclass
from pathlib import Path

import foundation
from foundation import (Feedforward, FeedforwardController, Level, MotorCalibration, PidConfig,
                        PidController, PidGains)

RATE_HZ = 100.0
TAU = 0.25           # motor time constant, s
GAIN = 2.0           # steady-state rad/s per volt
STATIC_VOLTS = 0.3   # voltage the motor needs before it moves at all
# Path the simulated encoder driver logs under: its package threshold hides its chatter.
ENCODER_SOURCE = "/opt/site-packages/korvex/sim/encoder.py"


@dataclass
class Sample:
    t: float
    setpoint: float
    measured: float
    output: float


def setpoint_at(t: float) -> float:
    return 0.0 if t < 0.2 else (10.0 if t < 2.0 else 5.0)


def simulate(seconds: float, use_feedforward: bool = True, log: bool = False) -> list[Sample]:
    dt = 1.0 / RATE_HZ
    calibration = MotorCalibration(2 * math.pi / 1440, 0.5, PidGains(0.3, 1.0, 0.0))
    gains = calibration.pid
    pid = PidController(PidConfig(kp=gains.kp, ki=gains.ki, kd=gains.kd, integral_max=20.0,
                                  output_min=-12.0, output_max=12.0))
    ff = FeedforwardController(Feedforward(kS=STATIC_VOLTS, kV=1.0 / GAIN,
                                           kA=0.02) if use_feedforward else Feedforward())
    velocity = 0.0          # true shaft velocity, rad/s
    angle = 0.0             # true shaft angle, rad
    last_ticks = 0
    measured = 0.0
    previous_setpoint = 0.0
    samples = []
    for step in range(int(round(seconds * RATE_HZ))):
        t = step * dt
        ticks = int(angle / calibration.ticks_to_rad)
        raw = (ticks - last_ticks) * calibration.ticks_to_rad / dt
        last_ticks = ticks
        alpha = calibration.vel_lpf_alpha
        measured = alpha * raw + (1 - alpha) * measured
        target = setpoint_at(t)
        acceleration = (target - previous_setpoint) / dt
        previous_setpoint = target
        output = ff.calculate(target, acceleration) + pid.update(target - measured, dt)
        output = max(-12.0, min(12.0, output))
        drive = math.copysign(max(0.0, abs(output) - STATIC_VOLTS), output)
        velocity += dt / TAU * (GAIN * drive - velocity)
        angle += velocity * dt
        samples.append(Sample(t + dt, target, measured, output))
        if log and step % 25 == 0:
            foundation._log_filtered(Level.debug, __file__,
                                     f"t={t + dt:.2f} sp={target:.1f} v={measured:.3f} u={output:.3f}")
        if log:
            foundation._log_filtered(Level.info, ENCODER_SOURCE, f"ticks={ticks}")
            if abs(target - measured) > 4.0 and step % 10 == 0:
                foundation._log_filtered(Level.warn, ENCODER_SOURCE,
                                         f"large tracking error {target - measured:+.2f} rad/s")
    return samples


@dataclass
class Summary:
    rise_time: float
    overshoot_pct: float
    final_error: float


def summarize(samples: list[Sample]) -> Summary:
    first = [s for s in samples if 0.2 <= s.t - 1e-9 < 2.0] or samples
    target = first[0].setpoint or 1.0
    rise = next((s.t - 0.2 for s in first if s.measured >= 0.9 * target), math.nan)
    peak = max(s.measured for s in first)
    return Summary(rise, max(0.0, (peak - target) / target * 100.0),
                   samples[-1].setpoint - samples[-1].measured)


def plot(samples: list[Sample], path: Path) -> bool:
    try:
        import matplotlib
    except ImportError:
        return False
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = [s.t for s in samples]
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(8, 6))
    top.plot(t, [s.setpoint for s in samples], label="setpoint")
    top.plot(t, [s.measured for s in samples], label="measured velocity")
    top.set_ylabel("rad/s")
    top.legend()
    bottom.plot(t, [s.output for s in samples], color="tab:red", label="controller output")
    bottom.set_ylabel("V")
    bottom.set_xlabel("time [s]")
    bottom.legend()
    fig.suptitle("Velocity step response: PID + feedforward")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return True


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=4.0, help="simulated time (s)")
    parser.add_argument("--plot", type=Path, default=Path("examples/step_response.png"),
                        help="where to write the PNG (needs matplotlib)")
    parser.add_argument("--no-plot", action="store_true", help="skip the PNG")
    args = parser.parse_args(argv)

    foundation.initialize_logging()
    foundation.set_global_level(Level.debug)
    foundation.set_package_level("korvex/sim", Level.warn)  # hides the encoder's info chatter
    foundation.info("velocity step response demo starting")
    samples = simulate(args.seconds, log=True)
    without_ff = summarize(simulate(args.seconds, use_feedforward=False))
    foundation.shutdown_logging()

    print(f"{'t [s]':>6} {'setpoint':>9} {'velocity':>9} {'output [V]':>10}")
    for s in samples[9::25]:
        print(f"{s.t:6.2f} {s.setpoint:9.2f} {s.measured:9.3f} {s.output:10.3f}")
    summary = summarize(samples)
    print(f"with feedforward:    rise time (90%) {summary.rise_time:.2f} s, "
          f"overshoot {summary.overshoot_pct:.1f} %, final error {summary.final_error:+.4f} rad/s")
    print(f"without feedforward: rise time (90%) {without_ff.rise_time:.2f} s, "
          f"overshoot {without_ff.overshoot_pct:.1f} %, final error {without_ff.final_error:+.4f} rad/s")
    print(f"log file: {Path('.vantrel/logs/korvex.log').resolve()}")
    if not args.no_plot:
        if plot(samples, args.plot):
            print(f"plot: {args.plot.resolve()}")
        else:
            print("plot: skipped (matplotlib is not installed)")


if __name__ == "__main__":
    main()

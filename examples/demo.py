"""Velocity control of a simulated DC motor with foundation's PidController.

The motor is a first-order model (time constant TAU, gain GAIN rad/s per volt)
stepped at 100 Hz. The controller gets the velocity error and the step time
and returns a voltage; the program prints the step response and a summary.
"""

from __future__ import annotations

import argparse

from foundation import PidConfig, PidController

RATE_HZ = 100.0
TAU = 0.25          # motor time constant, s
GAIN = 2.0          # steady-state rad/s per volt
SETPOINT = 10.0     # rad/s


def simulate(seconds: float):
    dt = 1.0 / RATE_HZ
    controller = PidController(PidConfig(kp=0.8, ki=2.0, kd=0.0, integral_max=20.0,
                                         output_min=-12.0, output_max=12.0))
    velocity = 0.0
    rows = []
    for step in range(int(seconds * RATE_HZ)):
        t = step * dt
        output = controller.update(SETPOINT - velocity, dt)
        velocity += dt / TAU * (GAIN * output - velocity)
        rows.append((t + dt, SETPOINT, velocity, output))
    return rows


def summarize(rows):
    rise = next((t for t, sp, v, _ in rows if v >= 0.9 * sp), float("nan"))
    peak = max(v for _, _, v, _ in rows)
    overshoot = max(0.0, (peak - SETPOINT) / SETPOINT * 100.0)
    final_error = SETPOINT - rows[-1][2]
    return rise, overshoot, final_error


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=float, default=3.0, help="simulated time")
    args = parser.parse_args()
    rows = simulate(args.seconds)
    print(f"{'t [s]':>6} {'setpoint':>9} {'velocity':>9} {'output [V]':>10}")
    for t, sp, v, u in rows[9::20]:
        print(f"{t:6.2f} {sp:9.2f} {v:9.3f} {u:10.3f}")
    rise, overshoot, final_error = summarize(rows)
    print(f"rise time (90%) {rise:.2f} s, overshoot {overshoot:.1f} %, "
          f"final error {final_error:+.4f} rad/s")


if __name__ == "__main__":
    main()

"""A typed control step, checked with `mypy --strict` against the shipped stubs."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

import foundation
from foundation import (ChassisVelocity, Feedforward, FeedforwardController, Level,
                        MotorCalibration, PidConfig, PidController, PidGains, Pose)


def make_controllers(calibration: MotorCalibration) -> tuple[PidController, FeedforwardController]:
    gains: PidGains | None = calibration.pid
    config = PidConfig(kp=gains.kp, ki=gains.ki, kd=gains.kd) if gains else PidConfig()
    return PidController(config), FeedforwardController(Feedforward(kS=0.3, kV=0.5, kA=0.02))


def step(pid: PidController, ff: FeedforwardController, target: float, measured: float,
         dt: float) -> float:
    return ff.calculate(target) + pid.update(target - measured, dt)


def pose_after(velocity: ChassisVelocity, dt: float) -> Pose:
    pose = Pose()
    delta: npt.NDArray[np.float64] = np.array([velocity.vx * dt, velocity.vy * dt, 0.0])
    pose.position = delta
    pose.heading = velocity.wz * dt
    return pose


def main() -> None:
    calibration = MotorCalibration(ticks_to_rad=0.0043633, vel_lpf_alpha=0.5,
                                   pid=PidGains(0.3, 1.0, 0.0))
    pid, ff = make_controllers(calibration)
    output = step(pid, ff, target=10.0, measured=0.0, dt=0.01)
    position: npt.NDArray[np.float32] = pose_after(ChassisVelocity(1.0, 0.0, 0.5), 0.1).position
    foundation.set_package_level("korvex/sim", Level.warn)
    enabled: bool = foundation.is_speed_mode_enabled()
    print(f"output {output:.3f} V, position {position.tolist()}, speed mode {enabled}")


if __name__ == "__main__":
    main()

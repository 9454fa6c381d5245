"""
Python bindings for korvex-foundation
"""
from __future__ import annotations

import typing

import numpy
import numpy.typing

# Parameters of type float take anything with __float__ (ints, NumPy scalars).
_Float: typing.TypeAlias = typing.SupportsFloat
class PidConfig:
    derivative_lpf_alpha: float
    integral_deadband: float
    integral_max: float
    kd: float
    ki: float
    kp: float
    output_max: float
    output_min: float
    def __init__(self, kp: _Float = 1.0, ki: _Float = 0.0, kd: _Float = 0.0, integral_max: _Float = 10.0, integral_deadband: _Float = 0.01, derivative_lpf_alpha: _Float = 0.1, output_min: _Float = -10.0, output_max: _Float = 10.0) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
class PidController:
    def __init__(self, config: PidConfig = ...) -> None:
        ...
    def reset(self) -> None:
        ...
    def set_gains(self, kp: _Float, ki: _Float, kd: _Float) -> None:
        ...
    def update(self, error: _Float, dt: _Float) -> float:
        ...
    @property
    def derivative(self) -> float:
        ...
    @property
    def integral(self) -> float:
        ...
class Level:
    """
    Members:
    
      trace
    
      debug
    
      info
    
      warn
    
      error
    
      critical
    
      off
    """
    __members__: typing.ClassVar[dict[str, Level]]
    critical: typing.ClassVar[Level]
    debug: typing.ClassVar[Level]
    error: typing.ClassVar[Level]
    info: typing.ClassVar[Level]
    off: typing.ClassVar[Level]
    trace: typing.ClassVar[Level]
    warn: typing.ClassVar[Level]
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: int) -> None:
        ...
    def __int__(self) -> int:
        ...
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: int) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class PidGains:
    kd: float
    ki: float
    kp: float
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, kp: _Float, ki: _Float, kd: _Float) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
class Feedforward:
    kA: float
    kS: float
    kV: float
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, kS: _Float, kV: _Float, kA: _Float) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
class MotorCalibration:
    pid: PidGains | None
    ticks_to_rad: float
    vel_lpf_alpha: float
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, ticks_to_rad: _Float, vel_lpf_alpha: _Float) -> None:
        ...
    @typing.overload
    def __init__(self, ticks_to_rad: _Float, vel_lpf_alpha: _Float, pid: PidGains | None = None) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
class FeedforwardController:
    config: Feedforward
    def __init__(self, config: Feedforward = ...) -> None:
        ...
    def calculate(self, velocity: _Float, acceleration: _Float = 0.0) -> float:
        ...
class ChassisVelocity:
    vx: float
    vy: float
    wz: float
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, vx: _Float, vy: _Float, wz: _Float) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
class Pose:
    heading: float
    @property
    def position(self) -> numpy.typing.NDArray[numpy.float32]:
        """A read-only float32 view of shape (3,) onto the stored vector."""
    @position.setter
    def position(self, value: numpy.typing.ArrayLike) -> None: ...
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def __str__(self) -> str:
        ...
def _log_filtered(level: Level, filepath: str, message: str) -> None:
    """
            Log a message with file-based filtering (internal use).
    
            Checks is_enabled_for(level, filepath) before logging, supporting both
            per-file filtering (set_file_level) and package filtering (set_package_level).
    
            Args:
                level: The log level
                filepath: The full source file path (used for filtering and display)
                message: The log message
    """
def clear_file_level(filename: str) -> None:
    """
            Remove the log level filter for a specific source file.
    
            Args:
                filename: The source file basename to clear
    """
def clear_filters() -> None:
    """
            Clear all file-specific filters and reset global level to INFO.
    """
def clear_package_level(package: str) -> None:
    """
            Remove the log level filter for a package substring.
    
            Args:
                package: The package substring to clear
    """
def debug(message: str) -> None:
    """
            Log a message with severity level debug
    """
def error(message: str) -> None:
    """
            Log a message with severity level error
    """
def info(message: str) -> None:
    """
            Log a message with severity level info
    """
def initialize_logging() -> None:
    """
    Initialize and enable the logging system
    """
def initialize_timer() -> None:
    """
    Initialize the timer for elapsed time logging
    """
def is_speed_mode_enabled() -> bool:
    """
    Return True if SpeedMode is currently active (BEMF disabled).
    """
def set_file_level(filename: str, level: Level) -> None:
    """
            Set the log level for a specific source file (by basename).
    
            Args:
                filename: The source file basename (e.g., "fused_odometry.cpp")
                level: The minimum log level for this file
    """
def set_global_level(level: Level) -> None:
    """
            Set the global runtime log level. Messages below this level are filtered.
    
            Args:
                level: The minimum log level to display (e.g., Level.trace, Level.debug, Level.info)
    """
def set_package_level(package: str, level: Level) -> None:
    """
            Set the log level for all source files whose path contains the given substring.
    
            Package filters are checked after file-specific filters (set_file_level).
            Use path fragments like "korvex-motion" (C++ module) or "korvex/step/motion"
            (Python package) to match groups of files.
    
            Args:
                package: A substring to match against the full source file path
                level: The minimum log level for matching files
    """
def set_speed_mode_enabled(enabled: bool) -> None:
    """
    Set the process-wide SpeedMode flag. Should only be called by the `SetSpeedMode` step after the firmware has acknowledged the BEMF-disable command; calling it directly bypasses the firmware handshake and leaves the library/firmware state inconsistent.
    """
def shutdown_logging() -> None:
    """
    Flush and tear down the logger so that no further log calls touch spdlog
    """
def warn(message: str) -> None:
    """
            Log a message with severity level warn
    """

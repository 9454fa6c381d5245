"""foundation_logging: the standard library's logging written by foundation's
logger. Every case runs in a fresh interpreter with its own working directory."""

import logging

import pytest

from foundation import Level
from foundation_logging import level_for
from support import LOG_FILE, messages, parse, run_python

START = """
import logging, foundation, foundation_logging
from foundation import Level
foundation.initialize_logging()
handler = foundation_logging.install()
"""


def run(code, cwd, **kwargs):
    return run_python(START + code, cwd, script="robot.py", **kwargs)


@pytest.mark.parametrize("levelno, level", [
    (60, Level.critical), (50, Level.critical), (45, Level.error), (40, Level.error),
    (30, Level.warn), (25, Level.info), (20, Level.info), (10, Level.debug), (5, Level.trace),
    (1, Level.trace),
])
def test_levels_map_by_threshold(levelno, level):
    assert level_for(levelno) == level


def test_a_modules_own_logger_writes_with_its_source_file(tmp_path):
    result = run(
        """
foundation.set_global_level(Level.trace)
log = logging.getLogger("robot.drive")
log.debug("debug %s", "formatted")
log.info("info")
log.warning("warning")
log.error("error")
log.critical("critical")
log.log(5, "below debug")
print(foundation_logging.install() is handler, logging.getLogger().handlers == [handler],
      logging.getLogger().level == logging.NOTSET)
""",
        tmp_path,
    )
    assert result.printed == ["True True True"]
    rows = [parse(line) for line in result.log_lines[1:]]
    assert [(r["level"].strip(), r["message"]) for r in rows] == [
        ("debug", "debug formatted"), ("info", "info"), ("warning", "warning"),
        ("error", "error"), ("critical", "critical"), ("trace", "below debug")]
    # The script lies in the project (the working directory): its path is relative.
    assert {r["source"].rstrip() for r in rows} == {"robot.py"}


def test_a_standard_library_modules_records_and_tracebacks(tmp_path):
    result = run(
        """
from concurrent.futures import Future
future = Future()
future.add_done_callback(lambda f: 1 / 0)  # concurrent.futures logs the failure
future.set_result(1)
try:
    {}["missing"]
except KeyError:
    logging.getLogger("robot").exception("lookup failed")
logging.getLogger("robot").info("with stack", stack_info=True)
""",
        tmp_path,
    )
    text = (tmp_path / LOG_FILE).read_text()
    assert "| exception calling callback for <Future" in text
    assert "ZeroDivisionError: division by zero" in text
    assert "| lookup failed\nTraceback (most recent call last):" in text
    assert "KeyError: 'missing'" in text
    assert "| with stack\nStack (most recent call last):" in text
    callback_line = next(line for line in text.splitlines() if "exception calling" in line)
    assert parse(callback_line)["source"].rstrip().endswith("_base.py")


def test_captured_warnings_are_written(tmp_path):
    result = run(
        """
import warnings
logging.captureWarnings(True)
warnings.warn("careful with that axis")
""",
        tmp_path,
    )
    line = next(line for line in result.log_lines if "UserWarning: careful with that axis" in line)
    assert parse(line)["level"] == "warning "


def test_file_and_package_thresholds_apply_to_bridged_records(tmp_path):
    (tmp_path / "vendor").mkdir()
    (tmp_path / "vendor" / "lidar.py").write_text(
        "import logging\nlog = logging.getLogger('vendor.lidar')\n"
        "def chatter():\n    log.warning('vendor warning')\n    log.error('vendor error')\n")
    result = run(
        """
import sys
sys.path.insert(0, "vendor")
import lidar
foundation.set_package_level("/vendor/", Level.error)
foundation.set_file_level("robot.py", Level.warn)
lidar.chatter()
log = logging.getLogger("robot")
log.info("robot info is below its file's threshold")
log.warning("robot warning")
""",
        tmp_path,
    )
    assert messages(result)[1:] == ["vendor error", "robot warning"]


def test_records_outside_the_logging_lifetime_are_dropped_quietly(tmp_path):
    result = run_python(
        """
        import logging, foundation, foundation_logging
        foundation_logging.install()
        log = logging.getLogger("robot")
        log.warning("before start")
        foundation.initialize_logging()
        log.warning("while running")
        foundation.shutdown_logging()
        log.warning("after shutdown")
        """,
        tmp_path,
    )
    assert result.stderr == ""
    assert messages(result)[1:] == ["while running"]


def test_a_failing_record_goes_to_handle_error(tmp_path):
    result = run(
        """
log = logging.getLogger("robot")
log.info("%d apples", "not a number")
handler.setFormatter(logging.Formatter("%(name)s: %(message)s"))
log.info("still logging")
""",
        tmp_path,
    )
    assert "--- Logging error ---" in result.stderr and "TypeError" in result.stderr
    assert messages(result)[1:] == ["robot: still logging"]

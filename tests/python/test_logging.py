"""The process logger and the Python logging functions, each case in a fresh
interpreter with its own working directory."""

import os
import pty
import select
import sys
import time

import pytest

import foundation
from foundation import Level
from support import LOG_FILE, messages, parse, run_python

NOT_INITIALISED = "logging::init() must be called before using logging::core()"


def test_line_layout_and_first_line(tmp_path):
    run = run_python(
        """
        import foundation as f
        from foundation import Level
        f.initialize_logging()
        f.info("braces {} {0} and %s %d stay")
        f.warn("a warning")
        f.error("an error")
        f.debug("embedded\\0NUL cut here")
        f.set_global_level(Level.trace)
        f._log_filtered(Level.critical, "/opt/site-packages/korvex/step/motion/drive.py", "crit")
        f._log_filtered(Level.info, "fused_odometry.cpp", "with\\0nul")
        f.shutdown_logging()
        """,
        tmp_path,
    )
    rows = [parse(line) for line in run.log_lines]
    log_dir = str(tmp_path / ".vantrel" / "logs")
    assert [r["message"] for r in rows] == [
        f"Logging to directory: {log_dir}", "braces {} {0} and %s %d stay", "a warning",
        "an error", "embedded", "crit", "with"]
    assert [r["level"] for r in rows] == [
        "info    ", "info    ", "warning ", "error   ", "debug   ", "critical", "info    "]
    assert [r["source"] for r in rows] == (
        [" " * 30] * 5 + ["s.m.drive.py".ljust(30), "fused_odometry.cpp".ljust(30)])
    assert all(len(r["elapsed"]) == 10 for r in rows)
    assert rows[0]["elapsed"].startswith("    0.0")
    # Local time, as the wall clock of this process shows it.
    assert rows[0]["date"][:10] == time.strftime("%Y-%m-%d") or rows[0]["date"][11:] >= "23:59"
    # The console shows the same lines (no terminal: no colour codes).
    assert "Logging to directory: " in run.stdout and "\x1b[" not in run.stdout


def test_second_initialize_changes_nothing(tmp_path):
    run = run_python(
        """
        import time, foundation as f
        f.initialize_logging()
        time.sleep(0.3)
        f.initialize_logging()
        f.warn("after")
        """,
        tmp_path,
    )
    rows = [parse(line) for line in run.log_lines]
    assert [r["message"].startswith("Logging to directory") for r in rows] == [True, False]
    assert float(rows[1]["elapsed"].strip().rstrip("s")) >= 0.3


def test_existing_file_is_appended_to(tmp_path):
    log = tmp_path / LOG_FILE
    log.parent.mkdir(parents=True)
    log.write_text("earlier line\n")
    run = run_python("import foundation as f; f.initialize_logging(); f.warn('new')", tmp_path)
    assert run.log_lines[0] == "earlier line"
    assert parse(run.log_lines[-1])["message"] == "new"


def test_warn_is_on_disk_at_once_and_everything_at_exit(tmp_path):
    run = run_python(
        """
        import foundation as f
        f.initialize_logging()
        f.info("buffered")
        f.warn("flushed")
        text = open(".vantrel/logs/korvex.log").read()
        print("flushed" in text, text.count("\\n"))
        f.info("last line before exit")
        """,
        tmp_path,
    )
    assert run.printed == ["True 3"]
    assert messages(run)[-1] == "last line before exit"


def test_info_reaches_the_file_within_the_flush_interval(tmp_path):
    run = run_python(
        """
        import time, foundation as f
        f.initialize_logging()
        f.info("periodic")
        deadline = time.monotonic() + 6
        while time.monotonic() < deadline:
            if "periodic" in open(".vantrel/logs/korvex.log").read():
                print("seen")
                break
            time.sleep(0.1)
        """,
        tmp_path,
    )
    assert run.printed == ["seen"]


def test_rotation(tmp_path):
    run = run_python(
        """
        import foundation as f
        f.initialize_logging()
        chunk = "x" * 1000
        for i in range(22000):
            f.info(f"{i:06d} {chunk}")
        f.warn("newest")
        f.shutdown_logging()
        """,
        tmp_path, timeout=120,
    )
    log_dir = tmp_path / ".vantrel" / "logs"
    names = sorted(p.name for p in log_dir.iterdir())
    assert names == ["korvex.1.log", "korvex.2.log", "korvex.3.log", "korvex.log"]
    assert all((log_dir / n).stat().st_size <= 5242880 for n in names)
    assert parse(run.log_lines[-1])["message"] == "newest"


def test_lifecycle_states(tmp_path):
    run = run_python(
        """
        import foundation as f
        from foundation import Level
        def attempt(fn, *args):
            try:
                return repr(fn(*args))
            except RuntimeError as e:
                return "RuntimeError: " + str(e)
        print(attempt(f.debug, "before"))
        print(attempt(f._log_filtered, Level.error, "/a.py", "filtered before"))
        f.initialize_logging()
        f._log_filtered(Level.error, "/a.py", "filtered while active")
        f.shutdown_logging()
        print(attempt(f.info, "after"))
        print(attempt(f._log_filtered, Level.error, "/a.py", "filtered after"))
        f.shutdown_logging()
        f.initialize_logging()
        f.info("plain again")
        f._log_filtered(Level.critical, "/a.py", "filtered after re-init")
        f.initialize_timer()
        f.shutdown_logging()
        """,
        tmp_path,
    )
    assert run.printed == [
        f"RuntimeError: {NOT_INITIALISED}", "None", f"RuntimeError: {NOT_INITIALISED}", "None"]
    msgs = messages(run)
    assert msgs[1:2] == ["filtered while active"]
    assert msgs[2].startswith("Logging to directory: ") and msgs[3:] == ["plain again"]


def test_thresholds_through_python(tmp_path):
    run = run_python(
        """
        import foundation as f
        from foundation import Level
        f.initialize_logging()
        f._log_filtered(Level.info, "/p/a.py", "info passes by default")
        f._log_filtered(Level.debug, "/p/a.py", "debug filtered by default")
        f.set_package_level("korvex/step", Level.error)
        f.set_file_level("drive.py", Level.debug)
        f._log_filtered(Level.debug, "/x/korvex/step/drive.py", "file entry decides")
        f._log_filtered(Level.warn, "/x/korvex/step/other.py", "package filtered")
        f.clear_file_level("drive.py")
        f._log_filtered(Level.warn, "/x/korvex/step/drive.py", "package now decides")
        f.clear_package_level("korvex/step")
        f.set_global_level(Level.critical)
        f.debug("plain calls ignore thresholds")
        f._log_filtered(Level.off, "/p/a.py", "off passes")
        f._log_filtered(Level(9), "/p/a.py", "nine passes")
        f.clear_filters()
        f._log_filtered(Level.info, "/p/a.py", "cleared")
        """,
        tmp_path,
    )
    rows = [parse(line) for line in run.log_lines[1:]]
    assert [(r["level"].strip(), r["message"]) for r in rows] == [
        ("info", "info passes by default"), ("debug", "file entry decides"),
        ("debug", "plain calls ignore thresholds"), ("off", "off passes"),
        ("info", "nine passes"), ("info", "cleared")]


def test_initialize_timer_restarts_elapsed(tmp_path):
    run = run_python(
        """
        import time, foundation as f
        f.initialize_timer()
        f.initialize_logging()
        time.sleep(0.6)
        f.warn("late")
        f.initialize_timer()
        f.warn("restarted")
        """,
        tmp_path,
    )
    elapsed = [float(parse(line)["elapsed"].strip()[:-1]) for line in run.log_lines]
    assert elapsed[1] >= 0.6 and elapsed[2] < 0.1


@pytest.mark.parametrize("obstacle", ["vantrel-file", "log-directory"])
def test_failed_start_is_reported_every_time_and_retried(tmp_path, obstacle):
    if obstacle == "vantrel-file":
        (tmp_path / ".vantrel").write_text("not a directory")
    else:
        (tmp_path / LOG_FILE).mkdir(parents=True)
    run = run_python(
        f"""
        import os, shutil, foundation as f
        from foundation import Level
        for attempt in range(2):
            try:
                f.initialize_logging()
                print("started")
            except RuntimeError as e:
                print("RuntimeError", bool(str(e)))
        f._log_filtered(Level.critical, "/a.py", "must be dropped")
        try:
            f.info("x")
        except RuntimeError as e:
            print(str(e))
        path = ".vantrel" if {obstacle!r} == "vantrel-file" else ".vantrel/logs/korvex.log"
        os.remove(path) if os.path.isfile(path) else shutil.rmtree(path)
        f.initialize_logging()
        f.warn("works now")
        """,
        tmp_path,
    )
    assert run.printed == ["RuntimeError True", "RuntimeError True", NOT_INITIALISED]
    assert "must be dropped" not in run.stdout + run.stderr
    assert messages(run)[-1] == "works now"


def test_colour_only_on_a_terminal(tmp_path):
    code = "import foundation as f; f.initialize_logging(); f.error('coloured'); f.shutdown_logging()"
    pid, fd = pty.fork()
    if pid == 0:  # child: stdout is the pty
        os.chdir(tmp_path)
        os.environ["TERM"] = "xterm-256color"
        os.execv(sys.executable, [sys.executable, "-c", code])
    output = b""
    while True:
        ready, _, _ = select.select([fd], [], [], 30)
        if not ready:
            break
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    os.waitpid(pid, 0)
    assert b"\x1b[" in output and b"coloured" in output
    assert "\x1b" not in (tmp_path / LOG_FILE).read_text()


def test_messages_are_taken_whole(tmp_path):
    run = run_python(
        """
        import foundation as f
        from foundation import Level
        f.initialize_logging()
        f.info("m" * 10_000_000)
        f._log_filtered(Level.warn, "/p/a.py", "ü€😀 unicode")
        f._log_filtered(Level.warn, b"/p/b.py", b"bytes message")
        """,
        tmp_path, timeout=120,
    )
    msgs = messages(run)
    assert msgs[1] == "m" * 10_000_000
    assert msgs[2:] == ["ü€😀 unicode", "bytes message"]


@pytest.mark.parametrize("call", [
    lambda: foundation.info(None),
    lambda: foundation.info(1),
    lambda: foundation.info("\ud800 lone surrogate"),
    lambda: foundation._log_filtered(Level.info, None, "m"),
    lambda: foundation._log_filtered(Level.info, "/a.py", None),
    lambda: foundation._log_filtered(Level.info, "/a.py\udfff", "m"),
    lambda: foundation._log_filtered(2, "/a.py", "m"),
    lambda: foundation.set_global_level(2),
    lambda: foundation.set_global_level(None),
    lambda: foundation.set_file_level(None, Level.info),
    lambda: foundation.set_package_level("x", "info"),
    lambda: foundation.clear_filters(1),
])
def test_bad_arguments_raise_type_error(call):
    with pytest.raises(TypeError, match="incompatible"):
        call()


def test_level_enum():
    assert [m.name for m in Level.__members__.values()] == [
        "trace", "debug", "info", "warn", "error", "critical", "off"]
    assert [int(m) for m in Level.__members__.values()] == list(range(7))
    assert Level.info != 2 and Level(3) == Level.warn and int(Level.warn) == 3
    assert int(Level(9)) == 9
    assert callable(foundation.info) and isinstance(foundation.Level.info, Level)
    with pytest.raises(TypeError):
        Level.info < Level.warn
    assert not hasattr(foundation, "trace") and not hasattr(foundation, "critical")


BLOCK = "\n".join
DOCSTRINGS = {
    "initialize_logging": "Initialize and enable the logging system",
    "shutdown_logging": "Flush and tear down the logger so that no further log calls touch spdlog",
    "initialize_timer": "Initialize the timer for elapsed time logging",
    "set_global_level": BLOCK([
        "", "        Set the global runtime log level. Messages below this level are filtered.", "",
        "        Args:",
        "            level: The minimum log level to display (e.g., Level.trace, Level.debug, Level.info)",
        "    "]),
    "set_file_level": BLOCK([
        "", "        Set the log level for a specific source file (by basename).", "",
        "        Args:",
        '            filename: The source file basename (e.g., "fused_odometry.cpp")',
        "            level: The minimum log level for this file", "    "]),
    "clear_file_level": BLOCK([
        "", "        Remove the log level filter for a specific source file.", "", "        Args:",
        "            filename: The source file basename to clear", "    "]),
    "clear_filters": BLOCK([
        "", "        Clear all file-specific filters and reset global level to INFO.", "    "]),
    "debug": BLOCK(["", "        Log a message with severity level debug", "    "]),
    "info": BLOCK(["", "        Log a message with severity level info", "    "]),
    "warn": BLOCK(["", "        Log a message with severity level warn", "    "]),
    "error": BLOCK(["", "        Log a message with severity level error", "    "]),
    "set_package_level": BLOCK([
        "", "        Set the log level for all source files whose path contains the given substring.",
        "", "        Package filters are checked after file-specific filters (set_file_level).",
        '        Use path fragments like "korvex-motion" (C++ module) or "korvex/step/motion"',
        "        (Python package) to match groups of files.", "", "        Args:",
        "            package: A substring to match against the full source file path",
        "            level: The minimum log level for matching files", "    "]),
    "clear_package_level": BLOCK([
        "", "        Remove the log level filter for a package substring.", "", "        Args:",
        "            package: The package substring to clear", "    "]),
    "_log_filtered": BLOCK([
        "", "        Log a message with file-based filtering (internal use).", "",
        "        Checks is_enabled_for(level, filepath) before logging, supporting both",
        "        per-file filtering (set_file_level) and package filtering (set_package_level).",
        "", "        Args:", "            level: The log level",
        "            filepath: The full source file path (used for filtering and display)",
        "            message: The log message", "    "]),
}
SIGNATURES = {
    "initialize_logging": "()", "shutdown_logging": "()", "initialize_timer": "()",
    "set_global_level": "(level: foundation.Level)",
    "set_file_level": "(filename: str, level: foundation.Level)",
    "clear_file_level": "(filename: str)", "clear_filters": "()",
    "debug": "(message: str)", "info": "(message: str)", "warn": "(message: str)",
    "error": "(message: str)",
    "set_package_level": "(package: str, level: foundation.Level)",
    "clear_package_level": "(package: str)",
    "_log_filtered": "(level: foundation.Level, filepath: str, message: str)",
}


@pytest.mark.parametrize("name", list(DOCSTRINGS))
def test_docstring_and_signature(name):
    assert getattr(foundation, name).__doc__ == (
        f"{name}{SIGNATURES[name]} -> None\n\n{DOCSTRINGS[name]}\n")


def test_keyword_arguments(tmp_path):
    run = run_python(
        """
        import foundation as f
        from foundation import Level
        f.initialize_logging()
        f.set_global_level(level=Level.trace)
        f.set_file_level(filename="a.py", level=Level.error)
        f.set_package_level(package="p/", level=Level.error)
        f.clear_file_level(filename="a.py")
        f.clear_package_level(package="p/")
        f._log_filtered(level=Level.trace, filepath="/p/a.py", message="kw")
        f.info(message="plain kw")
        """,
        tmp_path,
    )
    assert messages(run)[1:] == ["kw", "plain kw"]


def test_non_ascii_initials_keep_the_file_valid_utf8(tmp_path):
    project = tmp_path / "ünïcode-project"
    project.mkdir()
    run_python(
        """
        import os, foundation as f
        from foundation import Level
        f.initialize_logging()
        here = os.getcwd()
        f._log_filtered(Level.warn, here + "/über/ß/main.py", "generic rule")
        f._log_filtered(Level.warn, "/opt/korvex/éclair/€/drive.py", "package rule")
        f._log_filtered(Level.warn, "/build/korvex-ümotion/src/x.cpp", "module rule")
        f._log_filtered(Level.warn, "/😀/x.py", "four bytes")
        """,
        project,
    )
    text = (project / LOG_FILE).read_bytes().decode("utf-8")  # strict: raises on half a sequence
    # The column is padded to 30 bytes, so it holds fewer characters here.
    columns = [line.split(" | ")[3] for line in text.splitlines()[1:]]
    assert [c.rstrip() for c in columns] == ["ü.ß.main.py", "é.€.drive.py", "ü.x.cpp", "😀.x.py"]
    assert {len(c.encode()) for c in columns} == {30}

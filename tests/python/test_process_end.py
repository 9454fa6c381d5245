"""Lines survive the end of the process: exit hooks, fatal signals, fork.
Every case runs in a fresh interpreter with its own working directory."""

import os
import resource
import signal
import sys
import textwrap
import time

import pytest

from support import LOG_FILE, messages, run_python

LINES = 50


def logged(cwd):
    """Messages of the log file below `cwd`, without the start-up line."""
    path = cwd / LOG_FILE
    if not path.exists():
        return []
    from support import parse
    return [parse(line)["message"] for line in path.read_text().splitlines()
            if "Logging to directory: " not in line]


def wait_status(code, cwd, timeout=60):
    """Runs `code` in a fresh interpreter and returns its raw wait status, with
    core dumps allowed (so the status says whether there was one)."""
    cwd.mkdir(exist_ok=True)
    pid = os.fork()
    if pid == 0:
        try:
            os.chdir(cwd)
            hard = resource.getrlimit(resource.RLIMIT_CORE)[1]
            resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            os.dup2(null, 2)
            os.execv(sys.executable, [sys.executable, "-c", textwrap.dedent(code)])
        finally:
            os._exit(127)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.02)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    raise AssertionError("the child hung")


SIGNALLED = """
import os, signal, foundation as f
if START:
    f.initialize_logging()
    for i in range(LINES):
        f.info(f"line {i}")
os.kill(os.getpid(), SIGNAL)
"""


@pytest.mark.parametrize("name", ["SIGTERM", "SIGHUP", "SIGQUIT", "SIGABRT", "SIGSEGV", "SIGBUS",
                                  "SIGFPE", "SIGILL"])
def test_a_fatal_signal_keeps_every_line_and_ends_the_process_as_before(tmp_path, name):
    code = SIGNALLED.replace("LINES", str(LINES)).replace("SIGNAL", f"signal.{name}")
    reference = wait_status(code.replace("START", "False"), tmp_path / "reference")
    status = wait_status(code.replace("START", "True"), tmp_path / "logging")
    assert os.WIFSIGNALED(status) and os.WTERMSIG(status) == getattr(signal, name)
    assert status == reference  # same signal, and a core dump exactly when there was one
    assert logged(tmp_path / "logging") == [f"line {i}" for i in range(LINES)]
    for core in tmp_path.glob("*/core*"):
        core.unlink()


def test_keyboard_interrupt_keeps_every_line(tmp_path):
    run = run_python(
        """
        import foundation as f
        f.initialize_logging()
        for i in range(10):
            f.info(f"line {i}")
        raise KeyboardInterrupt
        """,
        tmp_path, check=False,
    )
    assert run.returncode == -signal.SIGINT
    assert messages(run)[0].startswith("Logging to directory: ")
    assert messages(run)[1:] == [f"line {i}" for i in range(10)]


@pytest.mark.parametrize("faulthandler_first", [True, False], ids=["before-logging", "after"])
def test_a_segfault_with_faulthandler_keeps_lines_and_the_report(tmp_path, faulthandler_first):
    run = run_python(
        f"""
        import ctypes, faulthandler, foundation as f
        if {faulthandler_first}:
            faulthandler.enable()
        f.initialize_logging()
        if not {faulthandler_first}:
            faulthandler.enable()
        for i in range({LINES}):
            f.info(f"line {{i}}")
        ctypes.string_at(0)  # a real segmentation fault
        """,
        tmp_path, check=False,
    )
    assert run.returncode == -signal.SIGSEGV
    assert "Fatal Python error: Segmentation fault" in run.stderr
    assert logged(tmp_path) == [f"line {i}" for i in range(LINES)]


CAUGHT = """
def caught_signals():
    # The standard signals this process has a handler for (the C library
    # installs its own for two real-time signals when a thread starts).
    mask = int(next(line for line in open("/proc/self/status")
                    if line.startswith("SigCgt:")).split()[1], 16)
    return {s for s in range(1, 32) if mask >> (s - 1) & 1}
"""


def test_dispositions_chosen_by_the_program_are_left_alone_and_put_back(tmp_path):
    run = run_python(
        CAUGHT + textwrap.dedent("""
        import os, signal, foundation as f
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, lambda *a: print("python handler"))
        before = caught_signals()
        f.initialize_logging()
        during = caught_signals()
        os.kill(os.getpid(), signal.SIGTERM)  # the program's handler runs
        os.kill(os.getpid(), signal.SIGHUP)   # still ignored
        print("flushed:", sorted(during - before) == sorted(
            {signal.SIGQUIT, signal.SIGABRT, signal.SIGSEGV, signal.SIGBUS, signal.SIGFPE,
             signal.SIGILL}))
        signal.signal(signal.SIGQUIT, lambda *a: print("set later"))
        os.kill(os.getpid(), signal.SIGQUIT)
        f.shutdown_logging()
        print("put back:", caught_signals() == before | {signal.SIGQUIT})
        """),
        tmp_path,
    )
    assert run.printed == ["python handler", "flushed: True", "set later", "put back: True"]


def test_nothing_is_installed_at_import(tmp_path):
    run = run_python(
        CAUGHT + textwrap.dedent("""
        before = caught_signals()
        import foundation
        print(caught_signals() == before)
        """),
        tmp_path,
    )
    assert run.printed == ["True"]


def test_a_forked_child_keeps_its_lines_and_none_is_written_twice(tmp_path):
    run = run_python(
        """
        import os, sys, foundation as f
        f.initialize_logging()
        f.info("before the fork")  # buffered when the fork happens
        pid = os.fork()
        if pid == 0:
            for i in range(20):
                f.info(f"child {i}")
            os._exit(0)  # no flusher, no exit hook: the child wrote as it went
        os.waitpid(pid, 0)
        pid = os.fork()
        if pid == 0:
            f.info("child that exits normally")
            sys.exit(0)  # used to hang joining the parent's flusher thread
        os.waitpid(pid, 0)
        f.info("parent after")
        """,
        tmp_path, env={"PYTHONWARNINGS": "ignore::DeprecationWarning"}, timeout=30,
    )
    assert sorted(messages(run)[1:]) == sorted(
        ["before the fork", "parent after", "child that exits normally"]
        + [f"child {i}" for i in range(20)])


def test_a_fork_pool_keeps_every_workers_lines(tmp_path):
    run = run_python(
        """
        import multiprocessing as mp, foundation as f
        def work(k):
            for i in range(100):
                f.info(f"task {k} line {i}")
            return k
        if __name__ == "__main__":
            f.initialize_logging()
            with mp.get_context("fork").Pool(4) as pool:
                print(sorted(pool.map(work, range(16))) == list(range(16)))
        """,
        tmp_path, script="pool.py", env={"PYTHONWARNINGS": "ignore::DeprecationWarning"},
        timeout=60,
    )
    assert run.printed == ["True"]
    assert sorted(messages(run)[1:]) == sorted(
        f"task {k} line {i}" for k in range(16) for i in range(100))


def test_forks_while_another_thread_logs_and_flushes_never_hang(tmp_path):
    run = run_python(
        """
        import os, threading, time, foundation as f
        f.initialize_logging()
        stop = threading.Event()
        def busy():
            i = 0
            while not stop.is_set():
                (f.warn if i % 20 == 0 else f.info)(f"busy {i}")
                i += 1
                if i % 10 == 0:
                    time.sleep(0.001)  # busy, yet within the four files' room
        thread = threading.Thread(target=busy)
        thread.start()
        for k in range(150):
            pid = os.fork()
            if pid == 0:
                f.info(f"child {k}")
                os._exit(0)
            deadline = time.monotonic() + 10
            while os.waitpid(pid, os.WNOHANG) == (0, 0):
                if time.monotonic() > deadline:
                    os.kill(pid, 9)
                    print("hung", k)
                    break
                time.sleep(0.001)
        stop.set()
        thread.join()
        f.shutdown_logging()
        """,
        tmp_path, env={"PYTHONWARNINGS": "ignore::DeprecationWarning"}, timeout=120,
    )
    assert run.printed == []
    msgs = messages(run)[1:]
    assert sorted(m for m in msgs if m.startswith("child")) == sorted(
        f"child {k}" for k in range(150))
    busy = [int(m.split()[1]) for m in msgs if m.startswith("busy")]
    assert busy == list(range(len(busy)))  # none lost or written twice


def test_sigkill_loses_at_most_one_buffer(tmp_path):
    line = "x" * 100
    status = wait_status(
        f"""
        import os, signal, foundation as f
        f.initialize_logging()
        for i in range(1000):
            f.info(f"{{i:04d}} {line}")
        os.kill(os.getpid(), signal.SIGKILL)
        """,
        tmp_path / "killed",
    )
    assert os.WTERMSIG(status) == signal.SIGKILL
    kept = logged(tmp_path / "killed")
    assert kept == [f"{i:04d} {line}" for i in range(len(kept))]  # the oldest, whole
    line_bytes = len((tmp_path / "killed" / LOG_FILE).read_text().splitlines()[-1]) + 1
    assert (1000 - len(kept)) * line_bytes <= 8 * 1024 + line_bytes

"""Helpers shared by the Python tests.

Logger, shut-down flag and cached project root are process-wide and one-way,
so everything that touches them runs in a fresh interpreter in its own
temporary directory.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import textwrap
from dataclasses import dataclass
from pathlib import Path

import foundation

MODULE_PATH = Path(foundation.__file__)
LOG_FILE = Path(".vantrel") / "logs" / "korvex.log"


@dataclass
class Run:
    returncode: int
    stdout: str
    stderr: str
    cwd: Path

    @property
    def log_text(self) -> str:
        path = self.cwd / LOG_FILE
        return path.read_text(encoding="utf-8", errors="surrogateescape") if path.exists() else ""

    @property
    def log_lines(self) -> list[str]:
        return self.log_text.splitlines()

    @property
    def all_log_lines(self) -> list[str]:
        """Lines of the rotated files (oldest first) and then of korvex.log."""
        log_dir = self.cwd / LOG_FILE.parent
        names = [f"korvex.{i}.log" for i in (3, 2, 1)] + ["korvex.log"]
        return [line for name in names if (log_dir / name).exists()
                for line in (log_dir / name).read_text(errors="surrogateescape").splitlines()]

    @property
    def printed(self) -> list[str]:
        """What the child printed itself: standard output without the console's log lines."""
        return [line for line in self.stdout.splitlines() if not LINE_RE.match(line)]


def run_python(code: str, cwd: Path, *, env: dict[str, str] | None = None,
               timeout: float = 60, check: bool = True, executable: str | None = None,
               script: str | None = None, wrapper: list[str] | None = None) -> Run:
    """Runs `code` (dedented) in a fresh interpreter with `cwd` as working directory.

    With `script`, the code is saved under that name in `cwd` and run from the
    file (multiprocessing's spawn needs an importable main module); `wrapper`
    is a command that runs the interpreter (such as setpriv with its options).
    """
    full_env = {k: v for k, v in os.environ.items() if k not in ("COLORTERM", "TERM")}
    full_env["PYTHONUNBUFFERED"] = "1"
    if env:
        full_env.update(env)
    if script:
        (cwd / script).write_text(textwrap.dedent(code))
        program = [script]
    else:
        program = ["-c", textwrap.dedent(code)]
    proc = subprocess.run(
        [*(wrapper or []), executable or sys.executable, *program],
        cwd=cwd, env=full_env, capture_output=True, text=True, timeout=timeout,
        errors="surrogateescape",
    )
    result = Run(proc.returncode, proc.stdout, proc.stderr, cwd)
    if check and proc.returncode != 0:
        raise AssertionError(
            f"child failed with {proc.returncode}\nstdout:\n{proc.stdout}\nstderr:\n{proc.stderr}")
    return result


# date time | elapsed | level | source | message
LINE_RE = re.compile(
    r"^(?P<date>\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}) \| (?P<elapsed> *\d+\.\d{3}s) \| "
    r"(?P<level>[a-z]+ *) \| (?P<source>.{30,}?) \| (?P<message>.*)$")


def parse(line: str) -> dict[str, str]:
    """The named columns of a well-formed log line; fails the test otherwise."""
    match = LINE_RE.match(line)
    assert match, f"malformed log line: {line!r}"
    return match.groupdict()


def messages(run: Run) -> list[str]:
    """The message column of every line in the log file and its rotated copies."""
    return [parse(line)["message"] for line in run.all_log_lines]

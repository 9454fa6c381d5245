"""The shipped stubs: they match the module, and type checkers use them."""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def mypy(*args, cwd=ROOT):
    return subprocess.run([sys.executable, "-m", "mypy", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=300)


def test_stubs_match_the_module():
    run = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "foundation",
         "--allowlist", str(ROOT / "stubs" / "stubtest-allowlist.txt")],
        capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr


def test_typed_example_passes_strict_mypy():
    run = mypy("--strict", "examples/typed_loop.py")
    assert run.returncode == 0, run.stdout + run.stderr


def test_the_installed_bridge_passes_strict_mypy(tmp_path):
    # From outside the tree, so the installed package and its py.typed are checked.
    (tmp_path / "use.py").write_text(
        "import logging\nimport foundation_logging\n"
        "handler: logging.Handler = foundation_logging.install()\n"
        "level: int = foundation_logging.level_for(20)\n")
    run = mypy("--strict", "-p", "foundation_logging", cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
    run = mypy("--strict", "use.py", cwd=tmp_path)
    assert run.returncode == 1 and run.stdout.count("error:") == 1, run.stdout


def test_stubs_catch_misuse(tmp_path):
    (tmp_path / "misuse.py").write_text(
        "import foundation\n"
        "foundation.PidController(None)\n"
        "foundation.set_global_level(2)\n"
        "x: str = foundation.PidController().update(1.0, 0.1)\n")
    run = mypy("--strict", "misuse.py", cwd=tmp_path)
    assert run.returncode == 1
    assert run.stdout.count("error:") == 3, run.stdout

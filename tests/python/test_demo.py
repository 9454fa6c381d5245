"""The demo's simulation core and its command line, on a short horizon."""

import importlib.util
import sys
from pathlib import Path

from support import run_python

DEMO = Path(__file__).resolve().parents[2] / "examples" / "demo.py"


def load_demo():
    spec = importlib.util.spec_from_file_location("demo", DEMO)
    module = importlib.util.module_from_spec(spec)
    sys.modules["demo"] = module  # dataclasses look their module up there
    spec.loader.exec_module(module)
    return module


def test_feedforward_speeds_up_the_step_response():
    demo = load_demo()
    with_ff = demo.summarize(demo.simulate(1.5))
    without_ff = demo.summarize(demo.simulate(1.5, use_feedforward=False))
    assert with_ff.rise_time < without_ff.rise_time < 1.3
    assert abs(with_ff.final_error) < 1.5


def test_demo_runs_and_logs(tmp_path):
    run = run_python(
        f"""
        import runpy, sys
        sys.argv = ["demo", "--seconds", "0.6", "--no-plot"]
        runpy.run_path({str(DEMO)!r}, run_name="__main__")
        """,
        tmp_path,
    )
    assert any(line.startswith("with feedforward:") for line in run.printed)
    log = run.log_text
    assert "demo.py" in log and "velocity step response demo starting" in log
    assert "ticks=" not in log  # the encoder's info lines are below its package threshold

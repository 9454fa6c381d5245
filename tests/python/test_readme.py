"""Every Python example in the README runs as written."""

import re
from pathlib import Path

import pytest

from support import run_python

README = Path(__file__).resolve().parents[2] / "README.md"
EXAMPLES = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


def test_readme_has_examples():
    assert len(EXAMPLES) >= 3


@pytest.mark.parametrize("code", EXAMPLES, ids=lambda c: c.splitlines()[0][:40])
def test_readme_example_runs(code, tmp_path):
    run_python(code, tmp_path)

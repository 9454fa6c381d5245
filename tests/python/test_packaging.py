"""What a team installs: the distribution's licence, typed packages and the
build's message when a system package is missing."""

import importlib.metadata
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def test_the_distribution_carries_its_licence_and_typed_packages():
    dist = importlib.metadata.distribution("korvex-foundation")
    assert dist.metadata["License-Expression"] == "Apache-2.0"
    assert "Typing :: Typed" in dist.metadata.get_all("Classifier")
    files = {str(f) for f in dist.files}
    assert any(f.endswith("licenses/LICENSE") for f in files)
    assert {"foundation_logging/__init__.py", "foundation_logging/py.typed",
            "foundation-stubs/__init__.pyi"} <= files
    licence = next(f for f in dist.files if str(f).endswith("licenses/LICENSE"))
    assert "Apache License" in licence.read_text() and "Version 2.0" in licence.read_text()


@pytest.mark.skipif(shutil.which("cmake") is None, reason="needs cmake")
def test_a_missing_system_package_is_named_in_one_message(tmp_path):
    run = subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(tmp_path), "-DFOUNDATION_TESTS=ON",
         "-DCMAKE_DISABLE_FIND_PACKAGE_Eigen3=TRUE", "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE"],
        capture_output=True, text=True, timeout=120)
    assert run.returncode != 0
    assert run.stderr.count("CMake Error") == 1, run.stderr
    assert "sudo apt-get install libeigen3-dev libgtest-dev" in run.stderr


@pytest.mark.skipif(shutil.which("setpriv") is None or os.geteuid() != 0,
                    reason="needs root and setpriv to run as nobody")
def test_setup_without_root_prints_the_install_command():
    # A dpkg-query that knows no package stands for a machine without them;
    # it lies where nobody (the user the script runs as) can reach it.
    with tempfile.TemporaryDirectory(dir="/tmp") as shim:
        os.chmod(shim, 0o755)
        fake = Path(shim) / "dpkg-query"
        fake.write_text("#!/bin/sh\nexit 1\n")
        fake.chmod(0o755)
        run = subprocess.run(
            ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
             str(ROOT / "scripts" / "setup.sh"), "format"],
            env={"PATH": f"{shim}:/usr/bin:/bin", "HOME": shim},
            capture_output=True, text=True, timeout=60)
    assert run.returncode == 1, run.stdout + run.stderr
    assert "install them with:  sudo apt-get install -y clang-format" in run.stderr
    assert "lock" not in run.stderr

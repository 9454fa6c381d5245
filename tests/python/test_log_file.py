"""The log file under the faults of a real robot: a changed working directory,
programs started by the robot, several processes logging into one directory,
no descriptors left at rotation, a read-only log directory. Every case runs in
a fresh interpreter with its own working directory."""

import os
import re
import shutil
import subprocess
from collections import defaultdict

import pytest

from support import LOG_FILE, LINE_RE, messages, parse, run_python

LIMIT = 5_242_880
BUFFER = 8 * 1024


def log_files(directory):
    """Names and sizes of the log directory's files."""
    return {p.name: p.stat().st_size for p in sorted(directory.iterdir())}


def test_chdir_after_start_changes_nothing(tmp_path):
    start, elsewhere = tmp_path / "start", tmp_path / "elsewhere"
    start.mkdir()
    elsewhere.mkdir()
    run = run_python(
        f"""
        import os, foundation as f
        f.initialize_logging()
        os.chdir({str(elsewhere)!r})
        for i in range(6000):  # 6 MB: one rotation after the chdir
            f.info(f"{{i:05d}} " + "x" * 1000)
        f.shutdown_logging()
        """,
        start,
    )
    assert not (elsewhere / ".vantrel").exists()
    assert set(log_files(start / LOG_FILE.parent)) == {"korvex.log", "korvex.1.log"}
    assert messages(run)[1:] == [f"{i:05d} " + "x" * 1000 for i in range(6000)]


def test_programs_started_do_not_inherit_the_log_file(tmp_path):
    run = run_python(
        """
        import os, subprocess, sys, foundation as f
        f.initialize_logging()
        show = "echo listing; ls -l /proc/self/fd"
        subprocess.run(show, shell=True, close_fds=False)
        os.system(show)
        pid = os.fork()
        if pid == 0:
            os.execv("/bin/sh", ["sh", "-c", show])
        os.waitpid(pid, 0)
        """,
        tmp_path,
    )
    assert run.printed.count("listing") == 3
    assert "korvex.log" not in run.stdout


WORKERS = """
import multiprocessing as mp, os
import foundation as f

def worker(k, lines, barrier):
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 1)  # the console is not what is tested
    f.initialize_logging()
    pad = "y" * 150
    for i in range(lines):
        if i % 500 == 0:
            barrier.wait()  # keep the four in step, so all write until the end
        f.info(f"w{k} {i} {pad}")

if __name__ == "__main__":
    ctx = mp.get_context("spawn")
    barrier = ctx.Barrier(4)
    procs = [ctx.Process(target=worker, args=(k, LINES, barrier)) for k in range(4)]
    for p in procs: p.start()
    for p in procs: p.join()
    print([p.exitcode for p in procs])
"""


@pytest.mark.parametrize("lines, fits", [(8_000, True), (36_000, False)],
                         ids=["below-capacity", "above-capacity"])
def test_four_spawned_workers_share_one_directory(tmp_path, lines, fits):
    # Lines are about 220 bytes: 4 x 8,000 is 7 MB (one rotation, everything
    # kept); 4 x 36,000 is 32 MB for 20 MB of room.
    run = run_python(WORKERS.replace("LINES", str(lines)), tmp_path, script="workers.py",
                     timeout=300)
    assert run.printed == ["[0, 0, 0, 0]"]
    log_dir = tmp_path / LOG_FILE.parent
    sizes = log_files(log_dir)
    assert all(size <= LIMIT for size in sizes.values()), sizes
    seen = defaultdict(list)
    for line in run.all_log_lines:
        row = parse(line)  # fails on a spliced line
        if row["message"].startswith("Logging to directory: "):
            continue
        match = re.fullmatch(r"w(\d) (\d+) y{150}", row["message"])
        assert match, line
        seen[int(match[1])].append(int(match[2]))
    for k in range(4):
        numbers = sorted(seen[k])
        assert len(numbers) == len(set(numbers)), f"worker {k} has a line twice"
        if fits:
            assert numbers == list(range(lines)), f"worker {k} lost lines"
        else:
            # Only the oldest lines went, with the oldest file.
            assert numbers and numbers == list(range(numbers[0], lines)), f"worker {k}"
    if not fits:
        assert set(sizes) == {"korvex.log", "korvex.1.log", "korvex.2.log", "korvex.3.log"}
        for name in ("korvex.1.log", "korvex.2.log", "korvex.3.log"):
            assert sizes[name] >= LIMIT - BUFFER - 300, (name, sizes[name])


ROTATE_UNDER_PRESSURE = """
import os, resource, time, foundation as f
f.initialize_logging()
f.info("first")
held = []
def exhaust():  # PRESSURE: what runs out when the new file is opened
    if PRESSURE == "descriptors":
        resource.setrlimit(resource.RLIMIT_NOFILE, (64, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
        while True:
            held.append(os.open(os.devnull, os.O_RDONLY))
    for i in range(1_000_000):  # inodes of the small device
        open(f"filler-{i}", "w").close()
        held.append(f"filler-{i}")
try:
    exhaust()
except OSError:
    pass
for i in range(6000):  # past the limit: rotates while nothing is left
    f.info(f"{i:05d} " + "x" * 1000)
f.warn("still running")
for item in held:
    os.close(item) if isinstance(item, int) else os.remove(item)
time.sleep(1.2)  # a failed reopen is retried once a second
f.warn("after the pressure")
f.shutdown_logging()
"""


def rotated_messages(run):
    log_dir = run.cwd / LOG_FILE.parent
    return [parse(line)["message"] for line in (log_dir / "korvex.1.log").read_text().splitlines()]


def test_rotation_with_no_descriptor_left_reuses_the_old_one(tmp_path):
    run = run_python(ROTATE_UNDER_PRESSURE.replace("PRESSURE", repr("descriptors")), tmp_path)
    assert run.stderr == ""
    kept = rotated_messages(run)[2:] + [parse(line)["message"] for line in run.log_lines]
    assert kept == [f"{i:05d} " + "x" * 1000 for i in range(6000)] + [
        "still running", "after the pressure"]


@pytest.fixture
def tiny_device(tmp_path):
    """A tmpfs with room for 64 inodes, mounted as the working directory."""
    mount_point = tmp_path / "device"
    mount_point.mkdir()
    mounted = os.geteuid() == 0 and shutil.which("mount") is not None and subprocess.run(
        ["mount", "-t", "tmpfs", "-o", "size=64m,nr_inodes=64", "tmpfs", str(mount_point)],
        capture_output=True).returncode == 0
    if not mounted:
        pytest.skip("needs root to mount a tmpfs with few inodes")
    try:
        yield mount_point
    finally:
        subprocess.run(["umount", "-l", str(mount_point)], check=False)


def test_rotation_with_no_inode_left_keeps_every_line_and_recovers(tiny_device):
    run = run_python(ROTATE_UNDER_PRESSURE.replace("PRESSURE", repr("inodes")), tiny_device)
    assert run.stderr.count("Failed opening file") == 1, run.stderr
    # The renamed file took the lines while no new one could be made.
    assert rotated_messages(run)[2:] == [f"{i:05d} " + "x" * 1000 for i in range(6000)] + [
        "still running"]
    assert [parse(line)["message"] for line in run.log_lines] == ["after the pressure"]


def refusing_permissions():
    """A command prefix under which file permissions apply, or None."""
    if os.geteuid() != 0:
        return []
    setpriv = shutil.which("setpriv")
    return [setpriv, "--bounding-set=-all", "--inh-caps=-all"] if setpriv else None


def test_refused_rename_keeps_every_line_and_is_retried(tmp_path):
    wrapper = refusing_permissions()
    if wrapper is None:
        pytest.skip("running as root without setpriv: permissions cannot be made to apply")
    run = run_python(
        """
        import os, time, foundation as f
        f.initialize_logging()
        os.chmod(".vantrel/logs", 0o555)
        start = time.monotonic()
        for i in range(6000):
            f.info(f"{i:05d} " + "x" * 1000)
        f.warn(f"took {time.monotonic() - start:.2f}")
        os.chmod(".vantrel/logs", 0o755)
        time.sleep(1.2)
        for i in range(100):
            f.info(f"again {i:05d} " + "x" * 1000)
        f.shutdown_logging()
        """,
        tmp_path, wrapper=wrapper, timeout=120,
    )
    assert run.stderr.count("Failed renaming") == 1, run.stderr
    log_dir = tmp_path / LOG_FILE.parent
    first = [parse(line)["message"] for line in (log_dir / "korvex.1.log").read_text().splitlines()]
    assert first[1:6001] == [f"{i:05d} " + "x" * 1000 for i in range(6000)]
    assert float(first[6001].split()[1]) < 2  # the write path never slept on the refusal
    assert [parse(line)["message"] for line in run.log_lines] == [
        f"again {i:05d} " + "x" * 1000 for i in range(100)]
    assert all(LINE_RE.match(line) for line in run.all_log_lines)

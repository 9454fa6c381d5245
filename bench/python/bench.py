"""foundation side by side with what a robot programmer would use instead.

Every figure is the median of several repeats, measured in this one process
(or, for start-up and memory, in fresh child interpreters) on this machine.
Prints a table and writes the results as JSON.
"""

from __future__ import annotations

import argparse
import array
import gc
import json
import logging
import logging.handlers
import math
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
import timeit
from contextlib import contextmanager
from pathlib import Path

import foundation
import foundation_logging
from foundation import Feedforward, FeedforwardController, Level, PidConfig, PidController

REPEATS = 7
SOURCE = "/opt/site-packages/korvex/step/motion/drive.py"
MESSAGE = "velocity 10.25 rad/s, output 5.3 V, integral 0.125"


def ns_per_call(stmts: dict[str, str], namespace: dict, number: int = 200_000) -> dict[str, float]:
    """Median ns per call of each statement, measured round-robin so that the
    machine's drift affects every candidate alike."""
    timers = {name: timeit.Timer(stmt, globals=namespace) for name, stmt in stmts.items()}
    samples: dict[str, list[float]] = {name: [] for name in stmts}
    for timer in timers.values():
        timer.timeit(number // 10)  # warm-up
    for _ in range(REPEATS):
        for name, timer in timers.items():
            samples[name].append(timer.timeit(number) / number * 1e9)
    return {name: statistics.median(values) for name, values in samples.items()}


def add_group(results, name: str, stmts: dict[str, str], namespace: dict):
    """The first statement is foundation's, the others its peers."""
    times = ns_per_call(stmts, namespace)
    ours, *peers = times
    results.add(name, times[ours], "ns/call", {peer: times[peer] for peer in peers})


class PlainPid:
    """The controller's algorithm in plain Python, for comparison."""

    def __init__(self, kp, ki, kd, integral_max=10.0, deadband=0.01, alpha=0.1,
                 out_min=-10.0, out_max=10.0):
        self.kp, self.ki, self.kd = kp, ki, kd
        self.integral_max, self.deadband, self.alpha = integral_max, deadband, alpha
        self.out_min, self.out_max = out_min, out_max
        self.integral = self.prev_error = self.derivative = 0.0
        self.first = True

    def update(self, error, dt):
        if dt <= 0.0:
            return 0.0
        if abs(error) > self.deadband:
            s = error * dt + self.integral
            self.integral = (self.integral_max if s > self.integral_max
                             else -self.integral_max if s < -self.integral_max else s)
        if self.first:
            self.first = False
            d = 0.0
        else:
            a = min(1.0, max(0.0, self.alpha))
            self.derivative = (error - self.prev_error) / dt * a + (1 - a) * self.derivative
            d = self.derivative
        out = (self.kp * error + self.ki * self.integral) + self.kd * d
        out = self.out_max if out > self.out_max else self.out_min if out < self.out_min else out
        self.prev_error = error
        return out


def plain_feedforward(velocity, acceleration=0.0, kS=0.25, kV=2.0, kA=0.5):
    total = velocity * kV + acceleration * kA
    return total if velocity == 0.0 else math.copysign(1.0, velocity) * kS + total


@contextmanager
def stdout_to_devnull():
    """Points file descriptor 1 (the console sink's) at /dev/null."""
    sys.stdout.flush()
    saved = os.dup(1)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(null)


class Results:
    def __init__(self):
        self.entries = []

    def add(self, name, value, unit, peers=None, higher_is_better=False):
        entry = {"name": name, "value": value, "unit": unit, "peers": {}}
        for peer, peer_value in (peers or {}).items():
            ratio = (value / peer_value if higher_is_better else peer_value / value) \
                if value and peer_value else None
            entry["peers"][peer] = {"value": peer_value, "ratio": ratio}
        self.entries.append(entry)
        return entry


def bench_update(results, floor):
    controller = PidController(PidConfig(kp=2.0, ki=0.5, kd=0.1))
    from simple_pid import PID
    simple = PID(2.0, 0.5, 0.1, setpoint=0.0, output_limits=(-10.0, 10.0))
    plain = PlainPid(2.0, 0.5, 0.1)
    ns = {"update": controller.update, "simple": simple, "plain": plain.update,
          "floor": floor.Floor().update}
    add_group(results, "PidController.update", {
        "foundation": "update(0.5, 0.01)",
        "binding floor (no-op)": "floor(0.5, 0.01)",
        "plain Python": "plain(0.5, 0.01)",
        "simple-pid": "simple(0.5, dt=0.01)",
    }, ns)


def bench_calculate(results, floor):
    controller = FeedforwardController(Feedforward(0.25, 2.0, 0.5))
    ns = {"calc": controller.calculate, "plain": plain_feedforward,
          "floor": floor.Floor().calculate}
    add_group(results, "FeedforwardController.calculate", {
        "foundation": "calc(1.5, 0.5)",
        "binding floor (no-op)": "floor(1.5, 0.5)",
        "plain Python": "plain(1.5, 0.5)",
    }, ns)


def bench_rejected(results, floor):
    # Runs after bench_written, with the logger up: the threshold, not the
    # readiness test, rejects the message.
    foundation.set_global_level(Level.warn)
    std_logger = logging.getLogger("bench.rejected")
    std_logger.setLevel(logging.WARNING)
    ns = {"log": foundation._log_filtered, "debug": Level.debug, "path": SOURCE, "msg": MESSAGE,
          "std": std_logger.debug, "floor": floor.log_filtered}
    add_group(results, "_log_filtered rejected by threshold", {
        "foundation": "log(debug, path, msg)",
        "binding floor (no-op, 3 args)": "floor(debug, path, msg)",
        "logging.Logger.debug, disabled": "std(msg)",
    }, ns)
    foundation.clear_filters()


class ColumnsFilter(logging.Filter):
    """Adds the elapsed seconds and a shortened source column to each record."""

    def __init__(self):
        super().__init__()
        self.start = time.monotonic()

    def filter(self, record):
        record.elapsed = f"{time.monotonic() - self.start:>9.3f}s"
        parts = record.pathname.split("korvex/", 1)[-1].split("/")
        record.short = ".".join([p[0] for p in parts[:-1] if p] + [parts[-1]])
        return True


def std_logger_like_foundation(log_dir: Path) -> logging.Logger:
    logger = logging.getLogger("bench.written")
    logger.handlers.clear()
    logger.propagate = False
    logger.setLevel(logging.DEBUG)
    formatter = logging.Formatter(
        "%(asctime)s | %(elapsed)s | %(levelname)-8s | %(short)-30s | %(message)s",
        datefmt="%Y-%m-%d %H:%M:%S")
    console = logging.StreamHandler(open(os.devnull, "w"))
    rotating = logging.handlers.RotatingFileHandler(
        log_dir / "std.log", maxBytes=5 * 1024 * 1024, backupCount=3)
    for handler in (console, rotating):
        handler.setFormatter(formatter)
        handler.addFilter(ColumnsFilter())
        logger.addHandler(handler)
    return logger


def lines_per_second(fn, lines: int) -> float:
    rates = []
    for _ in range(3):
        start = time.perf_counter()
        fn(lines)
        rates.append(lines / (time.perf_counter() - start))
    return statistics.median(rates)


def bench_written(results, lines: int, tmp: Path, latency_lines: int):
    """Lines per second through file and console; the caller has pointed the
    console at /dev/null and made `tmp` the log location."""
    previous = os.getcwd()
    os.chdir(tmp)
    try:
        foundation.initialize_logging()
        log, info = foundation._log_filtered, Level.info

        def ours(n):
            for _ in range(n):
                log(info, SOURCE, MESSAGE)

        std = std_logger_like_foundation(tmp)
        # The standard library records the caller's own path; give it the same one.
        std.findCaller = lambda *a, **k: (SOURCE, 1, "drive", None)

        def theirs(n):
            for _ in range(n):
                std.info(MESSAGE)

        def plain(n):
            for _ in range(n):
                plain_info(MESSAGE)

        plain_info = foundation.info
        # A standard-library logger written by foundation through the bridge.
        bridged = logging.getLogger("bench.bridged")
        bridged.handlers.clear()
        bridged.propagate = False
        bridged.setLevel(logging.DEBUG)
        bridged.addHandler(foundation_logging.Handler())
        bridged.findCaller = std.findCaller

        def through_bridge(n):
            for _ in range(n):
                bridged.info(MESSAGE)

        rate_ours = lines_per_second(ours, lines)
        rate_bridge = lines_per_second(through_bridge, lines // 4)
        rate_plain = lines_per_second(plain, lines)
        rate_std = lines_per_second(theirs, lines // 4)
        for handler in std.handlers:
            handler.close()
        bench_latency(results, latency_lines)
    finally:
        os.chdir(previous)
    peer = "logging, same layout (StreamHandler + RotatingFileHandler)"
    results.add("_log_filtered written (file + console)", rate_ours, "lines/s",
                {peer: rate_std}, higher_is_better=True)
    results.add("info written (file + console)", rate_plain, "lines/s",
                {peer: rate_std}, higher_is_better=True)
    results.add("logging.Logger.info through foundation_logging", rate_bridge, "lines/s",
                {peer: rate_std}, higher_is_better=True)


def bench_latency(results, lines: int):
    """Latency of each written _log_filtered call over `lines` lines, which
    include rotations of the 5 MiB file; the caller has the logger up in a
    temporary directory with the console at /dev/null. Each figure includes
    the timer's own cost (two perf_counter_ns calls and the loop, measured
    separately as the floor)."""
    log, info, clock = foundation._log_filtered, Level.info, time.perf_counter_ns
    limit = 5_242_880
    log_file = Path(".vantrel/logs/korvex.log")
    log(info, SOURCE, MESSAGE)
    foundation.warn("flush before measuring")
    line_bytes = len(log_file.read_bytes().splitlines()[-2]) + 1
    start_bytes = log_file.stat().st_size
    # An array and no garbage collection while measuring: a list of a million
    # fresh ints makes the collector walk it, which shows up as the logger's.
    samples = array.array("q", bytes(8 * lines))
    floor = array.array("q", bytes(8 * 100_000))
    gc.disable()
    t = clock()
    for i in range(len(floor)):
        now = clock()
        floor[i] = now - t
        t = now
    t = clock()
    for i in range(lines):
        log(info, SOURCE, MESSAGE)
        now = clock()
        samples[i] = now - t
        t = now
    gc.enable()
    ordered = sorted(samples)

    def pct(p):
        return ordered[min(lines - 1, int(p / 100 * lines))] / 1000

    # Rotations fall due at the line that would pass the limit and happen at
    # the buffer's next write, within one buffer of lines after it.
    per_file = limit // line_bytes
    first = (limit - start_bytes) // line_bytes
    due = range(first, lines, per_file)
    slowest = sorted(range(lines), key=samples.__getitem__, reverse=True)[:10]
    at_rotation = sum(any(0 <= i - d <= 200 for d in due) for i in slowest)
    timer = statistics.median(floor) / 1000
    for name, value in [("p50", pct(50)), ("p99", pct(99)), ("p99.9", pct(99.9)),
                        ("max", ordered[-1] / 1000)]:
        entry = results.add(f"_log_filtered written, latency {name} ({lines:,} lines)", value,
                            "us", {"timer and loop alone (p50)": timer} if name == "p50" else None)
        for peer in entry["peers"].values():
            peer["ratio"] = None  # a cost included, not a race
    results.entries[-1]["note"] = (
        f"{at_rotation} of the 10 slowest calls at a rotation ({len(due)} rotations); "
        f"the slowest: {', '.join(f'{samples[i] / 1000:.0f}' for i in slowest[:5])} us")


def child_seconds(codes: list[str], runs: int = 31) -> list[float]:
    """Median wall time of a fresh interpreter running each code, round-robin."""
    times: list[list[float]] = [[] for _ in codes]
    for _ in range(runs):
        for i, code in enumerate(codes):
            start = time.perf_counter()
            subprocess.run([sys.executable, "-c", code], check=True)
            times[i].append(time.perf_counter() - start)
    return [statistics.median(t) for t in times]


def bench_import(results):
    bare, with_module = child_seconds(["pass", "import foundation"])
    entry = results.add("import foundation (over a bare start)", (with_module - bare) * 1e3, "ms",
                        {"bare interpreter start": bare * 1e3})
    entry["peers"]["bare interpreter start"]["ratio"] = None  # a cost on top, not a race


def bench_memory(results, lines: int):
    code = f"""
import os, foundation
from foundation import Level
def rss():
    for line in open("/proc/self/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
foundation.initialize_logging()
for _ in range(10000):
    foundation._log_filtered(Level.info, {SOURCE!r}, {MESSAGE!r})
before = rss()
for _ in range({lines}):
    foundation._log_filtered(Level.info, {SOURCE!r}, {MESSAGE!r})
print(rss() - before)
"""
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([sys.executable, "-c", code], cwd=tmp, check=True,
                             capture_output=True, text=True).stdout.splitlines()[-1]
    results.add(f"resident memory growth over {lines:,} lines", int(out) / 1024, "MiB")


def add_cpp(results, path: Path):
    data = json.loads(path.read_text())
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"]).replace("BM_", "C++ ")
        results.add(name, b["real_time"], "ns/line" if "LineThrough" in name else "ns/call")


def machine() -> dict:
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor())
    return {"date": time.strftime("%Y-%m-%d"), "cores": os.cpu_count(), "cpu": cpu,
            "python": platform.python_version(), "platform": platform.platform(),
            "numpy": __import__("numpy").__version__}


def print_table(results):
    print(f"{'case':<46} {'value':>14}   peers (value, speed-up of foundation)")
    for e in results.entries:
        print(f"{e['name']:<46} {e['value']:>10.1f} {e['unit']:<8}")
        if e.get("note"):
            print(f"{'':<8}{e['note']}")
        for peer, p in e["peers"].items():
            ratio = f"{p['ratio']:.2f}x" if p["ratio"] else "-"
            print(f"{'':<8}{peer:<52} {p['value']:>10.1f}   {ratio}")


def markdown(results) -> str:
    """The results as a Markdown table, for the README."""
    rows = ["| case | foundation | peer | peer's figure | foundation's advantage |",
            "|---|---:|---|---:|---:|"]
    for e in results.entries:
        value = f"{e['value']:,.1f} {e['unit']}"
        if not e["peers"]:
            rows.append(f"| {e['name']} | {value} | | | |")
        for i, (peer, p) in enumerate(e["peers"].items()):
            ratio = f"{p['ratio']:.2f}x" if p["ratio"] else "-"
            rows.append(f"| {e['name'] if i == 0 else ''} | {value if i == 0 else ''} | {peer} "
                        f"| {p['value']:,.1f} | {ratio} |")
    return "\n".join(rows) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--floor-dir", type=Path, required=True,
                        help="directory holding the bench_floor extension")
    parser.add_argument("--cpp-json", type=Path, help="Google Benchmark JSON to include")
    parser.add_argument("--out", type=Path, default=Path("bench/results.json"))
    parser.add_argument("--lines", type=int, default=200_000, help="lines per written run")
    parser.add_argument("--memory-lines", type=int, default=1_000_000)
    parser.add_argument("--latency-lines", type=int, default=1_000_000)
    parser.add_argument("--markdown", type=Path, help="also write the table as Markdown here")
    args = parser.parse_args()
    sys.path.insert(0, str(args.floor_dir))
    import bench_floor

    results = Results()
    if args.cpp_json:
        add_cpp(results, args.cpp_json)
    bench_update(results, bench_floor)
    bench_calculate(results, bench_floor)
    with tempfile.TemporaryDirectory() as tmp, stdout_to_devnull():
        bench_written(results, args.lines, Path(tmp), args.latency_lines)
        bench_rejected(results, bench_floor)
        foundation.shutdown_logging()
    bench_import(results)
    bench_memory(results, args.memory_lines)
    print_table(results)
    args.out.write_text(json.dumps({"machine": machine(), "results": results.entries}, indent=2)
                        + "\n")
    print(f"\nwritten: {args.out}")
    if args.markdown:
        args.markdown.write_text(markdown(results))
        print(f"written: {args.markdown}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""What the parent application pays for each question and for a start, on
the benchmarks' private desktop (a 1280x720 window that flashes and beeps):
wall and CPU time of each short command (spawn to exit) and of a start
(spawn to "Recording started!"), medians and 95th percentiles over 20 runs.

    bench/startup/startup.py [--runs 20] [--build build] [--before BUILD]

With --before, a build of another commit is measured in the same run,
alternating with the first run by run, and the table shows both side by side
with their ratio. The CPU time of a start is that of the threads alive when
"Recording started!" is read (the kernel's per-thread run time), and the
whole process's once the recording, stopped at once, has exited.
"""

import argparse
import math
import os
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench", "compare"))
from compare import Desktop, demo_window, median, wait_rusage  # noqa: E402

COMMANDS = ("meetings", "audio-devices", "is-microphone-allowed", "is-recording-allowed",
            "bundle-id")


def p95(values):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(0.95 * len(ordered)) - 1)]


def ask(helper, command):
    """Spawn to exit: (wall ms, CPU ms)."""
    spawned = time.monotonic()
    process = subprocess.Popen([helper, command], stdout=subprocess.DEVNULL)
    status, cpu, _ = wait_rusage(process)
    if status != 0:
        raise RuntimeError(f"{helper} {command} exited with status {status}")
    return (time.monotonic() - spawned) * 1000, cpu * 1000


def threads_cpu(pid):
    """Run time of the process's living threads, in ms."""
    total = 0
    task = f"/proc/{pid}/task"
    for thread in os.listdir(task):
        try:
            with open(f"{task}/{thread}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total / 1e6


def start(helper, window, path):
    """Spawn to "Recording started!": (wall ms, CPU ms then, CPU ms of the whole
    start and immediate stop)."""
    spawned = time.monotonic()
    process = subprocess.Popen([helper, "start", window, "virtual_mic", path],
                               stdout=subprocess.PIPE, text=True)
    for line in process.stdout:
        if line.startswith("Recording started"):
            wall = (time.monotonic() - spawned) * 1000
            cpu = threads_cpu(process.pid)
            break
    else:
        process.wait()
        raise RuntimeError(f"{helper} did not start (status {process.returncode})")
    process.send_signal(signal.SIGINT)
    process.stdout.read()
    status, whole, _ = wait_rusage(process)
    os.remove(path)
    if status != 0:
        raise RuntimeError(f"{helper} stopped with status {status}")
    return wall, cpu, whole * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--before", help="the build directory of the version to compare with")
    parser.add_argument("--size", default="1280x720")
    options = parser.parse_args()

    builds = {"after": options.build}
    if options.before:
        builds = {"before": options.before, "after": options.build}
    for directory in builds.values():
        subprocess.run(["cmake", "--build", directory, "--target", "tarsel-helper"], check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", options.build, "--target", "demo-window"], check=True,
                   stdout=subprocess.DEVNULL)
    helpers = {name: os.path.join(directory, "Sources/Helper/tarsel-helper")
               for name, directory in builds.items()}
    window_program = os.path.join(options.build, "Tests/tools/demo_window/demo-window")

    figures = {}  # (figure, build) -> values

    def note(figure, build, value):
        figures.setdefault((figure, build), []).append(value)

    work = tempfile.mkdtemp(prefix="tarsel-startup-")
    desktop = Desktop(os.path.join(work, "desktop"))
    try:
        with demo_window(window_program, options.size,
                         ["--flash-every", "1.013", "--beep"]) as window:
            for run in range(options.runs):
                for build, helper in helpers.items():
                    for command in COMMANDS:
                        wall, cpu = ask(helper, command)
                        note(f"{command} wall", build, wall)
                        note(f"{command} CPU", build, cpu)
                    wall, cpu, whole = start(helper, window,
                                             os.path.join(work, f"{build}-{run}.mp4"))
                    note("start wall", build, wall)
                    note("start CPU", build, cpu)
                    note("start+stop CPU", build, whole)
    finally:
        desktop.stop()

    names = list(builds)
    print(f"\n{options.runs} runs, builds alternating; a {options.size} window on the private "
          "desktop; times in ms, median / p95\n")
    header = f"{'figure':28}" + "".join(f"{name + ' ' + '(median / p95)':>26}" for name in names)
    if len(names) == 2:
        header += f"{'after/before':>16}"
    print(header)
    print("-" * len(header))
    for figure in [f"{command} {kind}" for command in COMMANDS for kind in ("wall", "CPU")] + [
            "start wall", "start CPU", "start+stop CPU"]:
        row = f"{figure:28}"
        for name in names:
            values = figures[(figure, name)]
            row += f"{median(values):17.1f} / {p95(values):6.1f}"
        if len(names) == 2:
            ratio = median(figures[(figure, "after")]) / median(figures[(figure, "before")])
            row += f"{ratio:16.2f}"
        print(row)
    return 0


if __name__ == "__main__":
    sys.exit(main())

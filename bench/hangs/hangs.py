#!/usr/bin/env python3
"""Stops while a server hangs: on a private X11 desktop (Xvfb, PulseAudio)
and, where it can start, a private Wayland desktop (GNOME Shell, PipeWire,
WirePlumber, pipewire-pulse, the portal), recordings of a window or the
monitor, each interrupted 1 s after one server was stopped (SIGSTOP), 2.5 s
after "Recording started!". Measures the time from SIGINT to the process's
exit (after "Finished recording:"), with no server stopped beside it as the
reference in the same run.

    bench/hangs/hangs.py [--stops 20] [--build build] [--desktop x11|wayland|both]

Prints, per server stopped, the median, p95 and worst stop time and how many
stops ended with "Finished recording:" and status 0.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench", "compare"))
from compare import Desktop  # noqa: E402  (the private desktop the benchmarks share)

PICKER_ID = "4294967294"  # the Wayland entry that asks the desktop's picker
GIVE_UP = 30.0  # a stop this long is counted as hung, and the helper killed


class WaylandDesktop:
    """scripts/wayland-desktop, stopped on exit."""

    def __init__(self, state):
        self.state = state
        output = subprocess.run([os.path.join(ROOT, "scripts/wayland-desktop"), "start", state],
                                capture_output=True, text=True, check=True).stdout
        self.environment = dict(os.environ)
        self.environment.update(line.split("=", 1) for line in output.split() if "=" in line)

    def stop(self):
        subprocess.run([os.path.join(ROOT, "scripts/wayland-desktop"), "stop", self.state])


def server_pid(state, name):
    with open(os.path.join(state, "pids")) as pids:
        for line in pids:
            what, pid = line.split()
            if what == name:
                return int(pid)
    raise RuntimeError(f"no server {name} in {state}")


def timed_stop(helper, target, path, environment, pid):
    """Seconds from SIGINT to exit, and whether it finished cleanly."""
    if os.path.exists(path):
        os.remove(path)  # the helper never overwrites a file
    process = subprocess.Popen([helper, "start", target, "virtual_mic", path],
                               stdout=subprocess.PIPE, text=True, env=environment)
    said = []
    for line in process.stdout:
        said.append(line)
        if line.startswith("Recording started"):
            break
    else:
        process.wait()
        raise RuntimeError(f"the recording did not start (status {process.returncode}): "
                           + "".join(said))
    time.sleep(1.5)
    if pid:
        os.kill(pid, signal.SIGSTOP)
    try:
        time.sleep(1.0)
        interrupted = time.monotonic()
        process.send_signal(signal.SIGINT)
        try:
            output, _ = process.communicate(timeout=GIVE_UP)
        except subprocess.TimeoutExpired:
            process.kill()
            output, _ = process.communicate()
        elapsed = time.monotonic() - interrupted
    finally:
        if pid:
            os.kill(pid, signal.SIGCONT)
    return elapsed, "Finished recording:" in output and process.returncode == 0


def measure(label, stops, run_one):
    times, clean = [], 0
    for _ in range(stops):
        elapsed, finished = run_one()
        times.append(elapsed)
        clean += finished
    times.sort()
    p95 = times[min(len(times) - 1, int(round(0.95 * len(times))) - 1)]
    print(f"{label:28s} median {statistics.median(times):5.2f} s  p95 {p95:5.2f} s  "
          f"worst {times[-1]:5.2f} s  finished {clean}/{stops}", flush=True)


def bench_x11(helper, window_program, work, stops):
    desktop = Desktop(os.path.join(work, "x11"))
    try:
        window = subprocess.Popen([window_program, "--size", "640x360", "--flash-every", "1",
                                   "--beep"], stdout=subprocess.PIPE, text=True)
        window_id = window.stdout.readline().strip()
        time.sleep(1.0)  # mapped and listed
        environment = dict(os.environ)
        try:
            for name in ("", "xvfb", "audio"):
                pid = server_pid(desktop.state, name) if name else 0
                path = os.path.join(work, f"x11-{name or 'none'}.mp4")
                measure(f"X11, stopped: {name or 'none'}", stops,
                        lambda: timed_stop(helper, window_id, path, environment, pid))
        finally:
            window.terminate()
            window.wait()
    finally:
        desktop.stop()


def bench_wayland(helper, work, stops):
    try:
        desktop = WaylandDesktop(os.path.join(work, "wayland"))
    except subprocess.CalledProcessError as error:
        print(f"Wayland desktop: cannot start here ({error.stderr.strip()[-200:]})")
        return
    try:
        client = subprocess.Popen(["/usr/bin/weston-simple-shm"], env=desktop.environment)
        try:
            for name in ("", "gnome-shell", "pipewire", "wireplumber", "pipewire-pulse", "portal"):
                pid = server_pid(desktop.state, name) if name else 0
                path = os.path.join(work, f"wayland-{name or 'none'}.mp4")

                def run_one():
                    with open(desktop.environment["SCREENCAST_PICK_FILE"], "w") as pick:
                        pick.write("monitor\n")
                    return timed_stop(helper, PICKER_ID, path, desktop.environment, pid)

                measure(f"Wayland, stopped: {name or 'none'}", stops, run_one)
        finally:
            client.terminate()
            client.wait()
    finally:
        desktop.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stops", type=int, default=20)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--desktop", choices=("x11", "wayland", "both"), default="both")
    options = parser.parse_args()
    subprocess.run(["cmake", "--build", options.build, "--target", "tarsel-helper", "demo-window"],
                   check=True, stdout=subprocess.DEVNULL)
    helper = os.path.join(options.build, "Sources/Helper/tarsel-helper")
    window_program = os.path.join(options.build, "Tests/tools/demo_window/demo-window")
    work = tempfile.mkdtemp(prefix="tarsel-hangs-")
    print(f"{options.stops} stops each, SIGINT to exit:")
    if options.desktop in ("x11", "both"):
        bench_x11(helper, window_program, work, options.stops)
    if options.desktop in ("wayland", "both"):
        bench_wayland(helper, work, options.stops)
    print(f"files kept in {work}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

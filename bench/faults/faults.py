#!/usr/bin/env python3
"""Kills at random moments: 20 recordings of a flashing, beeping window,
each ended by SIGKILL at a random moment between 0.3 s and 12 s after
"Recording started!", on one private virtual desktop. For each file it asks
ffmpeg (-v error) whether every track decodes without an error, and compares
where its shortest track ends with the time the helper was alive after its
start line.

    bench/faults/faults.py [--kills 20] [--seed N] [--build build]

Prints one row per kill, then how many files decode without error and the
worst loss (time alive minus where the shortest track ends).
"""

import argparse
import json
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench", "compare"))
from compare import Desktop  # noqa: E402  (the private desktop the benchmarks share)


def decoding_errors(path):
    if not os.path.exists(path):
        return "no file"
    result = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"],
                            capture_output=True, text=True)
    return result.stderr.strip() or ("" if result.returncode == 0 else f"status {result.returncode}")


def recorded_seconds(path):
    """Where the shortest track ends: a kill must cost no track more than
    the others."""
    result = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                             "stream=start_time,duration", "-of", "json", path],
                            capture_output=True, text=True)
    try:
        ends = [float(stream["start_time"]) + float(stream["duration"])
                for stream in json.loads(result.stdout)["streams"]]
    except (ValueError, KeyError):
        return 0.0
    return min(ends, default=0.0)


def record_and_kill(helper, window, path, delay):
    process = subprocess.Popen([helper, "start", window, "virtual_mic", path],
                               stdout=subprocess.PIPE, text=True)
    for line in process.stdout:
        if line.startswith("Recording started"):
            break
    else:
        process.wait()
        raise RuntimeError(f"the recording did not start (status {process.returncode})")
    started = time.monotonic()
    time.sleep(delay)
    process.send_signal(signal.SIGKILL)
    process.wait()
    return time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kills", type=int, default=20)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    options = parser.parse_args()
    seed = options.seed if options.seed is not None else random.randrange(1 << 30)
    moments = random.Random(seed)

    subprocess.run(["cmake", "--build", options.build, "--target", "tarsel-helper", "demo-window"],
                   check=True, stdout=subprocess.DEVNULL)
    helper = os.path.join(options.build, "Sources/Helper/tarsel-helper")
    window_program = os.path.join(options.build, "Tests/tools/demo_window/demo-window")

    work = tempfile.mkdtemp(prefix="tarsel-faults-")
    desktop = Desktop(os.path.join(work, "desktop"))
    rows = []
    try:
        window_process = subprocess.Popen(
            [window_program, "--size", "640x360", "--flash-every", "1", "--beep"],
            stdout=subprocess.PIPE, text=True)
        window = window_process.stdout.readline().strip()
        try:
            for kill in range(options.kills):
                delay = moments.uniform(0.3, 12.0)
                path = os.path.join(work, f"kill{kill:02d}.mp4")
                alive = record_and_kill(helper, window, path, delay)
                errors = decoding_errors(path)
                recorded = recorded_seconds(path) if not errors else 0.0
                rows.append((kill, alive, recorded, errors))
                print(f"kill {kill:2d}: alive {alive:6.2f} s, recorded {recorded:6.2f} s, "
                      f"loss {alive - recorded:5.2f} s, "
                      f"{'decodes' if not errors else 'ERRORS: ' + errors.splitlines()[0]}",
                      flush=True)
        finally:
            window_process.terminate()
            window_process.wait()
    finally:
        desktop.stop()

    clean = [row for row in rows if not row[3]]
    worst = max((alive - recorded for _, alive, recorded, _ in rows), default=0.0)
    print(f"\nseed {seed}: {len(clean)}/{len(rows)} files decode without error; "
          f"worst loss {worst:.2f} s (time alive after \"Recording started!\" minus the "
          "end of the shortest track)")
    print(f"files kept in {work}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

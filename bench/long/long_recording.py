#!/usr/bin/env python3
"""Long-recording benchmark: one recording of a 1280x720 window that moves,
flashes white and beeps at the same instant about every second, made by
tarsel-helper and by the ffmpeg command line at the same settings at the
same time, of the same window, on one private virtual desktop. Whatever
drift the content has of its own shows in both files alike; what only the
helper's file shows is the helper's.

    bench/long/long_recording.py [--minutes 60] [--build build] [--helper PATH ...]
                                 [--card-ppm N]

--helper records with another tarsel-helper instead of the build's; given
more than once, all of them record at once, side by side with ffmpeg (a
change compared with the code before it, under the same load and content).
--card-ppm plays the window through a sound card whose clock runs N parts
per million off the host clock (Tests/tools/sound_card), the default sink
all record the system audio of, as a real card's does.

Prints, for each recorder, the median A/V offset (beep onset minus flash
onset) of every minute, the largest change of the offset from one flash to
the next, the resident memory after the first minute, at the end and at its
peak, the video frames written against the frames the rate asks for, and
what each helper measured of its sources' clocks.

A flash's onset read from the frames is known only to within a frame
period, which alone would change the offset by tens of milliseconds from
one flash to the next. The window flashes on a fixed period of its own
clock, the clock the frames are stamped with, so each onset is taken from
a straight line fitted to the onsets of the flashes within half a minute
of it: frame by frame, the offsets then change only as much as the sound
moves (and by the demo's own 10 ms audio chunks).
"""

import argparse
import contextlib
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench", "compare"))
# The private desktop, the recorders, the file probes and the onset
# detection the benchmarks share.
from compare import (RATE, Desktop, beeps_and_flashes, build_helpers, median, probe,  # noqa: E402
                     start_ffmpeg, start_helper, stop_ffmpeg, stop_helper)

SIZE = "1280x720"
FLASH_PERIOD = 1.013  # no multiple of the frame period: flashes sweep the frame grid
FIT_SPAN = 30  # flashes on each side of the one whose onset is fitted


def resident_mib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def fitted_onsets(flashes):
    """Flash index -> onset on a line through the onsets around it."""
    if not flashes:
        return {}
    first = flashes[0]
    indexed = {}
    for onset in flashes:
        indexed.setdefault(round((onset - first) / FLASH_PERIOD), onset)
    fitted = {}
    for index in indexed:
        near = [(k, indexed[k]) for k in range(index - FIT_SPAN, index + FIT_SPAN + 1)
                if k in indexed]
        count = len(near)
        mean_k = sum(k for k, _ in near) / count
        mean_t = sum(t for _, t in near) / count
        spread = sum((k - mean_k) ** 2 for k, _ in near)
        slope = (sum((k - mean_k) * (t - mean_t) for k, t in near) / spread
                 if spread > 0 else FLASH_PERIOD)
        fitted[index] = mean_t + slope * (index - mean_k)
    return fitted


def offsets_by_flash(path):
    """Flash index -> (beep time in s, beep minus fitted flash onset in ms)."""
    beeps, flashes = beeps_and_flashes(path)
    fitted = fitted_onsets(flashes)
    if not fitted:
        return {}
    result = {}
    for beep in beeps:
        index = min(fitted, key=lambda k: abs(fitted[k] - beep))
        if abs(fitted[index] - beep) < 0.5:
            result.setdefault(index, (beep, (beep - fitted[index]) * 1000))
    return result


def summarise(path, run):
    by_flash = offsets_by_flash(path)
    minutes = {}
    for beep, offset in by_flash.values():
        minutes.setdefault(int(beep // 60), []).append(offset)
    steps = [abs(by_flash[k + 1][1] - by_flash[k][1]) for k in by_flash if k + 1 in by_flash]
    run.update(probe(path))
    run["minutes"] = {minute: (median(values), len(values)) for minute, values in minutes.items()}
    run["largest_step"] = max(steps) if steps else None
    run["steps_over_10"] = sum(1 for step in steps if step > 10)
    run["flashes"] = len(by_flash)
    return run


@contextlib.contextmanager
def sound_card(ppm):
    """The default sink on a clock `ppm` off the host's; yields the source
    that records it, or the desktop's own when `ppm` is None."""
    if ppm is None:
        yield "speakers.monitor"
        return
    card = subprocess.Popen([os.path.join(ROOT, "Tests/tools/sound_card/sound_card.py"),
                             "--name", "card", "--ppm", str(ppm), "--default"],
                            stdout=subprocess.PIPE, text=True)
    try:
        if card.stdout.readline().strip() != "ready":
            raise RuntimeError("the sound card did not start")
        yield "card.monitor"
    finally:
        card.terminate()
        card.wait()


def clock_reports(log_path):
    """The helper's log lines on its sources' clocks."""
    with open(log_path, errors="replace") as log:
        return [line.strip() for line in log if "ppm off the host clock" in line]


def record_all(window_program, helpers, paths, logs, system_audio, seconds):
    """Records the window with every helper and ffmpeg at once; returns their
    runs and their resident memory after the first minute and at the end."""
    window_process = subprocess.Popen(
        [window_program, "--title", "Benchmark", "--position", "0,0", "--size", SIZE,
         "--flash-every", str(FLASH_PERIOD), "--beep"], stdout=subprocess.PIPE, text=True)
    try:
        window = window_process.stdout.readline().strip()
        processes = {}
        for label, helper in helpers.items():
            with open(logs[label], "w") as log:
                processes[label] = start_helper(helper, window, paths[label], log)
        processes["ffmpeg"] = start_ffmpeg(window, SIZE, paths["ffmpeg"], system_audio)
        started = time.monotonic()
        time.sleep(min(60, seconds))
        after_first_minute = {name: resident_mib(p.pid) for name, p in processes.items()}
        time.sleep(max(0.0, seconds - (time.monotonic() - started)))
        final = {name: resident_mib(p.pid) for name, p in processes.items()}
        runs = {label: stop_helper(processes[label]) for label in helpers}
        runs["ffmpeg"] = stop_ffmpeg(processes["ffmpeg"])
        return runs, after_first_minute, final
    finally:
        window_process.terminate()
        window_process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--helper", action="append", default=[],
                        help="a tarsel-helper other than the build's; may be repeated")
    parser.add_argument("--card-ppm", type=float,
                        help="play through a sound card this far off the host clock")
    options = parser.parse_args()

    helpers = build_helpers(options.build, ["demo-window"], options.helper)
    labels = list(helpers)
    window_program = os.path.join(options.build, "Tests/tools/demo_window/demo-window")

    work = tempfile.mkdtemp(prefix="tarsel-long-")
    paths = {name: os.path.join(work, f"{name}.mp4") for name in labels + ["ffmpeg"]}
    seconds = options.minutes * 60
    desktop = Desktop(os.path.join(work, "desktop"))
    logs = {label: os.path.join(work, f"{label}.log") for label in labels}
    try:
        with sound_card(options.card_ppm) as system_audio:
            runs, after_first_minute, final = record_all(
                window_program, helpers, paths, logs, system_audio, seconds)
    finally:
        desktop.stop()
    for name, run in runs.items():
        run.update({"rss_first_minute": after_first_minute[name], "rss_final": final[name]})
        summarise(paths[name], run)

    print(f"\n{options.minutes:g} min of a {SIZE} window at {RATE} fps flashing and beeping "
          f"every {FLASH_PERIOD} s, recorded by all at once; x264 veryfast CRF 23, "
          f"two ALAC tracks\n")
    names = list(runs)
    header = f"{'minute':>6} " + " ".join(f"{name + ' ms (n)':>22}" for name in names)
    print("median A/V offset per minute (beep minus flash)")
    print(header)
    print("-" * len(header))
    last = max((minute for run in runs.values() for minute in run["minutes"]), default=-1)
    for minute in range(last + 1):
        cells = []
        for name in names:
            value = runs[name]["minutes"].get(minute)
            cells.append(f"{value[0]:+8.1f} ({value[1]:2d})" if value else "-")
        print(f"{minute:6d} " + " ".join(f"{cell:>22}" for cell in cells))
    print()
    header = (f"{'recorder':14} {'largest step ms':>16} {'steps >10 ms':>13} {'CPU s/s':>8} "
              f"{'RSS MiB 1 min/final/peak':>26} {'frames/expected':>16} {'exit':>5}")
    print(header)
    print("-" * len(header))
    for name in names:
        run = runs[name]
        step = f"{run['largest_step']:.1f}" if run["largest_step"] is not None else "-"
        expected = round((run["duration"] or seconds) * RATE)
        memory = f"{run['rss_first_minute']:.1f}/{run['rss_final']:.1f}/{run['peak']:.1f}"
        cpu = run["cpu"] / (run["duration"] or seconds)
        print(f"{name:14} {step:>16} {run['steps_over_10']:13d} {cpu:8.3f} {memory:>26} "
              f"{run['video_frames']:7d}/{expected:<8d} {run['status']:5d}")
    for label in labels:
        reports = clock_reports(logs[label])
        print(f"\n{label}: the sources' clocks as measured")
        print("\n".join(reports) if reports else "(none measured)")
    card = f", through a card {options.card_ppm:+g} ppm off the host clock" \
        if options.card_ppm is not None else ""
    print(f"\nfiles kept in {work}{card}")


if __name__ == "__main__":
    sys.exit(main())

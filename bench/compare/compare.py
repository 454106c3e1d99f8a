#!/usr/bin/env python3
"""Side-by-side recording benchmark: the same window, duration and encoder
settings recorded by tarsel-helper and by the ffmpeg command line (x11grab
with two pulse inputs), alternately, for a moving window that flashes white
and beeps at the same instant about every second and for a still window,
several rounds in one run on one private virtual desktop.

It prints one table: CPU seconds per recorded second, the same after the
first two seconds (the steady state, start-up left out), the ratio to
ffmpeg's in the same round, peak memory, video frames written against the
frames the rate asks for, the largest gap between frames, and the A/V offset
(beep onset minus flash onset, read back from the files) as median and range.
A flash onset lies between the last dark and the first bright frame; the
midpoint is taken, which is right on average over flashes spread across the
frame grid and within half a frame period each.

    bench/compare/compare.py [--seconds 20] [--rounds 3] [--size 1280x720] [--build build]
                             [--helper PATH ...]

--helper records with another tarsel-helper instead of the build's; given
more than once, each of them records in every round beside ffmpeg (a change
compared with the code before it, in one run), told apart by the first
folder their paths differ in.

Encoder settings on both sides: libx264 veryfast CRF 23 without B-frames,
a key frame every second, yuv420p BT.709, Apple Lossless audio at 48 kHz,
24 frames per second.
"""

import argparse
import array
import contextlib
import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RATE = 24


def run_checked(arguments, **kwargs):
    return subprocess.run(arguments, check=True, **kwargs)


class Desktop:
    """scripts/virtual-desktop, stopped on exit."""

    def __init__(self, state, options=()):
        self.state = state
        output = run_checked([os.path.join(ROOT, "scripts/virtual-desktop"), "start", state,
                              *options], capture_output=True, text=True).stdout
        self.environment = dict(line.split("=", 1) for line in output.split() if "=" in line)
        os.environ.update(self.environment)

    def stop(self):
        subprocess.run([os.path.join(ROOT, "scripts/virtual-desktop"), "stop", self.state])


@contextlib.contextmanager
def demo_window(program, size, extra=()):
    """The benchmark's window at the top left of the desktop; yields its id."""
    process = subprocess.Popen(
        [program, "--title", "Benchmark", "--position", "0,0", "--size", size, *extra],
        stdout=subprocess.PIPE, text=True)
    try:
        yield process.stdout.readline().strip()
    finally:
        process.terminate()
        process.wait()


SETTLING = 2.0  # seconds after the start that the steady state leaves out


def process_cpu(pid):
    """CPU seconds the process has used so far, its ended threads included."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def record_for(process, seconds):
    """Lets the recording run; returns its CPU seconds per second after the
    first SETTLING seconds, when start-up is over."""
    time.sleep(SETTLING)
    settled, cpu = time.monotonic(), process_cpu(process.pid)
    time.sleep(max(0.0, seconds - SETTLING))
    return (process_cpu(process.pid) - cpu) / (time.monotonic() - settled)


def wait_rusage(process):
    """Waits for the child and returns (status, cpu seconds, peak RSS in MiB)."""
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return (process.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0)


def probe(path):
    """Frames written, duration, track codecs and the largest gap between frames."""
    result = subprocess.run(
        ["ffprobe", "-v", "error", "-show_entries",
         "stream=codec_type,codec_name:format=duration:packet=pts_time,codec_type",
         "-of", "json", path],
        capture_output=True, text=True)
    if result.returncode != 0:
        return {"video_frames": 0, "duration": 0.0, "tracks": "unreadable", "gap": None}
    data = json.loads(result.stdout)
    times = sorted(float(packet["pts_time"]) for packet in data.get("packets", [])
                   if packet.get("codec_type") == "video" and "pts_time" in packet)
    gaps = [later - earlier for earlier, later in zip(times, times[1:])]
    return {
        "video_frames": len(times),
        "duration": float(data["format"].get("duration", 0)),
        "tracks": ",".join(s["codec_name"] for s in data["streams"]),
        "gap": max(gaps) if gaps else None,
    }


def onsets(times_and_levels, minimum_pause):
    """Instants a level rises over half way between its extremes after at least
    `minimum_pause` seconds under it: halfway between the last sample under
    and the first sample over, where the rise happened on average."""
    if not times_and_levels:
        return []
    levels = [level for _, level in times_and_levels]
    threshold = (min(levels) + max(levels)) / 2
    if max(levels) - min(levels) < 1e-9:
        return []
    found = []
    last_high = None
    last_low = None  # a recording that opens mid-flash has no onset there
    for time_point, level in times_and_levels:
        if level <= threshold:
            last_low = time_point
        elif last_low is not None:
            if last_high is None or time_point - last_high >= minimum_pause:
                found.append((last_low + time_point) / 2)
            last_high = time_point
    return found


def flash_onsets(path):
    """Presentation times of the frames where the window turns white."""
    result = subprocess.run(
        ["ffprobe", "-v", "error", "-f", "lavfi", "-i", f"movie={path},signalstats",
         "-show_entries", "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"],
        capture_output=True, text=True)
    samples = []
    for line in result.stdout.splitlines():
        fields = line.split(",")
        if len(fields) == 2:
            samples.append((float(fields[0]), float(fields[1])))
    return onsets(samples, 0.5)


def beep_onsets(path, track):
    """Times of the first loud sample of each beep in one audio track."""
    start = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", f"a:{track}", "-show_entries",
         "stream=start_time", "-of", "csv=p=0", path], capture_output=True, text=True).stdout
    if not start.strip() or start.strip() == "N/A":
        return []
    raw = subprocess.run(
        ["ffmpeg", "-v", "error", "-i", path, "-map", f"0:a:{track}", "-ac", "1", "-ar", "48000",
         "-f", "s16le", "-"], capture_output=True).stdout
    pcm = array.array("h")
    pcm.frombytes(raw[: len(raw) - len(raw) % 2])
    # Loudness per millisecond keeps the onset within 1 ms and the search fast.
    window = 48
    levels = [(float(start) + index / 48000.0, max(abs(v) for v in pcm[index:index + window]))
              for index in range(0, len(pcm) - window, window)]
    return onsets(levels, 0.5)


def beeps_and_flashes(path):
    """The beep onsets of the audio track that carries the beeps, and the
    flash onsets."""
    flashes = flash_onsets(path)
    for track in (0, 1):
        beeps = beep_onsets(path, track)
        if beeps and flashes:
            return beeps, flashes
    return [], flashes


def av_offsets(path):
    """Each beep onset minus the nearest flash onset, in milliseconds."""
    beeps, flashes = beeps_and_flashes(path)
    return [round((beep - min(flashes, key=lambda f: abs(f - beep))) * 1000, 1)
            for beep in beeps if min(abs(f - beep) for f in flashes) < 0.5]


def start_helper(helper, window, path, log=None):
    """The helper recording `window`, system audio and the virtual microphone,
    once it has said that the recording started; its log, with what it says
    of the devices, goes to the file `log` when given."""
    environment = dict(os.environ, TARSEL_LOG_LEVEL="info") if log else None
    process = subprocess.Popen([helper, "start", window, "virtual_mic", path],
                               stdout=subprocess.PIPE, stderr=log, text=True, env=environment)
    for line in process.stdout:
        if line.startswith("Recording started"):
            break
        if line.startswith(("Vistrel Error", "Unknown Error")):
            raise RuntimeError(line.strip())
    return process


def stop_helper(process):
    interrupted = time.monotonic()
    process.send_signal(signal.SIGINT)
    process.stdout.read()
    status, cpu, peak = wait_rusage(process)
    return {"status": status, "cpu": cpu, "peak": peak, "stop": time.monotonic() - interrupted,
            "dropped": None}


def record_with_helper(helper, window, seconds, path):
    process = start_helper(helper, window, path)
    steady = record_for(process, seconds)
    return {**stop_helper(process), "steady": steady}


def record_with_library(program, seconds, path):
    """The whole display through the library (display_recording_bench)."""
    started = time.monotonic()
    process = subprocess.Popen([program, str(seconds), path], stdout=subprocess.PIPE, text=True)
    output = process.stdout.read()
    status, cpu, peak = wait_rusage(process)
    if status != 0:
        raise RuntimeError(f"{program} failed")
    return {"status": status, "cpu": cpu, "peak": peak,
            "stop": time.monotonic() - started - seconds, "dropped": None, "report": output}


def start_ffmpeg(window, size, path, system_audio="speakers.monitor"):
    """One window with two audio tracks, system audio from the source
    `system_audio`, or the whole display without sound when `window` is None
    (as the library's display recording does)."""
    source = ["-window_id", window] if window else []
    audio = [
        "-thread_queue_size", "64", "-f", "pulse", "-i", system_audio,
        "-thread_queue_size", "64", "-f", "pulse", "-i", "virtual_mic",
        "-map", "0:v", "-map", "1:a", "-map", "2:a",
    ] if window else []
    arguments = [
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-stats_period", "0.5",
        "-progress", "pipe:1",
        "-thread_queue_size", "64", "-f", "x11grab", "-framerate", str(RATE), *source,
        "-video_size", size, "-i", os.environ["DISPLAY"],
        *audio,
        "-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-bf", "0", "-g", str(RATE),
        "-pix_fmt", "yuv420p", "-color_primaries", "bt709", "-color_trc", "bt709",
        "-colorspace", "bt709", "-threads", "2",
        *(["-c:a", "alac", "-ar", "48000"] if window else []),
        "-movflags", "+frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "1000000",
        path,
    ]
    process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True)
    # Read as it comes: a full pipe would stop ffmpeg within minutes.
    process.progress = []
    process.progress_reader = threading.Thread(
        target=lambda: process.progress.extend(process.stdout), daemon=True)
    process.progress_reader.start()
    return process


def stop_ffmpeg(process):
    interrupted = time.monotonic()
    # "q" is ffmpeg's own clean stop; a SIGINT makes it exit with status 255.
    process.stdin.write("q")
    process.stdin.close()
    process.progress_reader.join()
    status, cpu, peak = wait_rusage(process)
    dropped = [int(line.split("=")[1]) for line in process.progress
               if line.startswith("drop_frames=")]
    return {"status": status, "cpu": cpu, "peak": peak, "stop": time.monotonic() - interrupted,
            "dropped": dropped[-1] if dropped else None}


def record_with_ffmpeg(window, size, seconds, path):
    process = start_ffmpeg(window, size, path)
    steady = record_for(process, seconds)
    return {**stop_ffmpeg(process), "steady": steady}


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2



def helper_labels(helpers):
    """Names for the helpers: the first folder of their paths that differs
    ("main", "before" for main/build/... and before/build/...), else their
    order."""
    if len(helpers) == 1:
        return ["tarsel-helper"]
    parts = [os.path.abspath(helper).split(os.sep) for helper in helpers]
    for depth in range(min(len(path) for path in parts)):
        names = [path[depth] for path in parts]
        if len(set(names)) == len(names):
            return names
    return [f"helper-{index + 1}" for index in range(len(helpers))]


def build_helpers(build, targets, helpers):
    """Builds the targets in `build` (configured for Release when it is not
    yet); the helpers to record with, by name: those given, else the build's."""
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        run_checked(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=Release"], stdout=subprocess.DEVNULL)
    run_checked(["cmake", "--build", build, "--target", "tarsel-helper", *targets],
                stdout=subprocess.DEVNULL)
    helpers = helpers or [os.path.join(build, "Sources/Helper/tarsel-helper")]
    return dict(zip(helper_labels(helpers), helpers))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--size", default="1280x720")
    parser.add_argument("--display-size", default="1920x1080")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--helper", action="append", default=[],
                        help="a tarsel-helper other than the build's; may be repeated")
    options = parser.parse_args()

    helpers = build_helpers(options.build, ["demo-window", "display_recording_bench"],
                            options.helper)
    library_program = os.path.join(options.build, "bench/x11/display_recording_bench")
    window_program = os.path.join(options.build, "Tests/tools/demo_window/demo-window")

    work = tempfile.mkdtemp(prefix="tarsel-compare-")
    rows = []

    def record(content, recorders, window, size):
        for round_number in range(options.rounds):
            for recorder in recorders:
                path = os.path.join(work, f"{content}-{recorder}-{round_number}.mp4")
                if recorder in helpers:
                    result = record_with_helper(helpers[recorder], window, options.seconds, path)
                elif recorder == "Vistrel":
                    result = record_with_library(library_program, options.seconds, path)
                else:
                    result = record_with_ffmpeg(window, size, options.seconds, path)
                result.update(probe(path))
                result["offsets"] = av_offsets(path) if content == "moving" else []
                result.update({"content": content, "recorder": recorder, "round": round_number})
                rows.append(result)

    def with_window(size, extra, action):
        with demo_window(window_program, size, extra) as window:
            action(window)

    desktop = Desktop(os.path.join(work, "desktop"))
    try:
        # A flash period that is no multiple of the frame period moves the
        # flashes across the sampling grid, so the frame quantisation of the
        # flash onsets averages out in the median.
        with_window(options.size, ["--flash-every", "1.013", "--beep"],
                    lambda window: record("moving", (*helpers, "ffmpeg"), window, options.size))
        with_window(options.size, ["--still"],
                    lambda window: record("still", (*helpers, "ffmpeg"), window, options.size))
    finally:
        desktop.stop()
    # The library records displays, the helper windows: the whole screen
    # with moving content, without sound on either side.
    desktop = Desktop(os.path.join(work, "display-desktop"), ["--screen", options.display_size])
    try:
        with_window(options.display_size, [],
                    lambda window: record("display", ("Vistrel", "ffmpeg"), None,
                                          options.display_size))
    finally:
        desktop.stop()

    print(f"\n{options.seconds:g} s of a {options.size} window at {RATE} fps, "
          f"x264 veryfast CRF 23, no B-frames, 1 s GOP, two ALAC tracks; "
          f"{options.rounds} rounds, recorders alternating; display: the whole "
          f"{options.display_size} screen with moving content, no sound\n")
    header = (f"{'content':8} {'recorder':14} {'CPU s/s median (range)':>24} "
              f"{'after ' + str(SETTLING) + ' s':>11} {'x ffmpeg':>9} "
              f"{'peak MiB':>9} {'frames/expected':>16} {'max gap ms':>11} "
              f"{'A/V ms median (range), n':>28}")
    print(header)
    print("-" * len(header))
    for content in ("moving", "still", "display"):
        for recorder in (*helpers, "Vistrel", "ffmpeg"):
            group = [row for row in rows
                     if row["content"] == content and row["recorder"] == recorder]
            if not group:
                continue
            cpu = [row["cpu"] / (row["duration"] or options.seconds) for row in group]
            ratios = []
            for row in group:
                partner = [other for other in rows if other["content"] == content
                           and other["round"] == row["round"] and other["recorder"] == "ffmpeg"]
                if partner and partner[0]["cpu"] > 0:
                    ratios.append((row["cpu"] / (row["duration"] or options.seconds))
                                  / (partner[0]["cpu"]
                                     / (partner[0]["duration"] or options.seconds)))
            frames = sum(row["video_frames"] for row in group)
            expected = sum(round((row["duration"] or options.seconds) * RATE) for row in group)
            gaps = [row["gap"] for row in group if row["gap"] is not None]
            offsets = [offset for row in group for offset in row["offsets"]]
            av = (f"{median(offsets):+.0f} ({min(offsets):+.0f}..{max(offsets):+.0f}), "
                  f"{len(offsets)}" if offsets else "-")
            steady = [row["steady"] for row in group if row.get("steady") is not None]
            failed = [row["status"] for row in group if row["status"] != 0]
            print(f"{content:8} {recorder:14} "
                  f"{median(cpu):8.3f} ({min(cpu):.3f}-{max(cpu):.3f}) "
                  f"{(f'{median(steady):.3f}' if steady else '-'):>11} "
                  f"{median(ratios):9.2f} {max(row['peak'] for row in group):9.1f} "
                  f"{frames:7d}/{expected:<8d} "
                  f"{max(gaps) * 1000 if gaps else float('nan'):11.0f} {av:>28}"
                  + (f"  exit statuses {failed}" if failed else ""))
    print(f"\nfiles kept in {work}")


if __name__ == "__main__":
    sys.exit(main())

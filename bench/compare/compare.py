#!/usr/bin/env python3
"""Side-by-side recording benchmark: the same window, duration and encoder
settings recorded by tarsel-helper and by the ffmpeg command line (x11grab
with two pulse inputs), for moving content and for a still window, in one
run on one private virtual desktop.

For each recorder it prints CPU seconds per recorded second, peak memory,
video frames written against the frames the rate asks for, dropped frames
(frames ffmpeg reports dropping; for tarsel-helper, frames of a moving
window that never reached the file), and the time from the stop request (SIGINT
for tarsel-helper, ffmpeg's own "q") to a finished file.

    bench/compare/compare.py [--seconds 20] [--size 1280x720] [--build build]

Encoder settings on both sides: libx264 veryfast CRF 23 without B-frames,
a key frame every second, yuv420p BT.709, Apple Lossless audio at 48 kHz,
24 frames per second.
"""

import argparse
import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RATE = 24


def run_checked(arguments, **kwargs):
    return subprocess.run(arguments, check=True, **kwargs)


class Desktop:
    """scripts/virtual-desktop, stopped on exit."""

    def __init__(self, state):
        self.state = state
        output = run_checked([os.path.join(ROOT, "scripts/virtual-desktop"), "start", state],
                             capture_output=True, text=True).stdout
        self.environment = dict(line.split("=", 1) for line in output.split() if "=" in line)
        os.environ.update(self.environment)

    def stop(self):
        subprocess.run([os.path.join(ROOT, "scripts/virtual-desktop"), "stop", self.state])


def wait_rusage(process):
    """Waits for the child and returns (status, cpu seconds, peak RSS in MiB)."""
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return (process.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0)


def probe(path):
    result = subprocess.run(
        ["ffprobe", "-v", "error", "-count_packets", "-show_entries",
         "stream=codec_type,codec_name,nb_read_packets:format=duration", "-of", "json", path],
        capture_output=True, text=True)
    if result.returncode != 0:
        return {"video_frames": 0, "duration": 0.0, "tracks": "unreadable"}
    data = json.loads(result.stdout)
    video = [s for s in data["streams"] if s["codec_type"] == "video"]
    return {
        "video_frames": int(video[0]["nb_read_packets"]) if video else 0,
        "duration": float(data["format"].get("duration", 0)),
        "tracks": ",".join(s["codec_name"] for s in data["streams"]),
    }


def record_with_helper(helper, window, seconds, path):
    process = subprocess.Popen([helper, "start", window, "virtual_mic", path],
                               stdout=subprocess.PIPE, text=True)
    for line in process.stdout:
        if line.startswith("Recording started"):
            break
        if line.startswith(("Vistrel Error", "Unknown Error")):
            raise RuntimeError(line.strip())
    time.sleep(seconds)
    interrupted = time.monotonic()
    process.send_signal(signal.SIGINT)
    process.stdout.read()
    status, cpu, peak = wait_rusage(process)
    return {"status": status, "cpu": cpu, "peak": peak, "stop": time.monotonic() - interrupted,
            "dropped": None}


def record_with_ffmpeg(window, size, seconds, path):
    arguments = [
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-stats_period", "0.5",
        "-progress", "pipe:1",
        "-thread_queue_size", "64", "-f", "x11grab", "-framerate", str(RATE), "-window_id", window,
        "-video_size", size, "-i", os.environ["DISPLAY"],
        "-thread_queue_size", "64", "-f", "pulse", "-i", "speakers.monitor",
        "-thread_queue_size", "64", "-f", "pulse", "-i", "virtual_mic",
        "-map", "0:v", "-map", "1:a", "-map", "2:a",
        "-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-bf", "0", "-g", str(RATE),
        "-pix_fmt", "yuv420p", "-color_primaries", "bt709", "-color_trc", "bt709",
        "-colorspace", "bt709", "-threads", "2",
        "-c:a", "alac", "-ar", "48000",
        "-movflags", "+frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "1000000",
        path,
    ]
    process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    time.sleep(seconds)
    interrupted = time.monotonic()
    # "q" is ffmpeg's own clean stop; a SIGINT makes it exit with status 255.
    process.stdin.write("q")
    process.stdin.close()
    progress = process.stdout.read()
    status, cpu, peak = wait_rusage(process)
    dropped = [int(line.split("=")[1]) for line in progress.splitlines()
               if line.startswith("drop_frames=")]
    return {"status": status, "cpu": cpu, "peak": peak, "stop": time.monotonic() - interrupted,
            "dropped": dropped[-1] if dropped else None}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--size", default="1280x720")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    options = parser.parse_args()

    run_checked(["cmake", "--build", options.build, "--target", "tarsel-helper", "demo-window"],
                stdout=subprocess.DEVNULL)
    helper = os.path.join(options.build, "Sources/Helper/tarsel-helper")
    window_program = os.path.join(options.build, "Tests/tools/demo_window/demo-window")

    work = tempfile.mkdtemp(prefix="tarsel-compare-")
    desktop = Desktop(os.path.join(work, "desktop"))
    rows = []
    try:
        for content in ("moving", "still"):
            extra = ["--still"] if content == "still" else []
            window_process = subprocess.Popen(
                [window_program, "--title", "Benchmark", "--size", options.size] + extra,
                stdout=subprocess.PIPE, text=True)
            window = window_process.stdout.readline().strip()
            try:
                for recorder in ("tarsel-helper", "ffmpeg"):
                    path = os.path.join(work, f"{content}-{recorder}.mp4")
                    if recorder == "tarsel-helper":
                        result = record_with_helper(helper, window, options.seconds, path)
                    else:
                        result = record_with_ffmpeg(window, options.size, options.seconds, path)
                    result.update(probe(path))
                    result.update({"content": content, "recorder": recorder})
                    rows.append(result)
            finally:
                window_process.terminate()
                window_process.wait()
    finally:
        desktop.stop()

    print(f"\n{options.seconds:g} s of a {options.size} window at {RATE} fps, "
          "x264 veryfast CRF 23, two ALAC tracks\n")
    header = (f"{'content':8} {'recorder':14} {'CPU s/s':>8} {'peak MiB':>9} "
              f"{'frames':>13} {'dropped':>8} {'SIGINT->file':>13} {'status':>6}  tracks")
    print(header)
    print("-" * len(header))
    for row in rows:
        recorded = row["duration"] or options.seconds
        expected = round(recorded * RATE)
        dropped = row["dropped"]
        if dropped is None:
            dropped = max(0, expected - row["video_frames"]) if row["content"] == "moving" else 0
        print(f"{row['content']:8} {row['recorder']:14} {row['cpu'] / recorded:8.3f} "
              f"{row['peak']:9.1f} {row['video_frames']:6d}/{expected:<6d} {dropped:8d} "
              f"{row['stop']:12.2f}s {row['status']:6d}  {row['tracks']}")
    for content in ("moving", "still"):
        pair = {row["recorder"]: row for row in rows if row["content"] == content}
        if len(pair) == 2 and pair["ffmpeg"]["cpu"] > 0:
            per_second = {name: row["cpu"] / (row["duration"] or options.seconds)
                          for name, row in pair.items()}
            ratio = per_second["tarsel-helper"] / per_second["ffmpeg"]
            print(f"{content}: tarsel-helper uses {ratio:.2f}x the CPU time per recorded second "
                  "of ffmpeg")
    print(f"\nfiles kept in {work}")


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Records generated 1920x1080 content at 24 fps with two audio tracks through
the writer (in real time) and through the ffmpeg command line (from the same
raw input, same codec settings), and prints both side by side.

usage: compare.py BUILD_DIR [SECONDS]
"""
import os
import subprocess
import sys
import tempfile

WIDTH, HEIGHT, RATE = 1920, 1080, 24
# The writer's settings for a 1080p H.264 recording: the assistant's budget of
# 3 bits per pixel per second as a ceiling over two seconds, CRF 23, veryfast,
# no B-frames, a key frame at least every second, Apple Lossless audio.
BIT_RATE = 3 * WIDTH * HEIGHT


def run_measured(command, **kwargs):
    process = subprocess.Popen(command, **kwargs)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process, usage


def video_packets(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
         "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path],
        check=True, capture_output=True, text=True).stdout.strip()
    return int(out)


def figures(text):
    values = {}
    for line in text.splitlines():
        parts = line.split()
        if len(parts) >= 2:
            values[parts[0]] = parts[1]
    return values


def main():
    build = sys.argv[1]
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    bench = os.path.join(build, "writer_bench")
    if not os.path.exists(bench):
        bench = os.path.join(build, "bench", "writer", "writer_bench")
    with tempfile.TemporaryDirectory() as work:
        print("== BGRA -> I420 at 1920x1080, CPU time per frame")
        print(subprocess.run([bench, "convert"], check=True, capture_output=True,
                             text=True).stdout, end="")

        ours_path = os.path.join(work, "writer.mp4")
        process, usage = run_measured([bench, "record", ours_path, str(seconds)],
                                      stdout=subprocess.PIPE, text=True)
        ours = figures(process.stdout.read())
        if process.returncode != 0:
            sys.exit("writer run failed: %s" % ours)

        theirs_path = os.path.join(work, "ffmpeg.mp4")
        generator = subprocess.Popen([bench, "raw", work, str(seconds)], stdout=subprocess.PIPE)
        ffmpeg = [
            "ffmpeg", "-v", "error", "-nostdin",
            "-f", "rawvideo", "-pix_fmt", "bgra", "-s", "%dx%d" % (WIDTH, HEIGHT),
            "-r", str(RATE), "-i", "-",
            "-f", "f32le", "-ar", "48000", "-ac", "2",
            "-i", os.path.join(work, "system.f32"),
            "-f", "s16le", "-ar", "44100", "-ac", "1",
            "-i", os.path.join(work, "microphone.s16"),
            "-map", "1:a", "-map", "2:a", "-map", "0:v",
            "-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-bf", "0", "-g", "60",
            "-maxrate", str(BIT_RATE), "-bufsize", str(2 * BIT_RATE), "-threads", "2",
            "-force_key_frames", "expr:gte(t,n_forced*1)", "-pix_fmt", "yuv420p",
            "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709",
            "-c:a", "alac", "-sample_fmt", "s16p", "-ar", "48000",
            "-ac:0", "2", "-ac:1", "1",
            "-movflags", "empty_moov+frag_keyframe+default_base_moof",
            "-frag_duration", "1000000", theirs_path,
        ]
        # The generator writes the audio files before the first frame.
        process, their_usage = run_measured(ffmpeg, stdin=generator.stdout)
        generator.stdout.close()
        generator.wait()
        if process.returncode != 0:
            sys.exit("ffmpeg run failed")

        their_cpu = their_usage.ru_utime + their_usage.ru_stime
        our_cpu = float(ours["writer_cpu_seconds"])
        rows = [
            ("CPU seconds per recorded second", "%.3f" % (our_cpu / seconds),
             "%.3f" % (their_cpu / seconds)),
            ("peak memory (MiB)", "%.0f" % (usage.ru_maxrss / 1024),
             "%.0f" % (their_usage.ru_maxrss / 1024)),
            ("frames written", str(video_packets(ours_path)), str(video_packets(theirs_path))),
            ("frames dropped", ours["frames_dropped"], "0 (offline)"),
            ("file size (MiB)", "%.1f" % (os.path.getsize(ours_path) / 2**20),
             "%.1f" % (os.path.getsize(theirs_path) / 2**20)),
        ]
        print("== %d s of %dx%d at %d fps, two Apple Lossless tracks" % (seconds, WIDTH, HEIGHT,
                                                                        RATE))
        print("%-34s %14s %14s" % ("", "writer", "ffmpeg CLI"))
        for name, left, right in rows:
            print("%-34s %14s %14s" % (name, left, right))
        print("writer/ffmpeg CPU ratio: %.2f" % (our_cpu / their_cpu))
        print("(writer peak memory includes the content generator; its CPU time excludes it: "
              "%s s)" % ours["generator_cpu_seconds"])


if __name__ == "__main__":
    main()

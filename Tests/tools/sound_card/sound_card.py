#!/usr/bin/env python3
"""A sound card with a clock of its own, on the audio server PULSE_SERVER
names (PulseAudio, or PipeWire's PulseAudio server).

    sound_card.py --name NAME --ppm N [--default] [--pipewire-card PROGRAM]
                  [--microphone --beep-every SECONDS --beep-from SECONDS]

Loads a pipe sink NAME (and with --microphone a pipe source NAME_mic) and
drains the sink's pipe, or fills the source's, at the nominal rate N parts
per million off CLOCK_MONOTONIC, as a card's DMA does by its own crystal:
the server renders and captures as fast as the card takes and gives, so
every stream on it follows the card's clock. PipeWire times its pipe sink
by the graph's timer instead, whoever drains the pipe: there the card is
PROGRAM (Tests/tools/sound_card/PipeWireCard.cpp), a sink and a source that
drive the graph by the card's clock. The microphone hears a
100 ms beep of 1 kHz every --beep-every seconds from the CLOCK_MONOTONIC
instant --beep-from, the flash schedule of a demo window started with the
same times. --default makes the card the default sink (and source).

Prints "ready" once the devices exist; runs until SIGTERM or SIGINT, then
unloads them.
"""

import argparse
import fcntl
import math
import os
import select
import signal
import struct
import subprocess
import sys
import tempfile
import time

RATE = 48000
CHANNELS = 2
FRAME_BYTES = 4 * CHANNELS  # float32
TICK = 0.005  # how often the card moves its samples
# What the card keeps queued, as a card's ring buffer: the sink's latency.
PIPE_BYTES = 16384
F_SETPIPE_SZ = 1031
# Longer than this process may be kept from its ticks, so that such a stall
# is caught up and never reads as lost sound.
MICROPHONE_RING_FRAMES = RATE // 2
BEEP_SECONDS = 0.100
BEEP_HERTZ = 1000.0


def pactl(*arguments):
    return subprocess.run(["pactl", *arguments], check=True, capture_output=True,
                          text=True, timeout=10).stdout.strip()


def load(module, **arguments):
    return pactl("load-module", module, *(f"{key}={value}" for key, value in arguments.items()))


class Card:
    """Counts the frames the card has moved by a clock `ppm` off the host's.
    Frames the machine kept it from moving on time are moved as soon as it
    can: a stalled test process must not read as a card that lost sound."""

    def __init__(self, ppm):
        self.rate = RATE * (1 + ppm * 1e-6)
        self.start = time.monotonic()
        self.moved = 0

    def owed(self):
        """Frames due by now and not yet moved."""
        return max(0, int((time.monotonic() - self.start) * self.rate) - self.moved)

    def next_frame_time(self):
        """The host time at which the next frame is due."""
        return self.start + self.moved / self.rate


def beep_frames(first, frames, rate, period, origin):
    """The microphone's frames from host time `first`, `rate` a second."""
    samples = []
    for index in range(frames):
        at = first + index / rate - origin
        on = at >= 0 and math.fmod(at, period) < BEEP_SECONDS
        value = 0.4 * math.sin(2 * math.pi * BEEP_HERTZ * at) if on else 0.0
        samples.extend((value,) * CHANNELS)
    return struct.pack(f"<{len(samples)}f", *samples)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--name", required=True)
    parser.add_argument("--ppm", type=float, required=True)
    parser.add_argument("--default", action="store_true")
    parser.add_argument("--microphone", action="store_true")
    parser.add_argument("--beep-every", type=float)
    parser.add_argument("--beep-from", type=float)
    parser.add_argument("--pipewire-card")
    options = parser.parse_args()
    if options.microphone and (options.beep_every is None or options.beep_from is None):
        parser.error("--microphone needs --beep-every and --beep-from")

    stopping = []
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stopping.append(True))
    if "on PipeWire" in pactl("info"):
        if not options.pipewire_card:
            parser.error("the audio server is PipeWire's: --pipewire-card names the card")
        run_on_pipewire(options, stopping)
    else:
        run_on_pulseaudio(options, stopping)


def make_default(options):
    pactl("set-default-sink", options.name)
    if options.microphone:
        pactl("set-default-source", f"{options.name}_mic")


def run_on_pipewire(options, stopping):
    command = [options.pipewire_card, "--name", options.name, "--ppm", str(options.ppm)]
    if options.microphone:
        command += ["--beep-every", str(options.beep_every),
                    "--beep-from", str(options.beep_from)]
    card = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    try:
        if card.stdout.readline().strip() != "ready":
            sys.exit("sound_card: the PipeWire card did not start")
        # The Pulse server lists a node a moment after it is in the graph.
        wanted = [options.name] + ([f"{options.name}_mic"] if options.microphone else [])
        deadline = time.monotonic() + 10
        while not all(name in pactl("list", "short", "sinks") + pactl("list", "short", "sources")
                      for name in wanted):
            if time.monotonic() > deadline:
                sys.exit("sound_card: the audio server does not list the card")
            time.sleep(0.05)
        if options.default:
            make_default(options)
        print("ready", flush=True)
        while not stopping and card.poll() is None:
            time.sleep(TICK * 10)
    finally:
        if card.poll() is None:
            card.terminate()
        card.wait(timeout=10)


def run_on_pulseaudio(options, stopping):
    folder = tempfile.mkdtemp(prefix="sound-card-")
    # The server may run as another user: it makes the pipes here.
    os.chmod(folder, 0o777)
    sink_pipe = os.path.join(folder, "sink")
    source_pipe = os.path.join(folder, "source")
    spec = {"format": "float32le", "rate": RATE, "channels": CHANNELS}
    modules = []
    try:
        modules.append(load("module-pipe-sink", sink_name=options.name, file=sink_pipe,
                            use_system_clock_for_timing="no",
                            sink_properties=f"device.description={options.name}", **spec))
        if options.microphone:
            modules.append(load("module-pipe-source", source_name=f"{options.name}_mic",
                                file=source_pipe,
                                source_properties=f"device.description={options.name}_mic",
                                **spec))
        if options.default:
            make_default(options)
        run(options, sink_pipe, source_pipe if options.microphone else None, stopping)
    finally:
        for module in reversed(modules):
            subprocess.run(["pactl", "unload-module", module], capture_output=True, timeout=10)
        for path in (sink_pipe, source_pipe):
            if os.path.exists(path):
                os.unlink(path)
        os.rmdir(folder)


def shrink_pipe(descriptor):
    """A pipe holds 64 KiB, more than a card queues; it shrinks only once
    what it holds fits."""
    while True:
        try:
            fcntl.fcntl(descriptor, F_SETPIPE_SZ, PIPE_BYTES)
            return
        except OSError:
            try:
                os.read(descriptor, 1 << 16)
            except BlockingIOError:
                time.sleep(TICK)


def run(options, sink_pipe, source_pipe, stopping):
    sink = os.open(sink_pipe, os.O_RDONLY | os.O_NONBLOCK)
    shrink_pipe(sink)
    source = None
    if source_pipe:
        source = os.open(source_pipe, os.O_WRONLY | os.O_NONBLOCK)
        fcntl.fcntl(source, F_SETPIPE_SZ, PIPE_BYTES)
    print("ready", flush=True)
    speaker = Card(options.ppm)
    microphone = Card(options.ppm)
    pending = b""  # microphone frames made, not yet taken by the server
    made = 0
    while not stopping:
        wanted = speaker.owed() * FRAME_BYTES
        while wanted > 0:
            try:
                chunk = os.read(sink, wanted)
            except BlockingIOError:
                break  # the server renders the rest by the next tick
            if not chunk:
                break
            wanted -= len(chunk)
            speaker.moved += len(chunk) // FRAME_BYTES
        if source is not None:
            frames = microphone.owed()
            if frames and not pending:
                # Unread for longer than its ring (the server reads a pipe
                # source only while it is recorded), a card overwrites what
                # it heard: the server gets the newest, not seconds-old sound.
                lost = max(0, frames - MICROPHONE_RING_FRAMES)
                made += lost
                microphone.moved += lost
                pending = beep_frames(microphone.next_frame_time(), frames - lost,
                                      microphone.rate, options.beep_every, options.beep_from)
                made += frames - lost
            try:
                written = os.write(source, pending) if pending else 0
            except BlockingIOError:
                written = 0
            pending = pending[written:]
            microphone.moved = made - -(-len(pending) // FRAME_BYTES)
        select.select([], [], [], TICK)
    os.close(sink)
    if source is not None:
        os.close(source)


if __name__ == "__main__":
    sys.exit(main())

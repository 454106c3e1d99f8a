"""Screen casts and window listings from KWin, through kwin-screencast, which
speaks KWin's own Wayland protocols as KDE's portal backend does."""

import subprocess

from gi.repository import Gio, GLib


class KWinCast:
    """One cast: a kwin-screencast process, which holds it while it runs."""

    def __init__(self, tool, log):
        self.tool = tool
        self.log = log
        self.process = None
        self.cancellable = Gio.Cancellable()

    def start(self, window_id, cursor_mode, on_started, on_failed, on_closed):
        arguments = [self.tool] + (["window", window_id] if window_id is not None else ["monitor"])
        try:
            self.process = Gio.Subprocess.new(arguments + [str(cursor_mode)],
                                              Gio.SubprocessFlags.STDOUT_PIPE)
        except GLib.Error as error:
            on_failed(error.message)
            return
        lines = Gio.DataInputStream.new(self.process.get_stdout_pipe())
        stream_properties = {}
        started = False

        def on_line(stream, result):
            nonlocal started
            try:
                line, _length = stream.read_line_finish_utf8(result)
            except GLib.Error:
                return  # cancelled: stopped by the portal
            words = (line or "").split()
            if words[:1] == ["size"] and len(words) == 3:
                stream_properties["size"] = GLib.Variant("(ii)", (int(words[1]), int(words[2])))
            elif words[:1] == ["node"] and len(words) == 2:
                started = True
                on_started(int(words[1]), stream_properties)
            elif line is None or words == ["closed"]:
                self.process = None
                if started:
                    on_closed()
                else:
                    on_failed("kwin-screencast ended without a cast (its log says why)")
                return
            stream.read_line_async(GLib.PRIORITY_DEFAULT, self.cancellable, on_line)

        lines.read_line_async(GLib.PRIORITY_DEFAULT, self.cancellable, on_line)

    def stop(self):
        self.cancellable.cancel()
        if self.process is not None:
            self.process.send_signal(15)
            self.process = None


class KWin:
    """KWin lists its windows by their UUIDs, and casts them or its output."""

    trusted_name = None
    window_id_type = "s"

    def __init__(self, tool, log):
        self.tool = tool
        self.log = log

    def windows(self):
        """{window UUID: {"title": ..., "has-focus": ...}}; raises LookupError."""
        listing = subprocess.run([self.tool, "windows"], capture_output=True, text=True, timeout=5,
                                 check=False)
        if listing.returncode != 0:
            raise LookupError("listing KWin's windows: " + listing.stderr.strip())
        windows = {}
        for line in listing.stdout.splitlines():
            uuid, active, title = line.split("\t", 2)
            windows[uuid] = {"title": title, "has-focus": active == "1"}
        return windows

    def cast(self):
        return KWinCast(self.tool, self.log)

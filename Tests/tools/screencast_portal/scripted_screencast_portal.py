#!/usr/bin/python3
"""A ScreenCast portal backend for the Wayland test desktop.

The real xdg-desktop-portal routes a client's ScreenCast requests here; where
a desktop would show its picker dialog, this backend reads the answer from a
file the test writes, and casts through the compositor's own means (mutter's
ScreenCast API on GNOME, KWin's screencast protocol on KDE), so the client's
portal and PipeWire code runs unchanged.

The pick file's first line is what the user does in the dialog:
  monitor         cast the primary monitor (also the default when there is
                  no file, or its first line is empty)
  window [TITLE]  cast the window with that title, or the focused window, or
                  the newest one (on KDE the last KWin lists); GNOME Shell
                  lists them only to GNOME's own portal backend, whose bus
                  name this backend also holds there
  cancel          the user closed the dialog
  hold            the dialog stays open: Start answers only when the client
                  closes its request (then as cancelled) or its session
The file is read at every call, so a test changes the desktop's behaviour
by rewriting it, without restarting anything.

Each further line is an option, which tells what kind of desktop this is:
  types monitor | types window | types monitor window
                  the kinds of source the desktop offers (default both):
                  GNOME and KDE offer both, xdg-desktop-portal-wlr monitors
                  only. The portal does not check a request against them,
                  so this backend refuses a SelectSources that asks for none
                  of them (response 2, "failed"). The dialog lists only what
                  is offered and asked for, and a user can pick only what it
                  lists: an answer of a kind not listed picks the other
                  kind, "window" the primary monitor, "monitor" the focused
                  or newest window. xdg-desktop-portal 1.16 reads the
                  property once, when it starts: its own
                  AvailableSourceTypes follows a change only after
                  "scripts/wayland-desktop restart-portal", while this
                  backend's answers follow the file at once.
  restore off     the desktop never remembers a choice: restore data is
                  ignored and none is returned, so the portal issues no
                  restore token (xdg-desktop-portal-wlr unless told otherwise)
By default a choice is remembered: Start returns restore data for what it
cast, which the portal keeps under the restore token it hands the client;
given that token back, the portal passes the data to SelectSources, and the
next Start casts the same monitor, or the same window (by mutter's window id
or KWin's window UUID, as long as it exists), without a dialog. When the window is gone, the dialog
is shown as on a real desktop.

What the user would have seen is appended, one line per event, to the file
named like the pick file with ".events" added:
  dialog <first line>   the dialog was shown and answered so
  restored monitor | restored window
                        restore data made the dialog unnecessary
  refused <types>       SelectSources asked only for kinds not offered
  request closed        the client closed a request while it was pending
  session closed        a session ended, closed by the client or because
                        its cast stopped (then the portal tells the client)

Usage: scripted_screencast_portal.py <pick file> [--kwin <kwin-screencast>]
  (mutter's casts unless --kwin names the tool that asks KWin for them)
"""

import sys

from gi.repository import Gio, GLib

from kwin_casts import KWin
from mutter_casts import Mutter

BUS_NAME = "org.freedesktop.impl.portal.desktop.scripted"
OBJECT_PATH = "/org/freedesktop/portal/desktop"
SCREENCAST_INTERFACE = "org.freedesktop.impl.portal.ScreenCast"

INTERFACES = """
<node>
  <interface name="org.freedesktop.impl.portal.ScreenCast">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="SelectSources">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Request">
    <method name="Close"/>
  </interface>
</node>
"""

RESPONSE_SUCCESS = 0
RESPONSE_CANCELLED = 1
RESPONSE_FAILED = 2

SOURCE_MONITOR = 1
SOURCE_WINDOW = 2
SOURCE_NAMES = {SOURCE_MONITOR: "monitor", SOURCE_WINDOW: "window"}
CURSOR_HIDDEN = 1
CURSOR_EMBEDDED = 2
CURSOR_METADATA = 4

# Restore data is "(suv)": whose it is, its layout's version, and the data.
RESTORE_VENDOR = "scripted"
RESTORE_VERSION = 1

NODE = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
SCREENCAST = NODE.lookup_interface(SCREENCAST_INTERFACE)
SESSION = NODE.lookup_interface("org.freedesktop.impl.portal.Session")
REQUEST = NODE.lookup_interface("org.freedesktop.impl.portal.Request")


def log(text):
    print("scripted-portal: " + text, file=sys.stderr, flush=True)


def answer(invocation, response, results=None):
    invocation.return_value(GLib.Variant("(ua{sv})", (response, results or {})))


class Script:
    """What the pick file says, read afresh at every call."""

    def __init__(self, path):
        try:
            with open(path, encoding="utf-8") as file:
                lines = [line.strip() for line in file.read().splitlines()]
        except FileNotFoundError:
            lines = []
        self.answer = (lines[0] if lines else "") or "monitor"
        self.types = SOURCE_MONITOR | SOURCE_WINDOW
        self.restore = True
        for line in lines[1:]:
            words = line.split()
            if words and words[0] == "types":
                kinds = {"monitor": SOURCE_MONITOR, "window": SOURCE_WINDOW}
                self.types = 0
                for word in words[1:]:
                    if word not in kinds:
                        log("unknown source type in the pick file: " + word)
                    self.types |= kinds.get(word, 0)
            elif words == ["restore", "off"]:
                self.restore = False
            elif words:
                log("unknown option in the pick file: " + line)


class Session:
    def __init__(self, backend, path):
        self.backend = backend
        self.bus = backend.bus
        self.path = path
        self.types = SOURCE_MONITOR
        self.cursor_mode = CURSOR_HIDDEN
        self.persist_mode = 0
        self.restore_data = None
        self.source_type = SOURCE_MONITOR
        self.window_id = None
        self.cast = None
        self.pending = None  # the Start that has not been answered
        self.registration = self.bus.register_object(path, SESSION, self.on_call, self.on_property, None)

    def on_call(self, _bus, _sender, _path, _interface, method, _parameters, invocation):
        if method == "Close":
            self.close()
            invocation.return_value(None)

    def on_property(self, _bus, _sender, _path, _interface, _name):
        return GLib.Variant("u", 1)

    def answer_pending(self, response, results=None):
        if self.pending is not None:
            request, self.pending = self.pending, None
            request.answer(response, results)

    def stop_cast(self):
        if self.cast is not None:
            cast, self.cast = self.cast, None
            cast.stop()

    def close(self):
        """Closed by the portal, on the client's behalf."""
        self.end(RESPONSE_CANCELLED)

    def on_cast_closed(self):
        """The cast ended without the client: the portal must tell it."""
        self.cast = None
        log("the compositor closed the cast of " + self.path)
        self.end(RESPONSE_FAILED, tell_portal=True)

    def end(self, response, tell_portal=False):
        if not self.registration:
            return
        self.answer_pending(response)
        self.stop_cast()
        if tell_portal:
            self.bus.emit_signal(None, self.path, "org.freedesktop.impl.portal.Session", "Closed", None)
        self.bus.unregister_object(self.registration)
        self.registration = 0
        self.backend.sessions.pop(self.path, None)
        self.backend.event("session closed")


class Request:
    """A call in progress, which the client may abandon by closing it."""

    def __init__(self, backend, path, invocation, session=None):
        self.backend = backend
        self.invocation = invocation
        self.session = session
        self.registration = 0
        try:
            self.registration = backend.bus.register_object(path, REQUEST, self.on_call, None, None)
        except GLib.Error as error:
            log("cannot export the request %s: %s" % (path, error.message))

    def on_call(self, _bus, _sender, _path, _interface, method, _parameters, invocation):
        if method != "Close":
            return
        invocation.return_value(None)
        if self.invocation is None:
            return
        self.backend.event("request closed")
        session = self.session
        if session is not None:
            if session.pending is self:
                session.pending = None
            session.stop_cast()
        # The portal ignores an answer to a closed request, but the call
        # must not stay open for ever.
        self.answer(RESPONSE_CANCELLED)

    def answer(self, response, results=None):
        if self.registration:
            self.backend.bus.unregister_object(self.registration)
            self.registration = 0
        if self.invocation is not None:
            invocation, self.invocation = self.invocation, None
            answer(invocation, response, results)


class Backend:
    def __init__(self, bus, compositor, pick_file):
        self.bus = bus
        self.compositor = compositor
        self.pick_file = pick_file
        self.events = pick_file + ".events"
        open(self.events, "a", encoding="utf-8").close()
        self.sessions = {}
        self.available_types = Script(pick_file).types
        bus.register_object(OBJECT_PATH, SCREENCAST, self.on_call, self.on_property, None)
        # A portal that follows the property learns a change before the
        # client's next request; one that does not still gets answers that
        # follow the file, which is read again at every call.
        self.monitor = Gio.File.new_for_path(pick_file).monitor_file(Gio.FileMonitorFlags.NONE, None)
        self.monitor.connect("changed", lambda *_: self.script())

    def event(self, line):
        log("event: " + line)
        # Opened for each line, so that a test may remove or empty the file.
        with open(self.events, "a", encoding="utf-8") as events:
            events.write(line + "\n")

    def script(self):
        script = Script(self.pick_file)
        if script.types != self.available_types:
            self.available_types = script.types
            self.bus.emit_signal(None, OBJECT_PATH, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                 GLib.Variant("(sa{sv}as)", (SCREENCAST_INTERFACE, {
                                     "AvailableSourceTypes": GLib.Variant("u", script.types)}, [])))
        return script

    def on_property(self, _bus, _sender, _path, _interface, name):
        values = {
            "AvailableSourceTypes": self.script().types,
            "AvailableCursorModes": CURSOR_HIDDEN | CURSOR_EMBEDDED | CURSOR_METADATA,
            "version": 4,
        }
        return GLib.Variant("u", values[name])

    def on_call(self, _bus, _sender, _path, _interface, method, parameters, invocation):
        script = self.script()
        if method == "CreateSession":
            _handle, session_path, _app, _options = parameters.unpack()
            self.sessions[session_path] = Session(self, session_path)
            answer(invocation, RESPONSE_SUCCESS)
        elif method == "SelectSources":
            _handle, session_path, _app, options = parameters.unpack()
            self.select_sources(script, self.sessions.get(session_path), options, invocation)
        elif method == "Start":
            handle, session_path, _app, _parent, _options = parameters.unpack()
            session = self.sessions.get(session_path)
            if session is None:
                answer(invocation, RESPONSE_FAILED)
                return
            request = Request(self, handle, invocation, session)
            session.pending = request
            self.start(script, session)

    def select_sources(self, script, session, options, invocation):
        if session is None:
            answer(invocation, RESPONSE_FAILED)
            return
        session.cursor_mode = options.get("cursor_mode", CURSOR_HIDDEN)
        requested = options.get("types", SOURCE_MONITOR)
        session.types = requested & script.types
        if not session.types:
            self.event(" ".join(["refused"] + [name for kind, name in SOURCE_NAMES.items() if requested & kind]))
            answer(invocation, RESPONSE_FAILED)
            return
        session.persist_mode = options.get("persist_mode", 0)
        session.restore_data = options.get("restore_data")
        answer(invocation, RESPONSE_SUCCESS)

    def start(self, script, session):
        restored = script.restore and self.restored_source(session)
        if restored:
            session.source_type, session.window_id = restored
            self.event("restored " + SOURCE_NAMES[session.source_type])
            self.start_cast(session, script)
            return
        choice = script.answer
        self.event("dialog " + choice)
        if choice == "hold":
            return
        if choice == "cancel":
            session.answer_pending(RESPONSE_CANCELLED)
            return
        # The dialog lists only what was offered and asked for.
        wanted = SOURCE_WINDOW if choice == "window" or choice.startswith("window ") else SOURCE_MONITOR
        session.source_type = wanted if session.types & wanted else session.types & ~wanted
        # A title names a window only when a window is what was picked.
        title = (choice[len("window "):] or None) if wanted == SOURCE_WINDOW else None
        try:
            session.window_id = self.window_id(title) if session.source_type == SOURCE_WINDOW else None
        except (GLib.Error, LookupError) as error:
            log("the cast did not start: " + str(getattr(error, "message", error)))
            session.answer_pending(RESPONSE_FAILED)
            return
        self.start_cast(session, script)

    def restored_source(self, session):
        """What the restore data names, if it still exists and may be cast."""
        data = session.restore_data
        if data is None:
            return None
        vendor, version, content = data
        if vendor != RESTORE_VENDOR or version != RESTORE_VERSION or not isinstance(content, dict):
            log("ignoring restore data %r" % (data,))
            return None
        source_type = content.get("source_type")
        if not isinstance(source_type, int) or not session.types & source_type:
            return None
        if source_type == SOURCE_MONITOR:
            return SOURCE_MONITOR, None
        window_id = content.get("window_id")
        try:
            return (SOURCE_WINDOW, window_id) if window_id in self.windows() else None
        except (GLib.Error, LookupError) as error:
            log("listing windows: " + str(getattr(error, "message", error)))
            return None

    def windows(self):
        return self.compositor.windows()

    def window_id(self, title):
        """The id of the window titled so, else the focused one, else the newest."""
        windows = self.windows()
        if title is not None:
            windows = {id: window for id, window in windows.items() if window.get("title") == title}
        if not windows:
            raise LookupError("no window" + (" titled " + title if title else ""))
        focused = [id for id, window in windows.items() if window.get("has-focus")]
        return focused[0] if focused else max(windows)

    def restore_results(self, session, script):
        if not script.restore or session.persist_mode == 0:
            return {}
        content = {"source_type": GLib.Variant("u", session.source_type)}
        if session.source_type == SOURCE_WINDOW:
            content["window_id"] = GLib.Variant(self.compositor.window_id_type, session.window_id)
            try:
                title = self.windows().get(session.window_id, {}).get("title")
                if title is not None:
                    content["title"] = GLib.Variant("s", title)
            except (GLib.Error, LookupError) as error:
                log("listing windows: " + str(getattr(error, "message", error)))
        return {
            "persist_mode": GLib.Variant("u", session.persist_mode),
            "restore_data": GLib.Variant("(suv)", (RESTORE_VENDOR, RESTORE_VERSION,
                                                   GLib.Variant("a{sv}", content))),
        }

    def start_cast(self, session, script):
        def fail(error):
            log("the cast did not start: " + str(error))
            session.stop_cast()
            session.answer_pending(RESPONSE_FAILED)

        def started(node, stream_properties):
            log("node %d" % node)
            stream_properties["source_type"] = GLib.Variant("u", session.source_type)
            results = {"streams": GLib.Variant("a(ua{sv})", [(node, stream_properties)])}
            results.update(self.restore_results(session, script))
            session.answer_pending(RESPONSE_SUCCESS, results)

        session.cast = self.compositor.cast()
        window_id = session.window_id if session.source_type == SOURCE_WINDOW else None
        session.cast.start(window_id, session.cursor_mode, started, fail, session.on_cast_closed)


def main():
    arguments = sys.argv[1:]
    if len(arguments) not in (1, 3) or (len(arguments) == 3 and arguments[1] != "--kwin"):
        print(__doc__, file=sys.stderr)
        return 2
    loop = GLib.MainLoop()
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    compositor = KWin(arguments[2], log) if len(arguments) == 3 else Mutter(bus, log)
    Backend(bus, compositor, arguments[0])

    def on_lost(_bus, _name):
        log("lost the bus name")
        loop.quit()

    Gio.bus_own_name_on_connection(bus, BUS_NAME, Gio.BusNameOwnerFlags.NONE, None, on_lost)
    if compositor.trusted_name:
        Gio.bus_own_name_on_connection(bus, compositor.trusted_name, Gio.BusNameOwnerFlags.NONE,
                                       None, on_lost)
    loop.run()
    return 1


if __name__ == "__main__":
    sys.exit(main())

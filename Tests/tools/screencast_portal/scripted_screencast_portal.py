#!/usr/bin/python3
"""A ScreenCast portal backend for the Wayland test desktop.

The real xdg-desktop-portal routes a client's ScreenCast requests here; where
a desktop would show its picker dialog, this backend reads the answer from a
file the test writes, and casts through mutter's own ScreenCast API, so the
client's portal and PipeWire code runs unchanged.

The pick file holds one line:
  monitor         cast the primary monitor (also the default when there is
                  no file)
  window [TITLE]  cast the window with that title, or the focused window, or
                  the newest one; the shell lists them only to GNOME's own
                  portal backend, whose bus name this backend also holds
  cancel          the user closed the dialog

Usage: scripted_screencast_portal.py <pick file>
"""

import sys

from gi.repository import Gio, GLib

BUS_NAME = "org.freedesktop.impl.portal.desktop.scripted"
# The name under which GNOME Shell answers window listings; no GNOME portal
# backend runs on the test desktop.
SHELL_TRUSTED_NAME = "org.freedesktop.impl.portal.desktop.gnome"
OBJECT_PATH = "/org/freedesktop/portal/desktop"

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
</node>
"""

RESPONSE_SUCCESS = 0
RESPONSE_CANCELLED = 1
RESPONSE_FAILED = 2

SOURCE_MONITOR = 1
SOURCE_WINDOW = 2
CURSOR_HIDDEN = 1
CURSOR_EMBEDDED = 2
CURSOR_METADATA = 4
# Mutter numbers its cursor modes from zero in the same order.
MUTTER_CURSOR_MODES = {CURSOR_HIDDEN: 0, CURSOR_EMBEDDED: 1, CURSOR_METADATA: 2}

NODE = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
SCREENCAST = NODE.lookup_interface("org.freedesktop.impl.portal.ScreenCast")
SESSION = NODE.lookup_interface("org.freedesktop.impl.portal.Session")


def log(text):
    print("scripted-portal: " + text, file=sys.stderr, flush=True)


class Session:
    def __init__(self, bus, path):
        self.bus = bus
        self.path = path
        self.source_type = SOURCE_MONITOR
        self.cursor_mode = CURSOR_HIDDEN
        self.mutter_session = None
        self.registration = bus.register_object(path, SESSION, self.on_call, self.on_property, None)

    def on_call(self, _bus, _sender, _path, _interface, method, _parameters, invocation):
        if method == "Close":
            self.close()
            invocation.return_value(None)

    def on_property(self, _bus, _sender, _path, _interface, _name):
        return GLib.Variant("u", 1)

    def close(self):
        if self.mutter_session is not None:
            try:
                self.bus.call_sync("org.gnome.Mutter.ScreenCast", self.mutter_session,
                                   "org.gnome.Mutter.ScreenCast.Session", "Stop", None, None,
                                   Gio.DBusCallFlags.NONE, 5000, None)
            except GLib.Error as error:
                log("stopping the cast: " + error.message)
            self.mutter_session = None
        if self.registration:
            self.bus.unregister_object(self.registration)
            self.registration = 0


class Backend:
    def __init__(self, bus, pick_file):
        self.bus = bus
        self.pick_file = pick_file
        self.sessions = {}
        bus.register_object(OBJECT_PATH, SCREENCAST, self.on_call, self.on_property, None)

    def pick(self):
        try:
            with open(self.pick_file, encoding="utf-8") as file:
                return file.read().strip() or "monitor"
        except FileNotFoundError:
            return "monitor"

    def on_property(self, _bus, _sender, _path, _interface, name):
        values = {
            "AvailableSourceTypes": SOURCE_MONITOR | SOURCE_WINDOW,
            "AvailableCursorModes": CURSOR_HIDDEN | CURSOR_EMBEDDED | CURSOR_METADATA,
            "version": 4,
        }
        return GLib.Variant("u", values[name])

    def on_call(self, _bus, _sender, _path, _interface, method, parameters, invocation):
        if method == "CreateSession":
            _handle, session_path, _app, _options = parameters.unpack()
            self.sessions[session_path] = Session(self.bus, session_path)
            invocation.return_value(GLib.Variant("(ua{sv})", (RESPONSE_SUCCESS, {})))
        elif method == "SelectSources":
            _handle, session_path, _app, options = parameters.unpack()
            session = self.sessions.get(session_path)
            if session is None:
                invocation.return_value(GLib.Variant("(ua{sv})", (RESPONSE_FAILED, {})))
                return
            session.cursor_mode = options.get("cursor_mode", CURSOR_HIDDEN)
            invocation.return_value(GLib.Variant("(ua{sv})", (RESPONSE_SUCCESS, {})))
        elif method == "Start":
            _handle, session_path, _app, _parent, _options = parameters.unpack()
            session = self.sessions.get(session_path)
            choice = self.pick()
            log("start: " + choice)
            if session is None or choice == "cancel":
                invocation.return_value(GLib.Variant("(ua{sv})", (RESPONSE_CANCELLED, {})))
                return
            # What the user picked, whatever kinds of source were offered.
            window_title = None
            session.source_type = SOURCE_MONITOR
            if choice == "window" or choice.startswith("window "):
                session.source_type = SOURCE_WINDOW
                window_title = choice[len("window "):] or None
            self.start_cast(session, window_title, invocation)

    def window_id(self, title):
        """The id of the window titled so, else the focused one, else the newest."""
        (windows,) = self.bus.call_sync(
            "org.gnome.Shell.Introspect", "/org/gnome/Shell/Introspect",
            "org.gnome.Shell.Introspect", "GetWindows", None, GLib.VariantType("(a{ta{sv}})"),
            Gio.DBusCallFlags.NONE, 5000, None).unpack()
        if title is not None:
            windows = {id: window for id, window in windows.items() if window.get("title") == title}
        if not windows:
            raise LookupError("no window" + (" titled " + title if title else ""))
        focused = [id for id, window in windows.items() if window.get("has-focus")]
        return focused[0] if focused else max(windows)

    def start_cast(self, session, window_title, invocation):
        def fail(error):
            log("the cast did not start: " + str(error))
            invocation.return_value(GLib.Variant("(ua{sv})", (RESPONSE_FAILED, {})))

        try:
            properties = {"cursor-mode": GLib.Variant("u", MUTTER_CURSOR_MODES.get(session.cursor_mode, 0))}
            if session.source_type == SOURCE_WINDOW:
                properties["window-id"] = GLib.Variant("t", self.window_id(window_title))
                method, target = "RecordWindow", GLib.Variant("(a{sv})", (properties,))
            else:
                method, target = "RecordMonitor", GLib.Variant("(sa{sv})", ("", properties))
            (mutter_session,) = self.bus.call_sync(
                "org.gnome.Mutter.ScreenCast", "/org/gnome/Mutter/ScreenCast",
                "org.gnome.Mutter.ScreenCast", "CreateSession", GLib.Variant("(a{sv})", ({},)),
                GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()
            session.mutter_session = mutter_session
            (stream,) = self.bus.call_sync(
                "org.gnome.Mutter.ScreenCast", mutter_session, "org.gnome.Mutter.ScreenCast.Session",
                method, target, GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()
        except (GLib.Error, LookupError) as error:
            fail(getattr(error, "message", error))
            return

        subscription = None

        def on_stream_added(_bus, _sender, _path, _interface, _signal, parameters, _data):
            (node,) = parameters.unpack()
            self.bus.signal_unsubscribe(subscription)
            stream_properties = {"source_type": GLib.Variant("u", session.source_type)}
            try:
                (parameters,) = self.bus.call_sync(
                    "org.gnome.Mutter.ScreenCast", stream, "org.freedesktop.DBus.Properties", "Get",
                    GLib.Variant("(ss)", ("org.gnome.Mutter.ScreenCast.Stream", "Parameters")),
                    GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()
                if "position" in parameters:
                    stream_properties["position"] = GLib.Variant("(ii)", parameters["position"])
                if "size" in parameters:
                    stream_properties["size"] = GLib.Variant("(ii)", parameters["size"])
            except GLib.Error as error:
                log("stream parameters: " + error.message)
            log("node %d" % node)
            results = {"streams": GLib.Variant("a(ua{sv})", [(node, stream_properties)])}
            invocation.return_value(GLib.Variant("(ua{sv})", (RESPONSE_SUCCESS, results)))

        subscription = self.bus.signal_subscribe(
            "org.gnome.Mutter.ScreenCast", "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded",
            stream, None, Gio.DBusSignalFlags.NONE, on_stream_added, None)
        try:
            self.bus.call_sync("org.gnome.Mutter.ScreenCast", session.mutter_session,
                               "org.gnome.Mutter.ScreenCast.Session", "Start", None, None,
                               Gio.DBusCallFlags.NONE, 5000, None)
        except GLib.Error as error:
            self.bus.signal_unsubscribe(subscription)
            fail(error.message)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    loop = GLib.MainLoop()
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    Backend(bus, sys.argv[1])

    def on_lost(_bus, _name):
        log("lost the bus name")
        loop.quit()

    Gio.bus_own_name_on_connection(bus, BUS_NAME, Gio.BusNameOwnerFlags.NONE, None, on_lost)
    Gio.bus_own_name_on_connection(bus, SHELL_TRUSTED_NAME, Gio.BusNameOwnerFlags.NONE, None, on_lost)
    loop.run()
    return 1


if __name__ == "__main__":
    sys.exit(main())

"""Screen casts and window listings from GNOME Shell and mutter, over D-Bus."""

from gi.repository import Gio, GLib

# Mutter numbers the portal's cursor modes (1 hidden, 2 embedded, 4
# metadata) from zero in the same order.
MUTTER_CURSOR_MODES = {1: 0, 2: 1, 4: 2}
SCREENCAST_NAME = "org.gnome.Mutter.ScreenCast"
SESSION_INTERFACE = "org.gnome.Mutter.ScreenCast.Session"


class MutterCast:
    """One cast of mutter's, from its session's creation to its end."""

    def __init__(self, bus, log):
        self.bus = bus
        self.log = log
        self.session = None
        self.closed_subscription = None

    def start(self, window_id, cursor_mode, on_started, on_failed, on_closed):
        properties = {"cursor-mode": GLib.Variant("u", MUTTER_CURSOR_MODES.get(cursor_mode, 0))}
        if window_id is not None:
            properties["window-id"] = GLib.Variant("t", window_id)
            method, target = "RecordWindow", GLib.Variant("(a{sv})", (properties,))
        else:
            method, target = "RecordMonitor", GLib.Variant("(sa{sv})", ("", properties))
        try:
            (self.session,) = self.bus.call_sync(
                SCREENCAST_NAME, "/org/gnome/Mutter/ScreenCast", "org.gnome.Mutter.ScreenCast",
                "CreateSession", GLib.Variant("(a{sv})", ({},)), GLib.VariantType("(o)"),
                Gio.DBusCallFlags.NONE, 5000, None).unpack()

            def closed(*_arguments):
                self.session = None
                on_closed()

            self.closed_subscription = self.bus.signal_subscribe(
                SCREENCAST_NAME, SESSION_INTERFACE, "Closed", self.session, None,
                Gio.DBusSignalFlags.NONE, closed, None)
            (stream,) = self.bus.call_sync(
                SCREENCAST_NAME, self.session, SESSION_INTERFACE, method, target,
                GLib.VariantType("(o)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()
        except GLib.Error as error:
            on_failed(error.message)
            return

        subscription = None

        def on_stream_added(_bus, _sender, _path, _interface, _signal, parameters, _data):
            (node,) = parameters.unpack()
            self.bus.signal_unsubscribe(subscription)
            stream_properties = {}
            try:
                (parameters,) = self.bus.call_sync(
                    SCREENCAST_NAME, stream, "org.freedesktop.DBus.Properties", "Get",
                    GLib.Variant("(ss)", ("org.gnome.Mutter.ScreenCast.Stream", "Parameters")),
                    GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()
                if "position" in parameters:
                    stream_properties["position"] = GLib.Variant("(ii)", parameters["position"])
                if "size" in parameters:
                    stream_properties["size"] = GLib.Variant("(ii)", parameters["size"])
            except GLib.Error as error:
                self.log("stream parameters: " + error.message)
            on_started(node, stream_properties)

        subscription = self.bus.signal_subscribe(
            SCREENCAST_NAME, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", stream,
            None, Gio.DBusSignalFlags.NONE, on_stream_added, None)
        try:
            self.bus.call_sync(SCREENCAST_NAME, self.session, SESSION_INTERFACE, "Start", None,
                               None, Gio.DBusCallFlags.NONE, 5000, None)
        except GLib.Error as error:
            self.bus.signal_unsubscribe(subscription)
            on_failed(error.message)

    def stop(self):
        if self.closed_subscription is not None:
            self.bus.signal_unsubscribe(self.closed_subscription)
            self.closed_subscription = None
        if self.session is not None:
            try:
                self.bus.call_sync(SCREENCAST_NAME, self.session, SESSION_INTERFACE, "Stop", None,
                                   None, Gio.DBusCallFlags.NONE, 5000, None)
            except GLib.Error as error:
                self.log("stopping the cast: " + error.message)
            self.session = None


class Mutter:
    """GNOME Shell lists its windows, by mutter's window ids, and mutter casts."""

    # The name under which GNOME Shell answers window listings; no GNOME
    # portal backend runs on the test desktop, so the backend holds it.
    trusted_name = "org.freedesktop.impl.portal.desktop.gnome"
    window_id_type = "t"

    def __init__(self, bus, log):
        self.bus = bus
        self.log = log

    def windows(self):
        """{window id: {"title": ..., "has-focus": ...}}; raises GLib.Error."""
        (windows,) = self.bus.call_sync(
            "org.gnome.Shell.Introspect", "/org/gnome/Shell/Introspect",
            "org.gnome.Shell.Introspect", "GetWindows", None, GLib.VariantType("(a{ta{sv}})"),
            Gio.DBusCallFlags.NONE, 5000, None).unpack()
        return windows

    def cast(self):
        return MutterCast(self.bus, self.log)

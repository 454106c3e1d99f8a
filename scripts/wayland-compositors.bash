# shellcheck disable=SC2154 # the settings are the sourcing script's
# The compositors of the Wayland test desktop: GNOME Shell (mutter) and
# KWin, each headless with one virtual monitor and XWayland. Sourced by
# scripts/wayland-desktop, which defines launch, abandon, has_owner and the
# session's settings ($runtime, $bus, $state, $screen, $scale,
# $desktop_name, $kwin_screencast). For each compositor NAME:
#   tools_NAME     prints the programs it needs
#   prepare_NAME   writes its files into $runtime, before it is handed to the
#                  desktop's user
#   start_NAME     starts it, once the bus and the audio run, and sets
#                  x_display, x_authority and portal_backend_options (the
#                  scripted portal backend's options)

tools_gnome_shell() { echo gnome-shell; }

prepare_gnome_shell() {
  mkdir -p "$runtime/data/gnome-shell/modes"
  echo '{ "parentMode": "user", "hasOverview": false, "showWelcomeDialog": false, "components": [] }' \
    >"$runtime/data/gnome-shell/modes/$desktop_name.json"
  [ "$scale" = 1 ] || configure_scale "$runtime/home"
}

# Makes the monitor HiDPI. Mutter lays monitors out in points, each scaled
# by its own factor, only with its experimental "scale-monitor-framebuffer"
# (without it, the layout stays in pixels and windows merely draw larger);
# the shell reads that setting from a key file, and the monitor's scale from
# the configuration it would have saved, which names the virtual monitor as
# mutter does.
configure_scale() { # <home>
  local home=$1
  mkdir -p "$home/.config/glib-2.0/settings"
  cat >"$home/.config/glib-2.0/settings/keyfile" <<EOF
[org/gnome/mutter]
experimental-features=['scale-monitor-framebuffer']
EOF
  cat >"$home/.config/monitors.xml" <<EOF
<monitors version="2">
  <configuration>
    <logicalmonitor>
      <x>0</x>
      <y>0</y>
      <scale>$scale</scale>
      <primary>yes</primary>
      <monitor>
        <monitorspec>
          <connector>Meta-0</connector>
          <vendor>MetaVendor</vendor>
          <product>MetaVirtualMonitor</product>
          <serial>0x00</serial>
        </monitorspec>
        <mode>
          <width>${screen%x*}</width>
          <height>${screen#*x}</height>
          <rate>60.000</rate>
        </mode>
      </monitor>
    </logicalmonitor>
  </configuration>
</monitors>
EOF
}

# The scale of mutter's first logical monitor, as a whole number.
monitor_scale() {
  env "DBUS_SESSION_BUS_ADDRESS=$bus" /usr/bin/python3 -c '
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
state = bus.call_sync("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                      "org.gnome.Mutter.DisplayConfig", "GetCurrentState", None, None,
                      Gio.DBusCallFlags.NONE, 5000, None).unpack()
print(round(state[2][0][2]))'
}

start_gnome_shell() {
  local settings_backend=memory
  [ "$scale" = 1 ] || settings_backend=keyfile
  # GNOME Shell rather than bare mutter: only the shell names its windows
  # (org.gnome.Shell.Introspect), which a window cast needs. Its session
  # mode opens on the desktop, not the overview, and starts none of a real
  # session's agents. The session bus stands in for the system bus, where
  # it looks for logind: absent, rather than unreachable, it carries on.
  launch gnome-shell env "DBUS_SYSTEM_BUS_ADDRESS=$bus" "GSETTINGS_BACKEND=$settings_backend" \
    "XDG_DATA_DIRS=$runtime/data:/usr/local/share:/usr/share" \
    gnome-shell "--mode=$desktop_name" --headless --wayland --virtual-monitor "$screen" \
    --wayland-display wayland-0
  wait_for gnome-shell "$!" "$state/gnome-shell.log" has_owner org.gnome.Shell.Introspect
  # Mutter ignores a configuration that does not name its monitor exactly.
  if [ "$scale" != 1 ] && [ "$(monitor_scale)" != "$scale" ]; then
    abandon "gnome-shell did not scale its monitor by $scale:" "$state/gnome-shell.log"
  fi
  # XWayland, for X11 clients: the shell names its display in its log and
  # keeps the key to it beside its sockets.
  x_display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$state/gnome-shell.log" | head -n 1)
  x_authority=$(find "$runtime" -maxdepth 1 -name '.mutter-Xwaylandauth.*' | head -n 1)
  [ -n "$x_display" ] && [ -n "$x_authority" ] ||
    abandon "gnome-shell offers no XWayland display:" "$state/gnome-shell.log"
  portal_backend_options=()
}

tools_kwin() { echo kwin_wayland xhost "$kwin_screencast"; }

prepare_kwin() {
  # The packaged binary carries a file capability (to raise its limits),
  # which a container may forbid executing; a plain copy runs without it.
  # KWin reads its name to know it is the Wayland compositor.
  mkdir -p "$runtime/bin"
  cp "$(command -v kwin_wayland)" "$runtime/bin/kwin_wayland"
  # KWin starts this once XWayland is up, with the display in its
  # environment: the only place KWin names it. Its XWayland admits only
  # KWin's user; the caller's clients (the recorder) are let in too.
  cat >"$runtime/bin/xwayland-ready" <<EOF
#!/bin/sh
xhost +si:localuser:$(id -un) >/dev/null &&
  printf 'DISPLAY=%s\n' "\$DISPLAY" >"$runtime/xwayland.tmp" && mv "$runtime/xwayland.tmp" "$runtime/xwayland"
EOF
  # KWin tells its protocols' clients apart by their programs, which it can
  # read only of its own user's processes: the portal backend asks through a
  # copy of the tool run as KWin's user.
  cp "$kwin_screencast" "$runtime/bin/kwin-screencast-tool"
  cat >"$runtime/bin/kwin-screencast" <<EOF
#!/bin/sh
exec ${as_desktop_user[*]} env XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-0 \\
  "$runtime/bin/kwin-screencast-tool" "\$@"
EOF
  chmod +x "$runtime/bin/xwayland-ready" "$runtime/bin/kwin-screencast"
}

start_kwin() {
  # KWin hands its screencast and window-management protocols only to the
  # programs that KDE's desktop files name; the test desktop's tool is not
  # one of them. Software rendering: no GPU here. --scale makes the monitor
  # as many points as pixels divided by it.
  launch kwin env KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 LIBGL_ALWAYS_SOFTWARE=1 \
    "$runtime/bin/kwin_wayland" --virtual --width "${screen%x*}" --height "${screen#*x}" \
    --scale "$scale" --socket wayland-0 --xwayland --no-lockscreen "$runtime/bin/xwayland-ready"
  wait_for KWin "$!" "$state/kwin.log" test -s "$runtime/xwayland"
  x_display=$(sed -n 's/^DISPLAY=//p' "$runtime/xwayland")
  x_authority=
  [ -n "$x_display" ] || abandon "KWin offers no XWayland display:" "$state/kwin.log"
  portal_backend_options=(--kwin "$runtime/bin/kwin-screencast")
}

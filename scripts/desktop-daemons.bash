# What the test desktops share to run their daemons: waiting for one to
# start, ending one, and PipeWire with its session manager. Sourced by
# scripts/wayland-desktop and scripts/virtual-desktop, which define
#   abandon <message> [log]       report why, clean up and exit 1
#   launch <name> <command...>    start a daemon in the background, its
#                                 output in $state/<name>.log, and record it
#                                 in $state/pids

readonly start_timeout_seconds=20

# Waits until the command succeeds or the process it depends on ends.
wait_for() { # <what> <pid> <log> <command...>
  local what=$1 pid=$2 log=$3
  shift 3
  local deadline=$((SECONDS + start_timeout_seconds))
  until "$@" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || abandon "$what exited while starting:" "$log"
    ((SECONDS < deadline)) || abandon "$what did not start within ${start_timeout_seconds} s:" "$log"
    sleep 0.1
  done
}

# Waits a while for a process told to end, then ends it.
await_end() { # <pid>
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
}

# WirePlumber makes the "default" metadata once its policy runs, which links
# the streams that ask for a node.
has_session_manager() { # <runtime directory>
  PIPEWIRE_RUNTIME_DIR=$1 PIPEWIRE_REMOTE=pipewire-0 timeout 2 pw-cli ls Metadata |
    grep -q 'metadata.name = "default"'
}

# PipeWire with its socket "pipewire-0" in the runtime directory the
# daemons are launched with, and WirePlumber, once it links streams.
start_pipewire() { # <runtime directory>
  # A daemon that was killed leaves its socket behind, which would pass for
  # the new one's.
  rm -f "$1/pipewire-0"
  launch pipewire pipewire
  wait_for PipeWire "$!" "$state/pipewire.log" test -S "$1/pipewire-0"
  launch wireplumber wireplumber
  wait_for WirePlumber "$!" "$state/wireplumber.log" has_session_manager "$1"
}

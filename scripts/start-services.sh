# Starts the services that integration tests talk to, when none answers:
#  - a private PulseAudio server with a null sink as default (PULSE_SERVER, PULSE_RUNTIME_PATH)
#  - a D-Bus session bus (DBUS_SESSION_BUS_ADDRESS)
# Meant to be sourced (scripts/test.sh does); safe under `set -euo pipefail`. Exports what
# it started, plus LUMENAR_SERVICES_PIDS (space-separated) so a caller can stop them with
# scripts/stop-services.sh or `kill $LUMENAR_SERVICES_PIDS`.
# Run directly (not sourced) it prints the export lines instead, for `eval`.

lumenar_services_main() {
  local started=""

  if command -v pactl >/dev/null 2>&1 && pactl info >/dev/null 2>&1; then
    echo "start-services: a PulseAudio server already answers"
  elif ! command -v pulseaudio >/dev/null 2>&1; then
    echo "start-services: pulseaudio is not installed; audio integration tests will skip" >&2
  else
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/lumenar-pulse-XXXXXX")
    mkdir -p "$dir/runtime" "$dir/state" "$dir/home"
    chmod 700 "$dir/runtime"
    # -n: no default script; load only what the tests need. Anonymous auth on a private
    # socket, so no cookie is needed. Root is allowed with --system=false (a warning only).
    (
      export PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" HOME="$dir/home"
      export XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home"
      exec pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit \
        --use-pid-file=no --log-target=file:"$dir/pulse.log" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/runtime/native" \
        --load="module-null-sink sink_name=lumenar_null sink_properties=device.description=Lumenar_null" \
        </dev/null >/dev/null 2>&1
    ) &
    local pid=$!
    disown "$pid" 2>/dev/null || true   # its end at exit is not news
    export PULSE_SERVER="unix:$dir/runtime/native"
    export PULSE_RUNTIME_PATH="$dir/runtime"
    local i
    for i in $(seq 1 50); do
      if pactl info >/dev/null 2>&1; then break; fi
      if ! kill -0 "$pid" 2>/dev/null; then break; fi
      sleep 0.1
    done
    if pactl info >/dev/null 2>&1; then
      pactl set-default-sink lumenar_null >/dev/null 2>&1 || true
      started="$started $pid"
      echo "start-services: PulseAudio started (pid $pid, $PULSE_SERVER)"
    else
      echo "start-services: could not start PulseAudio (log: $dir/pulse.log)" >&2
      kill "$pid" 2>/dev/null || true
      unset PULSE_SERVER PULSE_RUNTIME_PATH
    fi
  fi

  if [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-send >/dev/null 2>&1 &&
     dbus-send --session --dest=org.freedesktop.DBus --type=method_call --print-reply \
       /org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null 2>&1; then
    echo "start-services: a D-Bus session bus already answers"
  elif command -v dbus-daemon >/dev/null 2>&1; then
    local out addr bpid
    out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null) || out=""
    addr=$(printf '%s\n' "$out" | sed -n 1p)
    bpid=$(printf '%s\n' "$out" | sed -n 2p)
    if [ -n "$addr" ]; then
      export DBUS_SESSION_BUS_ADDRESS="$addr"
      started="$started $bpid"
      echo "start-services: D-Bus session bus started (pid $bpid)"
    else
      echo "start-services: could not start a D-Bus session bus" >&2
    fi
  else
    echo "start-services: dbus-daemon is not installed; D-Bus tests will skip" >&2
  fi

  export LUMENAR_SERVICES_PIDS="${LUMENAR_SERVICES_PIDS:-}$started"
}

if (return 0 2>/dev/null); then
  lumenar_services_main
  unset -f lumenar_services_main
else
  set -euo pipefail
  lumenar_services_main >&2
  for v in PULSE_SERVER PULSE_RUNTIME_PATH DBUS_SESSION_BUS_ADDRESS LUMENAR_SERVICES_PIDS; do
    if [ -n "${!v:-}" ]; then printf 'export %s=%q\n' "$v" "${!v}"; fi
  done
fi

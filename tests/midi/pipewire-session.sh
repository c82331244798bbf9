#!/usr/bin/env bash
# Runs a command as a client of a private PipeWire daemon with WirePlumber
# (which bridges the ALSA sequencer's devices into PipeWire's graph), through
# PipeWire's libjack as pw-jack runs a program on a desktop. Exit status: the
# command's; 77 when PipeWire is not installed.
#   pipewire-session.sh COMMAND [ARG...]
set -u
for program in pipewire wireplumber pw-jack pw-cli dbus-daemon; do
  command -v "$program" >/dev/null || { echo "$program is not installed: skipped"; exit 77; }
done
dir=$(mktemp -d "${TMPDIR:-/tmp}/tactimo-pipewire.XXXXXX")
export XDG_RUNTIME_DIR=$dir/run XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d" "$XDG_STATE_HOME"
# Its Bluetooth part asks for logind, which a bare machine lacks; WirePlumber then quits.
echo "-- no Bluetooth here" >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/90-enable-all.lua"
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$dir/address" 4>"$dir/dbus.pid"
export DBUS_SESSION_BUS_ADDRESS=$(cat "$dir/address")
pipewire >"$dir/pipewire.log" 2>&1 &
pids=($!)
wireplumber >"$dir/wireplumber.log" 2>&1 &
pids+=($!)
# Ready when its bridge is there (or at once where there is no sequencer).
for _ in $(seq 300); do
  nodes=$(pw-cli ls Node 2>/dev/null)
  [[ $nodes == *Midi-Bridge* ]] || { [[ $nodes == *Dummy-Driver* ]] && [ ! -e /dev/snd/seq ]; } && break
  sleep 0.1
done
TACTIMO_TEST_PIPEWIRE=1 pw-jack "$@"
rc=$?
kill "${pids[@]}" "$(cat "$dir/dbus.pid")" 2>/dev/null
wait "${pids[@]}" 2>/dev/null
[ "$rc" -eq 0 ] || { tail -n 20 "$dir/pipewire.log"; grep -v '^M' "$dir/wireplumber.log" | tail -n 20; }
rm -rf "$dir"
exit "$rc"

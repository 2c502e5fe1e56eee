#!/bin/bash
# Runs the Win32 scenario host under Wine against the Linux module simulator.
#   run_scenarios.sh KZTARN HOST_EXE WORK_DIR
# KZTARN is `kztarn` of the Linux build; WORK_DIR gets a Wine prefix of its
# own (made once, kept), the simulator's log, the host's log and the unit's
# files. COM3 of the prefix is a link to the simulator's pseudo-terminal.
# The host prints "phone: <command>" when the simulated phone must act;
# those lines go to the simulator's standard input.
set -u
kztarn=$1 host=$2 work=$3
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

fail() { echo "win32 scenarios: $*" >&2; exit 1; }
command -v wine >/dev/null || fail "wine is not installed ('make test-win32' installs it)"
[ -x "$kztarn" ] || fail "no module simulator at $kztarn (build the Linux tree first)"
mkdir -p "$work" || fail "cannot make $work"

# A fresh prefix, once: its windows use the null graphics driver (no display).
if [ ! -f "$WINEPREFIX/.kz-ready" ]; then
    rm -rf "$WINEPREFIX"
    if ! timeout 300 wine wineboot -i >"$work/wineboot.log" 2>&1 ||
       ! timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$work/wineboot.log" 2>&1; then
        tail -20 "$work/wineboot.log" >&2
        fail "Wine cannot start (see $work/wineboot.log)"
    fi
    timeout 60 wineserver -k   # the next start reads the driver setting afresh
    touch "$WINEPREFIX/.kz-ready"
fi

sim_pid=
cleanup() {
    exec 3>&- 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    timeout 20 wineserver -k 2>/dev/null
    true
}
trap cleanup EXIT

rm -rf "$work/root" "$work/sim.in" "$work/sim.path"
mkdir -p "$work/root"
mkfifo "$work/sim.in"
"$kztarn" simulate --quiet --path-file "$work/sim.path" <"$work/sim.in" >"$work/sim.log" 2>&1 &
sim_pid=$!
exec 3>"$work/sim.in"
for _ in $(seq 100); do [ -s "$work/sim.path" ] && break; sleep 0.1; done
pty=$(cat "$work/sim.path" 2>/dev/null)
[ -n "$pty" ] && [ -e "$pty" ] || fail "the simulator gave no pseudo-terminal (see $work/sim.log)"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com3"

# The Wine server of the prefix is started here, so that what it writes goes
# to its own log and not into the host's.
timeout 60 wineserver -p60 2>>"$work/wineserver.log" >&2 || fail "the Wine server cannot start (see $work/wineserver.log)"

root="Z:${work//\//\\}\\root"
cd "$work" || fail "cannot enter $work"
# The host's C library writes text lines with CR LF; the CR goes here.
KZ_TARN_ROOT=$root timeout 300 wine "$host" 2>"$work/host.err" | sed -u 's/\r$//' |
    tee "$work/host.log" | sed -un 's/^phone: //p' >&3
rc=${PIPESTATUS[0]}
[ "$rc" = 124 ] && echo "win32 scenarios: the host did not finish within 300 s" >&2
grep -q "^[0-9]* passed, 0 failed$" "$work/host.log" && [ "$rc" = 0 ] && exit 0
echo "--- host (stdout above; its stderr):" >&2; tail -20 "$work/host.err" >&2
echo "--- simulator:" >&2; tail -20 "$work/sim.log" >&2
exit 1

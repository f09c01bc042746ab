#!/bin/bash
# Keys held down and the window's ends, under Xvfb (whose keyboard auto-repeats):
# O and P held 1.5 s act once each; the window manager's close (WM_DELETE_WINDOW)
# asks the exit question like Esc, and Cancel keeps the run; the window destroyed
# from outside ends the program in order: a message, status 1, the spike report
# closed with every spike recorded. Usage: window_keys_close.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$BIN" --inner
fi
source "$(dirname "$0")/scene_common.bash"

# Sends WM_DELETE_WINDOW to a window, as a window manager's close button does.
wm_close() {
    /usr/bin/python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
event = ClientMessage(type=33, window=int(sys.argv[1]), format=32)
event.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
event.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, event.window, 0, 0, ctypes.byref(event))
x.XFlush(d)
PY
}
hold() {  # key, seconds
    xdotool windowfocus --sync "$WID" 2>/dev/null || true
    xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"; sleep 0.5
}

start_scene demo seed=1 preset=4 threads=2 "capture=$WORK"
hold o 1.5
[ "$(grep -c 'Recording spikes to' "$LOG")" -eq 1 ] || fail "O held: not one recording"
grep -q "Recorded [0-9]* spikes" "$LOG" && fail "O held: the recording was toggled off again"
hold p 1.5
[ "$(grep -c 'Simulation paused.' "$LOG")" -eq 1 ] || fail "P held: not one pause"
grep -q "Simulation resumed." "$LOG" && fail "P held: resumed again"

wm_close "$WID"
QID=$(timeout 10 xdotool search --sync --name '^Exit Vellicor\?$' | head -1)
[ -n "$QID" ] || fail "the window manager's close asked nothing during a simulation"
xdotool windowfocus --sync "$QID" 2>/dev/null || true
sleep 0.3
xdotool key Escape
sleep 1
kill -0 "$PID" 2>/dev/null || fail "Cancel did not keep the program running"

xdotool windowclose "$WID"
for _ in $(seq 1 150); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$PID" 2>/dev/null && fail "the program did not end after its window was destroyed"
wait "$PID"
RC=$?
PID=""
[ "$RC" -eq 1 ] || fail "exit status $RC after the window was destroyed, expected 1"
grep -q "The visualization window was destroyed" "$LOG" || fail "no message about the destroyed window"
count=$(sed -n 's/.*Recorded \([0-9]*\) spikes.*/\1/p' "$LOG")
[ -n "$count" ] && [ "$count" -gt 0 ] || fail "the spike report was not closed"
/usr/bin/python3 - "$WORK/vellicor-spikes.h5" "$count" <<'PY' || fail "the report does not hold the spikes logged"
import sys, h5py
with h5py.File(sys.argv[1]) as f:
    assert len(f["/spikes/vellicor/node_ids"]) == int(sys.argv[2])
PY
finish

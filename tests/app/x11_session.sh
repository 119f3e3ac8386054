# Shared by the scripts that drive the real program under Xvfb: sourced, not run. Every wait has a
# deadline; past it the script fails saying what it waited for, and the EXIT trap ends everything
# it started.

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # What does not end on SIGTERM within two seconds is killed, so the cleanup never waits for ever.
  for _ in $(seq 40); do
    alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.05
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "-- $*"; }

# Waits for a visible top-level window whose whole title is $1; prints its id. Searched again and
# again rather than with --sync: a window that goes away during a search (the toolkit makes and
# drops a few at start-up, the window manager its own) ends that search with an X error.
window_named() {
  local id=
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || fail "no window titled '$1' within 10 s"
  echo "$id"
}
window_gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.05
  done
  fail "window '$1' is still there"
}
# True when no visible window titled $1 shows up within $2 seconds.
no_window_within() {
  timeout "$2" xdotool search --sync --onlyvisible --name "^$1\$" >/dev/null 2>&1 && return 1
  return 0
}
# Clicks at a point of the window's client area (pixels), with button $4 (default: the left one).
click_at() { xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"; }
focus() { timeout 10 xdotool windowfocus --sync "$1" || fail "window $1 did not take the focus within 10 s"; }
type_into() { focus "$1"; xdotool type --delay 5 -- "$2"; }
key_in() { focus "$1"; xdotool key "$2"; }
# Types server $2, login $3 and password $4 into the window $1's first three fields, Tab between them.
type_credentials() {
  type_into "$1" "$2"
  key_in "$1" Tab
  type_into "$1" "$3"
  key_in "$1" Tab
  type_into "$1" "$4"
}

# Starts openbox on the display and waits until it manages windows.
start_openbox() {
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  fail "openbox did not take the display: $(cat "$work/openbox.log")"
}

# Starts korvane-tds-server ($1) with the remaining arguments; sets $server to what to type.
start_tds_server() {
  local exe=$1
  shift
  "$exe" "$@" >"$work/server.out" 2>"$work/server.err" &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^listening ' "$work/server.out" && break; sleep 0.05; done
  server=$(sed -n 's/^listening //p' "$work/server.out")
  [ -n "$server" ] || fail "the TDS server did not start: $(cat "$work/server.err")"
}

# Milliseconds since the epoch.
now_ms() { date +%s%3N; }

# Waits until process $1 has ended, at most $2 ms after the moment $3 (now_ms, taken just before
# the request); prints how long after $3 it ended. Fails past the deadline.
ended_within() {
  local pid=$1 deadline=$2 start=$3
  while kill -0 "$pid" 2>/dev/null; do
    [ $(($(now_ms) - start)) -le "$deadline" ] || fail "process $pid still runs ${deadline} ms after the request"
    sleep 0.01
  done
  echo $(($(now_ms) - start))
}

#!/usr/bin/env bash
# The real program under Xvfb and openbox while an export waits on a server that accepts the
# connection and never answers (the driver's login time-out is 30 s): the window repaints what
# was covered, a second "Exportar" starts nothing, and each way of closing (openbox's close,
# "Fechar", Alt+F) ends the program within a second, leaving the file at the path as it was.
# Usage: window_during_run.sh <korvane> <korvane-tds-server>
# With KORVANE_SCREENSHOT=<file.png> it also saves a picture of the window mid-run.
set -euo pipefail

# Qt writes the title's WM_NAME in the locale's charset, and xdotool finds windows by it: in a
# locale without UTF-8 ("C") the accented titles could not be found.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

if [ -z "${KORVANE_UNDER_XVFB:-}" ]; then
  export KORVANE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x600x24 -noreset" bash "$0" "$@"
fi

korvane=$1
tds_server=$2
source "$(dirname "$0")/x11_session.sh"
title='Informações Terminais NAC 3000'
question='O Ficheiro Será Sobreposto:'
chooser_title='Indique a Localização do Ficheiro a Gravar:'
close_deadline_ms=1000

start_openbox
start_tds_server "$tds_server" --fault silent
out="$work/terminais.xml"
printf 'o ficheiro anterior\n' >"$out"
before=$(sha256sum <"$out")

# Starts korvane, fills the window, chooses $out and starts a run that the server leaves waiting
# (the overwrite question answered OK). Sets $korvane_pid and $wid.
start_waiting_run() {
  "$korvane" &
  korvane_pid=$!
  pids+=("$korvane_pid")
  wid=$(window_named "$title")
  type_credentials "$wid" "$server" operador segredo
  click_at "$wid" 484 114
  local dialog
  dialog=$(window_named "$chooser_title")
  type_into "$dialog" "$out"
  key_in "$dialog" Return
  window_gone "$chooser_title"
  key_in "$wid" alt+e
  local box
  box=$(window_named "$question")
  key_in "$box" Return
  window_gone "$question"
}

# The window's own pixels, with the pointer kept off it.
snapshot() {
  xdotool mousemove 790 590
  sleep 0.2
  import -window "$wid" "$1"
}

step "a run against a silent server; openbox's close (Alt+F4) during it"
start_waiting_run
snapshot "$work/waiting.png"
[ -n "${KORVANE_SCREENSHOT:-}" ] && cp "$work/waiting.png" "$KORVANE_SCREENSHOT"

step "the window repaints what another window covered"
position=$(xdotool getwindowgeometry "$wid" | sed -n 's/^ *Position: \([0-9]*\),\([0-9]*\).*/+\1+\2/p')
xmessage -geometry "400x150$position" 'cobre a janela' &
cover=$!
pids+=("$cover")
window_named xmessage >/dev/null
kill "$cover"
window_gone xmessage
sleep 0.3
snapshot "$work/uncovered.png"
differing=$(compare -metric AE -fuzz 5% "$work/waiting.png" "$work/uncovered.png" /dev/null 2>&1 || true)
[ "${differing%% *}" -lt 200 ] 2>/dev/null \
  || fail "the window did not repaint while the run waited ($differing pixels differ)"

step "a second Exportar (click and Alt+E) starts nothing"
click_at "$wid" 356 148
key_in "$wid" alt+e
no_window_within "$question" 1 || fail "a second run started: the overwrite question came up"
kill -0 "$korvane_pid" 2>/dev/null || fail "korvane ended on the second Exportar"

step "openbox's close request ends the program"
xdotool windowactivate --sync "$wid"
start=$(now_ms)
xdotool key alt+F4
took=$(ended_within "$korvane_pid" "$close_deadline_ms" "$start")
echo "ended ${took} ms after the close request"
status=0
wait "$korvane_pid" || status=$?
[ "$status" = 0 ] || fail "korvane ended with status $status"
[ "$(sha256sum <"$out")" = "$before" ] || fail "the file at the path changed"

step "Fechar clicked during a run"
start_waiting_run
xdotool mousemove --window "$wid" 452 148
start=$(now_ms)
xdotool click --delay 0 1
took_fechar=$(ended_within "$korvane_pid" "$close_deadline_ms" "$start")
echo "ended ${took_fechar} ms after the click"
wait "$korvane_pid" || fail "korvane ended with a failure status after Fechar"

step "Alt+F during a run"
start_waiting_run
xdotool windowfocus --sync "$wid"
start=$(now_ms)
xdotool key alt+f
took_alt_f=$(ended_within "$korvane_pid" "$close_deadline_ms" "$start")
echo "ended ${took_alt_f} ms after Alt+F"
wait "$korvane_pid" || fail "korvane ended with a failure status after Alt+F"

[ "$(sha256sum <"$out")" = "$before" ] || fail "the file at the path changed"
leftovers=$(ls -A "$work" | grep -v -E '^(terminais\.xml|server\.(out|err)|openbox\.log|waiting\.png|uncovered\.png)$' || true)
[ -z "$leftovers" ] || fail "a run left files behind: $leftovers"

echo "during a run: repaints, no second run, ends ${took} / ${took_fechar} / ${took_alt_f} ms after Alt+F4 / Fechar / Alt+F"

#!/usr/bin/env bash
# The real program under Xvfb, first with no window manager, then under openbox: in the chooser,
# the full path of an existing file typed as a person types it (the completion list opens under
# the file-name field) and Return. The chooser closes with nothing of it left on screen, the
# window takes a click and a key at once, and the next opening offers the file chosen last.
# Usage: chooser_popup.sh <korvane>
# With KORVANE_SCREENSHOT=<file.png> it also saves a picture of the screen after the chooser.
set -euo pipefail

# Qt writes the title's WM_NAME in the locale's charset, and xdotool finds windows by it: in a
# locale without UTF-8 ("C") the accented titles could not be found.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

if [ -z "${KORVANE_UNDER_XVFB:-}" ]; then
  export KORVANE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x600x24 -noreset" bash "$0" "$@"
fi

korvane=$1
source "$(dirname "$0")/x11_session.sh"
title='Informações Terminais NAC 3000'
chooser_title='Indique a Localização do Ficheiro a Gravar:'
question='O Ficheiro Será Sobreposto:'

mkdir "$work/pasta"
existing="$work/pasta/terminais.xml"
printf 'o ficheiro anterior\n' >"$existing"
before=$(sha256sum <"$existing")

# Mapped override-redirect windows among the screen's top-level windows: a completion list or a
# menu (a window manager never frames those), and whatever the window manager keeps of its own.
# Prints how many there are; the rounds compare it with the count before the chooser opened.
untitled_popups() {
  local count=0 id
  while read -r id; do
    [ -n "$id" ] || continue
    if xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' \
      && xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
      count=$((count + 1))
    fi
  done < <(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p')
  echo "$count"
}

round() {
  local wm=$1
  step "$wm: the chooser, a typed full path and Return"
  "$korvane" &
  local korvane_pid=$!
  pids+=("$korvane_pid")
  local wid dialog
  wid=$(window_named "$title")
  local baseline
  baseline=$(untitled_popups)
  click_at "$wid" 484 114
  dialog=$(window_named "$chooser_title")
  type_into "$dialog" "$existing"
  local opened=
  for _ in $(seq 50); do
    [ "$(untitled_popups)" -gt "$baseline" ] && { opened=1; break; }
    sleep 0.1
  done
  [ -n "$opened" ] || fail "$wm: the completion list did not open within 5 s (the case is not shown)"
  key_in "$dialog" Return
  window_gone "$chooser_title"
  if [ -n "${KORVANE_SCREENSHOT:-}" ]; then
    import -window root "${KORVANE_SCREENSHOT%.png}-$wm.png"
  fi
  local left
  left=$(($(untitled_popups) - baseline))
  [ "$left" = 0 ] || fail "$wm: $left popup window(s) stayed on screen after the chooser closed"
  # The completion list shows itself again when a folder listing it waited for arrives late.
  sleep 1
  left=$(($(untitled_popups) - baseline))
  [ "$left" = 0 ] || fail "$wm: $left popup window(s) came back after the chooser closed"

  step "$wm: a click on Exportar reaches the window at once"
  xdotool mousemove --window "$wid" 356 148 click 1
  local box
  box=$(window_named "$question")
  key_in "$box" Escape
  window_gone "$question"
  [ "$(sha256sum <"$existing")" = "$before" ] || fail "$wm: Cancel changed the file"

  step "$wm: the path emptied, the chooser offers the last file again"
  click_at "$wid" 320 114
  key_in "$wid" BackSpace
  click_at "$wid" 484 114
  dialog=$(window_named "$chooser_title")
  key_in "$dialog" Return
  window_gone "$chooser_title"
  [ "$(untitled_popups)" = "$baseline" ] || fail "$wm: a popup stayed after the second chooser"
  key_in "$wid" alt+e
  box=$(window_named "$question")
  key_in "$box" Escape
  window_gone "$question"

  key_in "$wid" alt+f
  ended_within "$korvane_pid" 2000 "$(now_ms)" >/dev/null
  wait "$korvane_pid" || fail "$wm: korvane ended with a failure status"
}

round no-wm
start_openbox
round openbox

echo "chooser: no popup left, the window takes input at once, the last file offered again (no WM, openbox)"

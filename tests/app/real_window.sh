#!/usr/bin/env bash
# The real program under Xvfb: its window as the X server sees it, keys typed into the path field,
# and a whole export through the window against a separate korvane-tds-server process.
# Usage: real_window.sh <korvane> <korvane-tds-server>
# With KORVANE_SCREENSHOT=<file.png> it also saves a picture of the filled-in window.
set -euo pipefail

# Qt writes the title's WM_NAME in the locale's charset, and xdotool finds windows by it: in a
# locale without UTF-8 ("C") the accented titles could not be found.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

if [ -z "${KORVANE_UNDER_XVFB:-}" ]; then
  export KORVANE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

korvane=$1
tds_server=$2
title='Informações Terminais NAC 3000'
chooser_title='Indique a Localização do Ficheiro a Gravar:'

source "$(dirname "$0")/x11_session.sh"

step "independent TDS server"
start_tds_server "$tds_server" --rows demo --login operador --password segredo

step "the window"
"$korvane" &
korvane_pid=$!
pids+=("$korvane_pid")
wid=$(window_named "$title")
geometry=$(xwininfo -id "$wid")
width=$(sed -n 's/^ *Width: //p' <<<"$geometry")
height=$(sed -n 's/^ *Height: //p' <<<"$geometry")
[ "$width" = 507 ] && [ "$height" = 172 ] || fail "window is ${width} x ${height}, not 507 x 172"
hints=$(xprop -id "$wid" WM_NORMAL_HINTS)
grep -q 'program specified minimum size: 507 by 172' <<<"$hints" || fail "no fixed minimum size: $hints"
grep -q 'program specified maximum size: 507 by 172' <<<"$hints" || fail "no fixed maximum size: $hints"
xprop -id "$wid" _NET_WM_ICON | grep -q 'Icon (32 x 32)' || fail "the window carries no 32 x 32 icon"

step "credentials typed into the fields (the focus starts in the server field)"
type_credentials "$wid" "$server" operador segredo

step "the chooser fills the path"
out="$work/terminais"
click_at "$wid" 484 114
dialog=$(window_named "$chooser_title")
type_into "$dialog" "$out"
key_in "$dialog" Return
window_gone "$chooser_title"

step "typed keys leave the path as chosen"
click_at "$wid" 320 114
type_into "$wid" 'zz/x.xml'
key_in "$wid" ctrl+v

if [ -n "${KORVANE_SCREENSHOT:-}" ]; then
  step "screenshot"
  import -window "$wid" "$KORVANE_SCREENSHOT"
fi

step "export with Alt+E"
key_in "$wid" alt+e
box=$(window_named Korvane)
[ -f "$out" ] || fail "no file at the chosen path (no .xml added, typed keys ignored): $(ls "$work")"
key_in "$box" Return
window_gone Korvane

python3 - "$out" <<'PY' || fail "the written file is not the expected terminal list"
import sys
import xml.etree.ElementTree as ET
raw = open(sys.argv[1], "rb").read()
assert not raw.lstrip(b"\xef\xbb\xbf").startswith(b"<?"), "has an XML declaration"
root = ET.fromstring(raw)
assert root.tag == "Vorantis", root.tag
rows = [[(field.tag, field.text or "") for field in nac] for nac in root]
assert all(nac.tag == "Nac" for nac in root)
expected = [
    ("1", "Entrada Principal", "Portaria do edifício sede", "000AFF123456"),
    ("2", "Garagem Piso -1", "", "001B2C3D4E5F"),
    ("3", "Armazém Norte", "Cais de carga & descarga <B>", "ACDE48001122"),
    ("7", "Laboratório Ótico", "Acesso restrito — só pessoal autorizado", "F00DCAFE0007"),
    ("12", "Sala de Reuniões", "", ""),
]
assert len(rows) == len(expected), rows
for got, (node_id, name, description, mac) in zip(rows, expected):
    assert [tag for tag, _ in got] == ["NodeID", "NodeName", "Description", "RegDate", "MacAddr"], got
    values = dict(got)
    assert (values["NodeID"], values["NodeName"], values["Description"], values["MacAddr"]) == \
        (node_id, name, description, mac), got
    assert (values["RegDate"] == "") == (node_id == "12"), got
PY

step "a second export asks before replacing; Escape keeps the file"
before=$(sha256sum "$out")
key_in "$wid" alt+e
question=$(window_named 'O Ficheiro Será Sobreposto:')
key_in "$question" Escape
window_gone 'O Ficheiro Será Sobreposto:'
[ "$(sha256sum "$out")" = "$before" ] || fail "Cancel changed the file"

step "Alt+F ends the program at once"
key_in "$wid" alt+f
for _ in $(seq 100); do kill -0 "$korvane_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$korvane_pid" 2>/dev/null && fail "korvane still runs after Alt+F"
status=0
wait "$korvane_pid" || status=$?
[ "$status" = 0 ] || fail "korvane ended with status $status"

echo "real window: title, 507 x 172 fixed, path unchanged by keys, export and Cancel, Alt+F"

#!/usr/bin/env bash
# The real program, started in an English locale under Xvfb with openbox as window manager, read
# off the screen by OCR: the fields' menu, the save-file chooser, the overwrite question and a
# failed save are in European Portuguese, with none of Qt's English texts left and the chooser's
# dates written the Portuguese way.
# Usage: portuguese_on_screen.sh <korvane> <korvane-tds-server>
# With KORVANE_SCREENS=<folder> the screenshots and what was read from them are kept there.
set -euo pipefail

if [ -z "${KORVANE_UNDER_XVFB:-}" ]; then
  export KORVANE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

korvane=$1
tds_server=$2
title='Informações Terminais NAC 3000'
chooser_title='Indique a Localização do Ficheiro a Gravar:'
question_title='O Ficheiro Será Sobreposto:'

source "$(dirname "$0")/x11_session.sh"
screens=${KORVANE_SCREENS:-$work/screens}
mkdir -p "$screens"

for tool in openbox tesseract import convert xdotool xprop; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (bash scripts/setup)"
done
tesseract --list-langs 2>/dev/null | grep -qx por || fail "tesseract has no Portuguese data (tesseract-ocr-por)"

# The text on a screenshot, enlarged on a white margin and read three times, cut to black and
# white at three levels: OCR misses a word at one level that it reads at another, and only the
# lightest cut keeps the grey text of disabled items.
read_text() {
  local png=$1 level
  for level in 50 70 85; do
    convert "$png" -colorspace Gray -bordercolor white -border 20 -resize 300% -threshold "$level%" "$png.$level.png"
    tesseract "$png.$level.png" - -l por 2>/dev/null
  done
}

# screen_reads NAME WINDOW TEXT... [-- ENGLISH...]: takes screenshots of WINDOW (or of the screen
# area given as "WxH+X+Y") until every TEXT is read on one, within 30 s; then no ENGLISH word may
# be on it.
screen_reads() {
  local name=$1 window=$2
  shift 2
  local wanted=() english=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do wanted+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  english=("$@")
  local deadline=$((SECONDS + 30)) attempt=0 text missing
  while :; do
    attempt=$((attempt + 1))
    local png="$screens/$name-$attempt.png"
    if [[ $window == *x*+*+* ]]; then
      import -window root -crop "$window" +repage "$png"
    else
      import -window "$window" "$png"
    fi
    text=$(read_text "$png")
    printf '%s\n' "$text" >"$png.txt"
    missing=()
    for w in "${wanted[@]}"; do grep -qF -- "$w" <<<"$text" || missing+=("$w"); done
    [ ${#missing[@]} -eq 0 ] && break
    [ $SECONDS -lt $deadline ] || fail "$name: not read on the screen within 30 s: ${missing[*]}; read: $(tr '\n' ' ' <<<"$text")"
    sleep 0.3
  done
  for w in "${english[@]}"; do
    if grep -qiwF -- "$w" <<<"$text"; then fail "$name: English '$w' on the screen; read: $(tr '\n' ' ' <<<"$text")"; fi
  done
  echo "   read: ${wanted[*]}"
}

step "openbox"
start_openbox

step "independent TDS server"
start_tds_server "$tds_server" --rows demo --login operador --password segredo

step "the window, in an English locale, started in a folder with a folder and a file"
english_locale=C.UTF-8
locale -a 2>/dev/null | grep -qix 'en_US.utf8' && english_locale=en_US.UTF-8
folder="$work/ficheiros"
mkdir -p "$folder/pasta"
echo '<Vorantis/>' >"$folder/antigo.xml"
(cd "$folder" && exec env LANG=$english_locale LC_ALL=$english_locale LANGUAGE=en "$korvane") &
korvane_pid=$!
pids+=("$korvane_pid")
wid=$(window_named "$title")
type_credentials "$wid" "$server" operador segredo

step "the menu of a field"
# Its text copied and then not selected, so that Colar and Selecionar tudo are enabled too.
click_at "$wid" 240 34
key_in "$wid" ctrl+a
key_in "$wid" ctrl+c
click_at "$wid" 240 34
click_at "$wid" 240 34 3
# The menu is a window of its own, opened at the click: the area of the main window and below it.
eval "$(xdotool getwindowgeometry --shell "$wid")"
screen_reads field-menu "560x300+$X+$Y" Desfazer Cortar Copiar Colar Apagar 'Selecionar tudo' \
  -- Undo Redo Cut Copy Paste Delete Select
xdotool key Escape

step "the chooser"
click_at "$wid" 484 114
dialog=$(window_named "$chooser_title")
# A name that completes to nothing, so no completion list covers the dialog and Guardar is enabled.
type_into "$dialog" novo.xml
screen_reads chooser "$dialog" 'Procurar em' 'Nome do ficheiro' 'Ficheiros do tipo' Guardar Cancelar \
  Nome Tamanho Tipo 'Data de modifica' Pasta \
  -- Look 'File name' 'Files of type' Save Cancel Name Size Type Date Modified Folder AM PM
key_in "$dialog" Return
window_gone "$chooser_title"

step "the overwrite question"
echo '<Vorantis/>' >"$folder/novo.xml"
key_in "$wid" alt+e
question=$(window_named "$question_title")
screen_reads question "$question" 'Pretende Continuar?' Cancelar -- Cancel
key_in "$question" Escape
window_gone "$question_title"

step "a failed save (the path is now a folder)"
rm "$folder/novo.xml"
mkdir "$folder/novo.xml"
key_in "$wid" alt+e
box=$(window_named Korvane)
screen_reads failed-save "$box" 'Não foi possível gravar o ficheiro!' '21 - O caminho é uma pasta' \
  -- directory refers Filename
key_in "$box" Return
window_gone Korvane

step "Alt+F ends the program"
key_in "$wid" alt+f
for _ in $(seq 100); do kill -0 "$korvane_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$korvane_pid" 2>/dev/null && fail "korvane still runs 5 s after Alt+F"

echo "on screen in European Portuguese ($english_locale): the fields' menu, the chooser, the overwrite question, a failed save"

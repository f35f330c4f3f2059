#!/usr/bin/env bash
# Screenshots of the real desktop program under Xvfb with a window manager on a 1366x768 screen.
# In the default theme at one device pixel per pixel: the main window, the notice, the options
# dialog with the security dialog and the hash window, the confirmation window before and after
# an encryption run with the password dialog between, and the same for a decryption run; at two
# device pixels per pixel (QT_SCALE_FACTOR=2, "-2x"): the notice, the options dialog and the
# encryption run. The same windows as the first set in a dark theme ("-dark"): the GTK platform
# theme with Adwaita's dark variant (QT_QPA_PLATFORMTHEME=gtk3, GTK_THEME=Adwaita:dark).
# Needs: scripts/install-deps.sh screenshots, xdotool, a window manager (openbox) and, for the
# dark set, Qt's GTK platform theme (qt6-gtk-platformtheme); without it the dark set is left out.
# Usage: scripts/screenshots.sh QK_BINARY OUTPUT_FOLDER
set -euo pipefail
out=$(realpath -m "$2")
mkdir -p "$out"
work=$(mktemp -d)
# A copy of its own, so that its QK.ini (beside it, as for a portable copy) is this script's.
mkdir -p "$work/bin"
cp "$1" "$work/bin/qk"
qk=$work/bin/qk
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
display=:77
Xvfb $display -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
sleep 1
export DISPLAY=$display LANG=ja_JP.UTF-8 LC_ALL=C.UTF-8
command -v openbox >/dev/null && { openbox >/dev/null 2>&1 & sleep 1; }

shot() { sleep "${2:-1.5}"; import -window root "$out/$1"; }
key() { xdotool key --clearmodifiers "$@"; sleep 0.7; }
start() { "$qk" "$@" >/dev/null 2>&1 & pid=$!; }
stop() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
password() { xdotool type --delay 50 "pw12345678"; key Tab; xdotool type --delay 50 "pw12345678"; }

# The windows in one theme and scale; names end in suffix. all: every window, else the notice,
# the options dialog and the encryption run.
windows() {
  local suffix=$1 all=$2
  printf '[SYSTEM]\nFIRSTEXEC=0\n' > "$work/bin/QK.ini"
  if [ "$all" = all ]; then
    start
    shot "notice$suffix.png" 3
    key Return
    shot "main$suffix.png"
    stop
  fi

  # The options dialog ("-W" alone opens it) and, from its buttons, the security dialog and the
  # hash window.
  start -W
  if [ "$all" = all ]; then sleep 3; else shot "notice$suffix.png" 3; fi
  key Return
  shot "options$suffix.png"
  if [ "$all" = all ]; then
    key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab space # from Close
    shot "security$suffix.png"
    key Escape Tab Tab space
    shot "hash$suffix.png"
    key Escape
  fi
  stop

  # The confirmation window before and after a run over a few files, one of them failing.
  files=$work/files$suffix
  mkdir -p "$files"
  for n in report.txt 写真.jpg "long name of a document that goes on and on for a while.odt"; do
    echo "data of $n" > "$files/$n"
  done
  echo held > "$files/read-only.txt"
  chmod 0444 "$files/read-only.txt"
  start -E -- "$files"
  sleep 3
  key Return # the notice
  shot "confirm-before$suffix.png"
  key Return # OK: the password dialog
  password
  [ "$all" = all ] && shot "password-encrypt$suffix.png"
  key Return
  shot "confirm-after$suffix.png" 3
  stop
  [ "$all" = all ] || return 0

  # The decryption of those containers: hints, and the decrypted names beside them.
  start -D -- "$files"
  sleep 3
  key Return # the notice
  shot "confirm-decrypt-before$suffix.png"
  key Return # OK: the password dialog
  xdotool type --delay 50 "pw12345678"
  shot "password-decrypt$suffix.png"
  key Return
  shot "confirm-decrypt-after$suffix.png" 3
  stop
}

export QT_SCALE_FACTOR=1
windows "" all
export QT_SCALE_FACTOR=2
windows -2x some
export QT_SCALE_FACTOR=1
if ls /usr/lib/*/qt6/plugins/platformthemes/libqgtk3.so >/dev/null 2>&1; then
  export QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark
  windows -dark all
else
  echo "screenshots: no dark set: Qt's GTK platform theme (qt6-gtk-platformtheme) is missing" >&2
fi
ls -l "$out"

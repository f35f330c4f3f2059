#!/usr/bin/env bash
# Screenshots of the real desktop program under Xvfb with a window manager, at one and two device
# pixels per pixel (QT_SCALE_FACTOR=2) on a 1366x768 screen: the pre-release notice, the options
# dialog, and the confirmation window before and after an encryption run.
# Needs: scripts/install-deps.sh screenshots, xdotool and a window manager (openbox).
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

for scale in 1 2; do
  export QT_SCALE_FACTOR=$scale
  printf '[SYSTEM]\nFIRSTEXEC=0\n' > "$work/bin/QK.ini"
  # The notice, then the options dialog ("-W" alone opens it).
  "$qk" -W >/dev/null 2>&1 &
  pid=$!
  shot "notice-${scale}x.png" 3
  key Return
  shot "options-${scale}x.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true

  # The confirmation window before and after a run over a few files, one of them failing.
  files=$work/files-$scale
  mkdir -p "$files"
  for n in report.txt 写真.jpg "long name of a document that goes on and on for a while.odt"; do
    echo "data of $n" > "$files/$n"
  done
  echo held > "$files/read-only.txt"
  chmod 0444 "$files/read-only.txt"
  "$qk" -E -- "$files" >/dev/null 2>&1 &
  pid=$!
  sleep 3
  key Return # the notice
  shot "confirm-before-${scale}x.png"
  key Return # OK: the password dialog
  xdotool type --delay 50 "pw12345678"; key Tab; xdotool type --delay 50 "pw12345678"
  key Return
  shot "confirm-after-${scale}x.png" 3
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done
ls -l "$out"

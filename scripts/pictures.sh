#!/usr/bin/env bash
# Takes the README's pictures of what a user sees, under Xvfb, from the
# examples: the space question, the progress window behind the disk prompt,
# the error box of a damaged setup, and the web installer's question.
# Each is the screen cut down to the windows on it (ImageMagick -trim; Wine
# draws no desktop under a bare Xvfb) and kept small as a 64-colour PNG in
# docs/. Usage: scripts/pictures.sh [OUTDIR]   (default docs/)
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${1:-$top/docs}
mkdir -p "$out"
work=build/pictures
rm -rf "$work"; mkdir -p "$work"
pack=build/host/korvan-pack
robot=build/win64/testkit/msgbox_robot.exe
export KORVAN_WINEPREFIX=$top/build/pictures-prefix
rm -rf "$KORVAN_WINEPREFIX"
scripts/wine-run --init || exit 1
display=$(scripts/wine-run --display)
ARCH=win64 examples/build.sh offline >/dev/null || exit 1
ARCH=win64 KORVAN_EXAMPLE_DOWNLOAD_URL=http://downloads.example.test/korvan-example \
  examples/build.sh web >/dev/null || exit 1
stage=build/examples/offline/stage

# shoot NAME PACKAGE ROBOT-STEPS-BEFORE-THE-PICTURE... -- STEPS-AFTER...
shoot() {
  local name=$1 package=$2; shift 2
  local before=() after=() seen=0
  for a in "$@"; do
    if [ "$a" = "--" ]; then seen=1; elif [ $seen = 0 ]; then before+=("$a"); else after+=("$a"); fi
  done
  local go=$top/$work/$name.go report=$work/$name.json
  scripts/wine-run "$robot" --timeout=60 "${before[@]}" report "hold:Z:$go" "${after[@]}" > "$report" &
  local r=$!
  scripts/wine-run "$package" > /dev/null 2>&1 &
  local s=$!
  for _ in $(seq 300); do [ -s "$report" ] && break; sleep 0.2; done
  sleep 0.5  # the box has painted
  import -display "$display" -window root "$work/$name-screen.png" &&
    convert "$work/$name-screen.png" -trim +repage -colors 64 "PNG8:$out/$name.png" &&
    echo "pictures: $out/$name.png"
  touch "$go"
  wait $r; wait $s
}

# The space question of the offline setup.
shoot question build/examples/offline/KorvanExampleSetup.exe -- press-caption:"&No"

# The progress window: shown for a second before the extraction starts and
# a second after it ends. A file of a few megabytes of varied bytes makes
# the bar move meanwhile; frames are taken while it shows.
mkdir -p "$work/progress/stage"
cp "$stage"/* "$work/progress/stage/"
head -c 24000000 /dev/urandom > "$work/progress/stage/data.bin"
"$pack" build examples/offline/project.ini --dir "$work/progress/stage" --stub build/win64/stub.exe \
  --out "$work/progress/KorvanExampleSetup.exe" --announce-temp-drive=0 data.bin >/dev/null || exit 1
scripts/wine-run "$work/progress/KorvanExampleSetup.exe" > /dev/null 2>&1 &
s=$!
for i in $(seq 20); do
  sleep 0.25
  import -display "$display" -window root "$work/progress-$i.png" 2>/dev/null
done
wait $s
# The frame with the most drawn on it: the window with its bar part-filled.
best=$(for f in "$work"/progress-*.png; do
  echo "$(convert "$f" -trim -format '%w' info: 2>/dev/null || echo 0) $f"; done | sort -n | tail -1 | cut -d' ' -f2)
[ -n "$best" ] && convert "$best" -trim +repage -colors 64 "PNG8:$out/progress.png" && echo "pictures: $out/progress.png"

# The prompt for the second disk: a spanned
# setup whose second volume is not beside the first.
mkdir -p "$work/disk"
"$pack" build examples/offline/project.ini --dir "$stage" --stub build/win64/stub.exe \
  --out "$work/disk/KorvanExampleSetup.exe" --announce-temp-drive=0 --volume-size 260000 >/dev/null || exit 1
mkdir -p "$work/disk2" && mv "$work/disk/KorvanExampleSetup.exe.002" "$work/disk2/"
shoot disk-prompt "$work/disk/KorvanExampleSetup.exe" -- press-caption:"&Cancel"

# The error of a damaged setup (its last bytes cut off).
mkdir -p "$work/damaged"
"$pack" build examples/offline/project.ini --dir "$stage" --stub build/win64/stub.exe \
  --out "$work/damaged/KorvanExampleSetup.exe" --announce-temp-drive=0 >/dev/null || exit 1
truncate -s -5000 "$work/damaged/KorvanExampleSetup.exe"
shoot error "$work/damaged/KorvanExampleSetup.exe" -- press:1

# The web installer's question before it downloads.
shoot download-question build/examples/web/KorvanExampleWebSetup.exe -- press-caption:"&No"

scripts/wine-run --kill

#!/usr/bin/env bash
# Builds the examples with korvan-pack, each with one command:
#
#   examples/build.sh offline   an offline setup: build/examples/offline/KorvanExampleSetup.exe
#   examples/build.sh web       a web installer and the setup package it downloads:
#                               build/examples/web/KorvanExampleWebSetup.exe and
#                               build/examples/web/pub/KorvanExampleFull.exe
#   examples/build.sh update    a published update: build/examples/update/pub/ with the
#                               update package and its information file korvan-example.info
#   examples/build.sh all       the three
#
# Environment: ARCH=win32 (the shipped 32-bit stub, the default) or win64;
# KORVAN_EXAMPLE_UPDATE_URL, KORVAN_EXAMPLE_DOWNLOAD_URL: the web folders the
# agent and the web installer use (example.test addresses by default);
# KORVAN_EXAMPLE_OUT: the output folder (build/examples).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=${ARCH:-win32}
pack=${KORVAN_PACK:-$top/build/host/korvan-pack}
out=${KORVAN_EXAMPLE_OUT:-$top/build/examples}
stub=$top/build/$arch/stub.exe
setup=$top/build/$arch/examples/example_setup.exe
ex=$top/examples
for f in "$pack" "$stub" "$setup"; do
  [ -e "$f" ] || { echo "examples: $f is missing; run make build first" >&2; exit 1; }
done
update_url=(); download_url=()
[ -n "${KORVAN_EXAMPLE_UPDATE_URL:-}" ] && update_url=(--update-url "$KORVAN_EXAMPLE_UPDATE_URL")
[ -n "${KORVAN_EXAMPLE_DOWNLOAD_URL:-}" ] && download_url=(--download-url "$KORVAN_EXAMPLE_DOWNLOAD_URL")

# A folder with the example's files and the setup program: the package takes
# plain names from one folder.
stage() {
  local dir=$1; shift
  rm -rf "$dir"; mkdir -p "$dir"
  cp "$setup" "$dir/"
  for src in "$@"; do cp "$src"/* "$dir/"; done
}

offline() {
  local o=$out/offline
  stage "$o/stage" "$ex/offline/files"
  "$pack" build "$ex/offline/project.ini" --dir "$o/stage" --stub "$stub" \
    --out "$o/KorvanExampleSetup.exe" "${update_url[@]}"
  "$pack" verify "$o/KorvanExampleSetup.exe"
}

web() {
  local o=$out/web
  stage "$o/stage" "$ex/offline/files"
  mkdir -p "$o/pub"
  "$pack" build "$ex/offline/project.ini" --dir "$o/stage" --stub "$stub" \
    --out "$o/pub/KorvanExampleFull.exe" --download-token korvan-example-download-token "${update_url[@]}"
  "$pack" build "$ex/web/project.ini" --stub "$stub" --out "$o/KorvanExampleWebSetup.exe" "${update_url[@]}" \
    --download-package "$o/pub/KorvanExampleFull.exe" "${download_url[@]}"
  "$pack" verify "$o/pub/KorvanExampleFull.exe"
  "$pack" verify "$o/KorvanExampleWebSetup.exe"
}

# The update: a package of the same product (same agent token) with version 2
# of the files, and the information file that the installed agent fetches
# from its update address. Both go into pub/, the folder to publish there.
update() {
  local o=$out/update
  local url=${KORVAN_EXAMPLE_UPDATE_URL:-http://updates.example.test/korvan-example}
  stage "$o/stage" "$ex/offline/files" "$ex/update/files"
  mkdir -p "$o/pub"
  # No space question: the agent runs the update while the user works.
  "$pack" build "$ex/offline/project.ini" --dir "$o/stage" --stub "$stub" \
    --out "$o/pub/KorvanExampleUpdate.exe" --announce-temp-drive=0 "${update_url[@]}"
  "$pack" verify "$o/pub/KorvanExampleUpdate.exe"
  # Version 2 for installs of version 1; the product has no program of its
  # own to stop. A new --stamp makes the agent offer an update again to
  # users who declined it.
  "$pack" info --out "$o/pub/korvan-example.info" --update "$o/pub/KorvanExampleUpdate.exe" \
    --download-url "$url" --version-new 2 --stamp 2 --valid-versions 1 --shutdown none \
    --program-name "Korvan Example" --agent-token korvan-example-agent-token
}

case "${1:-all}" in
  offline) offline ;;
  web) web ;;
  update) update ;;
  all) offline; web; update ;;
  *) echo "usage: examples/build.sh offline|web|update|all" >&2; exit 2 ;;
esac

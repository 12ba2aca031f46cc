#!/usr/bin/env bash
# Builds the example package (examples/project.ini) onto the x86_64 stub and
# shows what it carries. Expects `make build` to have run.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
pack=build/host/korvan-pack
[ -x "$pack" ] || { echo "demo: $pack is missing; run make build" >&2; exit 1; }
[ -f build/win64/stub.exe ] || { echo "demo: build/win64/stub.exe is missing; run make build" >&2; exit 1; }

"$pack" build examples/project.ini
"$pack" verify build/korvan-demo.exe
"$pack" inspect build/korvan-demo.exe
echo
echo "Run it under Wine: scripts/wine-run build/korvan-demo.exe"

#!/usr/bin/env bash
# Builds the offline example (examples/offline) with korvan-pack and runs it
# under Wine, headless: the message-box robot answers the stub's question, a
# picture of it is kept under build/screens/, and the installed product folder
# is listed.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
pack=build/host/korvan-pack
demo=build/examples/offline/KorvanExampleSetup.exe
screens=build/screens
mkdir -p "$screens"

echo "== examples/build.sh offline (korvan-pack build examples/offline/project.ini, then verify)"
# The 64-bit twin of the stub: 32-bit Wine cannot run on every machine.
ARCH=win64 examples/build.sh offline || exit 1
echo "== korvan-pack inspect $demo"
"$pack" inspect "$demo"

export KORVAN_WINEPREFIX=$top/build/demo-prefix
scripts/wine-run --init
echo "== running $demo under Wine (the robot answers Yes to the space question)"
rm -f "$screens/.demo-go"
scripts/wine-run build/win64/testkit/msgbox_robot.exe --timeout=60 report "hold:Z:$top/$screens/.demo-go" \
  press-caption:"&Yes" > build/demo-robot.json &
robot=$!
scripts/wine-run "$demo" > build/demo-trace.txt 2>&1 &
stub=$!
for _ in $(seq 300); do
  [ -s build/demo-robot.json ] && break
  sleep 0.2
done
import -display "$(scripts/wine-run --display)" -window root "$screens/demo-question.png" 2>/dev/null && \
  echo "   picture of the question: $screens/demo-question.png"
touch "$screens/.demo-go"
wait $robot
wait $stub
rc=$?
echo "== the question the stub asked"
cat build/demo-robot.json
echo
echo "== stub exit code $rc"
product=$(ls -d "$KORVAN_WINEPREFIX"/drive_c/users/*/AppData/Local/"Korvan Example" 2>/dev/null | head -1)
echo "== the installed product folder: $product"
ls -l "$product"
# The example setup started the installed update agent, which keeps running
# in the background as X_KorvanExampleAgent.exe; /STOP=0 ends it.
if [ -n "$product" ] && [ -f "$product/KorvanExampleAgent.exe" ]; then
  scripts/wine-run "$product/KorvanExampleAgent.exe" /STOP=0 >/dev/null 2>&1
fi
timeout 60 scripts/wine-run --shutdown || scripts/wine-run --kill
exit $rc

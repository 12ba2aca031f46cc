#!/usr/bin/env bash
# Builds the example setup package from examples/ with korvan-pack and runs it
# under Wine, headless: the message-box robot answers the stub's question and a
# picture of it is kept under build/screens/.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
pack=build/host/korvan-pack
demo=build/korvan-demo.exe
screens=build/screens
mkdir -p "$screens"

echo "== korvan-pack build examples/project.ini"
"$pack" build examples/project.ini || exit 1
echo "== korvan-pack verify $demo"
"$pack" verify "$demo" || exit 1
echo "== korvan-pack inspect $demo"
"$pack" inspect "$demo"

export KORVAN_WINEPREFIX=$top/build/demo-prefix
scripts/wine-run --init
echo "== running $demo under Wine (the robot answers Yes to the space question)"
rm -f "$screens/.demo-go"
scripts/wine-run build/win64/testkit/msgbox_robot.exe --timeout=60 report "hold:Z:$top/$screens/.demo-go" \
  press-caption:"&Yes" > build/demo-robot.json &
robot=$!
scripts/wine-run "$demo" /demo-run > build/demo-trace.txt 2>&1 &
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
echo "== what the stub and the setup wrote"
cat build/demo-trace.txt
echo "== stub exit code $rc"
scripts/wine-run --shutdown
exit $rc

#!/usr/bin/env bash
# Runs every suite: the host unit tests, the Win32 unit tests under Wine and the
# end-to-end scenarios, then prints one line "N passed, N failed" for them all.
# Expects `make build` to have run.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
reports=build/test-reports
rm -rf "$reports"
mkdir -p "$reports"
status=0

echo "== host unit tests"
ctest --test-dir build/host --output-on-failure -j2 --output-junit "$top/$reports/host.xml" || status=1

echo "== Win32 unit tests under Wine"
scripts/wine-run --init
if ! GTEST_OUTPUT="xml:Z:$top/$reports/win64-gtest.xml" ctest --test-dir build/win64 --output-on-failure; then
  status=1
  # A binary that died leaves no report of its own: count it as one failure.
  [ -s "$reports/win64-gtest.xml" ] || \
    echo '<testsuites><testcase name="win_unit_tests"><failure/></testcase></testsuites>' > "$reports/win64-gtest.xml"
fi

echo "== end-to-end scenarios under Wine"
if ls tests/e2e/test_*.py >/dev/null 2>&1; then
  /usr/bin/python3 -m pytest tests/e2e -q -p no:cacheprovider -n 2 --junitxml="$reports/e2e.xml"
  rc=$?
  # 5: no tests collected, not a failure of the suite.
  [ $rc -eq 0 ] || [ $rc -eq 5 ] || status=1
fi

scripts/wine-run --shutdown
scripts/wine-run --stop-display

/usr/bin/python3 scripts/summarize-tests.py "$reports" || status=1
exit $status

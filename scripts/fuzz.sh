#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (default 60),
# starting from the seeds in fuzz/corpus/<target>/. Prints the executions of
# each; exits 1 when any target found a crash, a leak or a sanitizer report,
# whose input is kept under build/fuzz/artifacts/.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${FUZZ_SECONDS:-60}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVAN_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" >/dev/null || exit 1
cmake --build build/fuzz -j"${JOBS:-2}" || exit 1

status=0
mkdir -p build/fuzz/artifacts
printf '%-20s %12s  %s\n' target executions result
for exe in build/fuzz/fuzz/Fuzz*; do
  name=$(basename "$exe")
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  log=build/fuzz/$name.log
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -artifact_prefix="build/fuzz/artifacts/$name-" "$work" "fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'Done [0-9]* runs' "$log" | grep -o '[0-9]*' | tail -1)
  if [ $rc -eq 0 ]; then
    printf '%-20s %12s  %s\n' "$name" "${runs:-?}" "no crash"
  else
    printf '%-20s %12s  %s\n' "$name" "${runs:-?}" "FAILED (exit $rc), see $log"
    status=1
  fi
done
exit $status

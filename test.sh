#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: a plain build, then
# the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, then the
# threaded tests under ThreadSanitizer. CI runs exactly this.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-packages.sh
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=address -DVISTREL_WITH_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE no-asan

echo "== ThreadSanitizer (threaded tests)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=thread -DVISTREL_WITH_UI=OFF -DVISTREL_WITH_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L threaded

echo "== fuzzing (20 s per target)"
tools/run-fuzzers.sh 20

echo "== Debian package"
deb="$(tools/build-deb.sh build | tail -n 1)"
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  tools/test-deb.sh "$deb"
else
  echo "not root with apt: $deb is built and checked, not installed"
fi

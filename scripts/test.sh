#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

run_suite() {  # build-dir, extra cmake args...
  local dir=$1; shift
  # A warning of the project's own code fails the build here, not in a user's build.
  cmake -S . -B "$dir" -G Ninja -DJUMELIX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp}

echo "== Construction normale et tests"
run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== Construction avec ASan + UBSan et tests"
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DJUMELIX_SANITIZE=ON
echo "== Moteur sous ThreadSanitizer (ses fils de travail)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUMELIX_TSAN=ON -DJUMELIX_WERROR=ON \
  -DJUMELIX_GUI=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target engine_tests platform_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -L 'engine|platform')
echo "== Fuzzing des lecteurs (30 s par cible, ASan + UBSan)"
scripts/fuzz.sh 30
echo "== Paquet Debian : construction, installation, essais, désinstallation"
scripts/package-test.sh
echo "Tous les tests sont passés."

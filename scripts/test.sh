#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the optimised build
# the Debian package is made from, and in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer. Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
source scripts/construction.sh
jobs=$(nproc)
debut=$SECONDS
etape() {  # title of the next stage; the one before is told how long it took
  [ -z "${etape_en_cours:-}" ] || echo "   ($etape_en_cours : $((SECONDS - etape_debut)) s)"
  etape_en_cours=$1
  etape_debut=$SECONDS
  echo "== $1"
}

tester() {  # build-dir [tests at a time]
  cmake --build "$1" -j "$jobs"
  (cd "$1" && ctest --output-on-failure -j "${2:-$jobs}")
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp}

# A warning of the project's own code fails the build here, not in a user's build.
etape "Construction optimisée (celle du paquet) et tests"
# The test binaries are compiled in batches (JUMELIX_UNITY_TESTS), as the layers are
# (configurer_paquet): a fresh clone's build parses each header once per batch rather than
# once per file. The test programs need no debug information (JUMELIX_TESTS_NO_DEBUG_INFO):
# a failure names its assertion's file and line, and what ships keeps Debian's flags.
configurer_paquet build-package -DJUMELIX_TESTS=ON -DJUMELIX_UNITY_TESTS=ON \
  -DJUMELIX_TESTS_NO_DEBUG_INFO=ON
# Its tests leave the processors half idle (they wait on child processes, sockets, the
# disk): twice as many at a time as there are processors. The ASan + UBSan run below keeps
# one per processor, its tests being bound by the processor.
tester build-package $((2 * jobs))
etape "Construction avec ASan + UBSan et tests"
# Debug's -O0: measured on a fresh clone, -O1 ran the tests 63 s faster but compiled 140 s
# slower. Line tables only (-g1): the sanitizers' stacks keep their file:line, and the
# build skips the full debug information it would otherwise compile and link.
cmake -S . -B build-asan -G Ninja -DJUMELIX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DJUMELIX_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DJUMELIX_UNITY_LIBS=ON -DJUMELIX_UNITY_TESTS=ON \
  "${lanceur_ccache[@]}" >/dev/null
tester build-asan
etape "Moteur sous ThreadSanitizer (ses fils de travail)"
# Line tables (-g1) are what ThreadSanitizer's reports print.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUMELIX_TSAN=ON -DJUMELIX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DJUMELIX_GUI=OFF \
  -DJUMELIX_UNITY_LIBS=ON -DJUMELIX_UNITY_TESTS=ON "${lanceur_ccache[@]}" >/dev/null
cmake --build build-tsan -j "$jobs" --target engine_tests platform_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -L 'engine|platform')
# The seven targets side by side for 75 s in all (over 20 s of a processor each on two)
# rather than four rounds of 30 s, two at a time.
etape "Fuzzing des lecteurs (75 s, les 7 cibles côte à côte, ASan + UBSan)"
FUZZ_A_LA_FOIS=7 scripts/fuzz.sh 75
etape "Paquet Debian : construction, installation, essais, désinstallation"
scripts/package-test.sh
etape "Fin"
echo "Tous les tests sont passés en $(((SECONDS - debut) / 60)) min $(((SECONDS - debut) % 60)) s."

#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test in clang's build with
# AddressSanitizer and UndefinedBehaviorSanitizer (which also has the fuzz targets), and
# in the optimised build the Debian package is made from, what depends on the code as it
# ships: the engine's tests (its workers at full speed), the end-to-end tests (the real
# programs) and the small-scale benchmark (mirrors checked by rsync); then the engine and
# platform tests under ThreadSanitizer, the fuzz targets and the package test. Each stage
# says how long it took.
#
# A build that is not needed yet runs in the background while the tests of the build
# before it run: the tests leave the processors partly idle (they wait on child processes,
# sockets, the disk), and the build takes that idle time. It runs in the idle scheduling
# class (SCHED_IDLE), so that it takes nothing the tests would otherwise get, whose time
# limits stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
source scripts/construction.sh
jobs=$(nproc)
# The build in the foreground runs two more compilations than there are processors, as
# ninja does by itself: while one waits on the disk or links alone, the processors still
# have work. The builds in the background keep one per processor: with more, the tests
# beside them took longer than the builds gained.
jobs_construction=$((jobs + 2))
debut=$SECONDS
etape() {  # title of the next stage; the one before is told how long it took
  [ -z "${etape_en_cours:-}" ] || echo "   ($etape_en_cours : $((SECONDS - etape_debut)) s)"
  etape_en_cours=$1
  etape_debut=$SECONDS
  echo "== $1"
}

# Background stages: their output goes to build-journaux/<name>.log; attendre prints how
# long the stage took, and its log followed by a failure when it failed. Each runs in a
# session of its own, which the script ends if it stops first (a failed test).
mkdir -p build-journaux
ralenti=()
chrt -i 0 true 2>/dev/null && ralenti=(chrt -i 0)
fonds=()
en_fond() {  # [--priorite-normale] name command...
  local priorite=("${ralenti[@]}")
  if [ "$1" = --priorite-normale ]; then priorite=(); shift; fi
  local nom=$1; shift
  rm -f "build-journaux/$nom.fin"
  setsid -w bash -c 'd=$SECONDS; rc=0; "${@:2}" >"build-journaux/$1.log" 2>&1 || rc=$?
    echo "$rc $((SECONDS - d))" >"build-journaux/$1.fin"' _ "$nom" "${priorite[@]}" "$@" &
  eval "pid_$nom=$!"
  fonds+=("$nom")
}
arreter_fonds() {
  local nom pid_var
  for nom in "${fonds[@]}"; do
    pid_var="pid_$nom"
    [ -f "build-journaux/$nom.fin" ] || kill -TERM -- "-${!pid_var}" 2>/dev/null || true
  done
}
trap 'arreter_fonds; nettoyer_arbres' EXIT
attendre() {  # name title
  local pid_var="pid_$1" rc duree
  wait "${!pid_var}" || true
  read -r rc duree <"build-journaux/$1.fin"
  echo "   ($2, en arrière-plan : $duree s)"
  if [ "$rc" -ne 0 ]; then
    cat "build-journaux/$1.log"
    echo "ÉCHEC : $2 (code $rc)" >&2
    exit 1
  fi
}

# The tests' temporary trees go to an ext4 file system of their own, held in memory (an
# image under /dev/shm, mounted through a loop device): a synchronisation ends by flushing
# its destination's file system, and on the disk's file system that flush waits for every
# object file the builds in the background have written. The walk is still tested on ext4.
# Without root, or without a loop device, the trees stay under $TMPDIR.
arbres_image=
arbres_point=
arbres_en_memoire() {
  [ "$(id -u)" -eq 0 ] && [ -d /dev/shm ] && command -v mkfs.ext4 >/dev/null || return 0
  arbres_image=$(mktemp /dev/shm/jumelix-tests-XXXXXX.img) || return 0
  arbres_point=$(mktemp -d /tmp/jumelix-tests-XXXXXX)
  if truncate -s 4G "$arbres_image" && mkfs.ext4 -q -F -i 8192 "$arbres_image" &&
    mount -o loop,discard "$arbres_image" "$arbres_point"; then
    chmod 1777 "$arbres_point"
    export TMPDIR=$arbres_point
  else
    nettoyer_arbres
  fi
}
nettoyer_arbres() {
  [ -n "$arbres_point" ] || return 0
  umount "$arbres_point" 2>/dev/null || umount -l "$arbres_point" 2>/dev/null || true
  rm -f "$arbres_image"
  rmdir "$arbres_point" 2>/dev/null || true
  arbres_point=
}
arbres_en_memoire

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp}

# The test builds link with mold (scripts/deps.sh), several times faster than GNU ld on the
# large test programs; the programs that ship keep the default linker.
mold=()
command -v mold >/dev/null && mold=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=mold)

# A warning of the project's own code fails the build here, not in a user's build.
etape "Construction optimisée (celle du paquet)"
# The test binaries are compiled in batches (JUMELIX_UNITY_TESTS), as the layers are
# (configurer_paquet): a fresh clone's build parses each header once per batch rather than
# once per file. The test programs need no debug information (JUMELIX_TESTS_NO_DEBUG_INFO):
# a failure names its assertion's file and line. They are compiled at -O0 rather than the
# package's -O3 (JUMELIX_TESTS_O0), in about a third of the time, and linked with mold
# (JUMELIX_TESTS_LINKER): the layers and the programs they test, jumelix and
# jumelix-fenetre, keep Debian's flags and linker, as what ships.
tests_mold=()
command -v mold >/dev/null && tests_mold=(-DJUMELIX_TESTS_LINKER=mold)
# The other test folders (platform, shared, net, smtp, app, mail, gui) run under the
# sanitizers only: compiling and running them here too took over three minutes of
# processor time, for code the sanitizer build runs through the same tests.
configurer_paquet build-package -DJUMELIX_TESTS=ON -DJUMELIX_UNITY_TESTS=ON \
  -DJUMELIX_TESTS_DOSSIERS="engine;e2e" \
  -DJUMELIX_TESTS_NO_DEBUG_INFO=ON -DJUMELIX_TESTS_O0=ON "${tests_mold[@]}"
cmake --build build-package -j "$jobs_construction"

# The sanitizer build is clang's, and it builds the fuzz targets too (JUMELIX_FUZZ): its
# layers carry the fuzzer's coverage counters beside ASan + UBSan, which the test programs
# ignore, so one build serves both where two (GCC's, then clang's) took about twice the
# processor time. Debug's -O0: measured on a fresh clone, -O1 ran the tests 63 s faster but
# compiled 140 s slower. Line tables only (-g1): the sanitizers' stacks keep their
# file:line, and the build skips the full debug information it would otherwise compile and
# link.
clang=clang++-14
command -v "$clang" >/dev/null || clang=clang++
CXX=$clang cmake -S . -B build-asan -G Ninja -DJUMELIX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
  -DJUMELIX_SANITIZE=ON -DJUMELIX_FUZZ=ON -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DJUMELIX_UNITY_LIBS=ON \
  -DJUMELIX_UNITY_TESTS=ON "${mold[@]}" "${lanceur_ccache[@]}" >/dev/null
en_fond asan cmake --build build-asan -j "$jobs"

etape "Tests de la construction optimisée (construction ASan + UBSan en arrière-plan)"
# These tests leave the processors half idle: twice as many at a time as there are
# processors.
(cd build-package && ctest --output-on-failure -j $((2 * jobs)))
etape "Fin de la construction avec ASan + UBSan"
attendre asan "construction ASan + UBSan"

# Line tables (-g1) are what ThreadSanitizer's reports print. clang's build takes two
# thirds of GCC's processor time.
CXX=$clang cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJUMELIX_TSAN=ON -DJUMELIX_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DJUMELIX_GUI=OFF \
  -DJUMELIX_UNITY_LIBS=ON -DJUMELIX_UNITY_TESTS=ON "${mold[@]}" "${lanceur_ccache[@]}" >/dev/null
en_fond tsan cmake --build build-tsan -j "$jobs" --target engine_tests platform_tests

etape "Tests sous ASan + UBSan (construction TSan en arrière-plan)"
# One test per processor: under the sanitizers the tests are bound by the processor. The
# small-scale benchmark checks its script and the mirrors it makes, which the optimised
# build's run did: here it would time tools under the sanitizers for nothing.
(cd build-asan && ctest --output-on-failure -j "$jobs" -LE bench)
etape "Moteur sous ThreadSanitizer (ses fils de travail) ; paquet Debian en arrière-plan"
# The package test mostly waits (apt-get, dpkg, the window's start): it runs beside the
# ThreadSanitizer tests and the fuzzing, at the usual priority.
en_fond --priorite-normale paquet scripts/package-test.sh
attendre tsan "construction ThreadSanitizer"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -L 'engine|platform')
# The seven targets side by side for 30 s in all (about 8 s of a processor each on two,
# after their seeds, which every run reads again; a longer search is scripts/fuzz.sh's,
# run by hand) rather than four rounds of 30 s, two at a time. At the usual priority:
# fuzzers in the idle class got a tenth of their executions on a machine busy with other
# work, their 30 s being counted on the clock.
etape "Fuzzing des lecteurs (30 s, les 7 cibles côte à côte, ASan + UBSan) et fin du paquet Debian"
fuzz=0
FUZZ_CONSTRUCTION=build-asan FUZZ_A_LA_FOIS=7 scripts/fuzz.sh 30 || fuzz=$?
attendre paquet "paquet Debian : construction, installation, essais, désinstallation"
cat build-journaux/paquet.log
[ "$fuzz" -eq 0 ] || exit "$fuzz"
etape "Fin"
echo "Tous les tests sont passés en $(((SECONDS - debut) / 60)) min $(((SECONDS - debut) % 60)) s."

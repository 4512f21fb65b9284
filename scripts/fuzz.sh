#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/, then runs each one
# for the given number of seconds (30 by default), side by side up to the number of
# processors (or FUZZ_A_LA_FOIS), starting from its seeds in fuzz/corpus/<target>/. New
# inputs go to a scratch corpus, never into the repository. A crash makes the script end
# with a non-zero status once every target has run; the input is kept as
# <build>/crash-<target>-* for the regression test.
#   scripts/fuzz.sh [seconds] [target...]
#   scripts/fuzz.sh --construire   (builds the targets only)
#   FUZZ_CONSTRUCTION=<dir> scripts/fuzz.sh [seconds] [target...]
#       runs the targets of a clang build configured with JUMELIX_FUZZ=ON, without
#       building them (scripts/test.sh: its sanitizer build, which has them)
set -euo pipefail
cd "$(dirname "$0")/.."
construire_seulement=0
if [ "${1:-}" = --construire ]; then construire_seulement=1; shift; fi
secondes=${1:-30}
shift || true
source scripts/construction.sh
dir=${FUZZ_CONSTRUCTION:-build-fuzz}

if [ -z "${FUZZ_CONSTRUCTION:-}" ]; then
  cxx=${CXX_FUZZ:-clang++-14}
  command -v "$cxx" >/dev/null || cxx=clang++
  # Line tables (-g1) are all a crash report needs for its file:line stack; the layers are
  # compiled in batches (JUMELIX_UNITY_LIBS), each batch parsing the headers once.
  CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DJUMELIX_UNITY_LIBS=ON \
    -DJUMELIX_FUZZ=ON -DJUMELIX_GUI=OFF -DJUMELIX_TESTS=OFF -DJUMELIX_WERROR=ON \
    "${lanceur_ccache[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target jumelix_fuzz
fi
[ "$construire_seulement" -eq 0 ] || exit 0

cibles=("$@")
if [ ${#cibles[@]} -eq 0 ]; then
  cibles=(fuzz_lignes fuzz_liste fuzz_config fuzz_motdepasse fuzz_base64 fuzz_reponse_smtp
    fuzz_dialogue_smtp)
fi

# Two targets write a file per input: on a RAM file system they run a hundred times faster.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
travail=$(mktemp -d)
trap 'rm -rf "$travail"' EXIT

# The targets run side by side, at most one per processor; each one's status and output
# are kept apart and reported in the order of the list once all have ended.
lancer() {  # target
  local c=$1 rc=0
  mkdir -p "$travail/$c"
  "$dir/$c" -max_total_time="$secondes" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/crash-$c-" \
    "$travail/$c" "fuzz/corpus/$c" 2>"$travail/$c.log" || rc=$?
  echo "$rc" >"$travail/$c.rc"
}
# FUZZ_A_LA_FOIS runs more side by side (scripts/test.sh: all of them, for a total time).
paralleles=${FUZZ_A_LA_FOIS:-$(nproc)}
echo "== ${#cibles[@]} cibles, $secondes s chacune, $paralleles à la fois"
for c in "${cibles[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$paralleles" ]; do wait -n || true; done
  lancer "$c" &
done
wait

echecs=()
for c in "${cibles[@]}"; do
  echo "== $c"
  if [ "$(cat "$travail/$c.rc" 2>/dev/null || echo absent)" != 0 ]; then
    tail -n 60 "$travail/$c.log"
    echecs+=("$c")
  else
    grep -E "^stat::number_of_executed_units|^Done" "$travail/$c.log" || true
  fi
done
if [ ${#echecs[@]} -ne 0 ]; then
  for c in "${echecs[@]}"; do
    echo "ÉCHEC : $c a trouvé un défaut (entrée gardée dans $dir/crash-$c-*)" >&2
  done
  exit 1
fi
echo "Aucun défaut trouvé."

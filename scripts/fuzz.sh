#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/, then runs each one
# for the given number of seconds (30 by default), starting from its seeds in
# fuzz/corpus/<target>/. New inputs go to a scratch corpus, never into the repository.
# A crash stops the script with a non-zero status; the input is kept as
# build-fuzz/crash-<target>-* for the regression test.
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
secondes=${1:-30}
shift || true
cxx=${CXX_FUZZ:-clang++-14}
command -v "$cxx" >/dev/null || cxx=clang++
dir=build-fuzz

CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DJUMELIX_FUZZ=ON -DJUMELIX_GUI=OFF -DJUMELIX_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target jumelix_fuzz

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
for c in "${cibles[@]}"; do
  echo "== $c ($secondes s)"
  mkdir -p "$travail/$c"
  "$dir/$c" -max_total_time="$secondes" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/crash-$c-" \
    "$travail/$c" "fuzz/corpus/$c" 2>"$travail/$c.log" || {
    tail -n 60 "$travail/$c.log"
    echo "ÉCHEC : $c a trouvé un défaut (entrée gardée dans $dir/crash-$c-*)" >&2
    exit 1
  }
  grep -E "^stat::number_of_executed_units|^Done" "$travail/$c.log" || true
done
echo "Aucun défaut trouvé."

#!/usr/bin/env bash
# Banc d'essai de l'archive : une synchronisation qui supprime 10 000 fichiers, avec
# l'archive (chaque entrée déplacée dans .jumelix-archive) et sans (supprimée), sur le même
# disque, médiane de BENCH_REPEAT mesures, cache chaud puis froid si root peut le vider.
# Deux formes : 10 000 fichiers dans 100 répertoires supprimés entiers, et 10 000 fichiers
# d'un seul répertoire supprimés un à un. Voir la fin de bench/README.md.
#
# Variables :
#   BENCH_N=10000     fichiers supprimés par mesure
#   BENCH_REPEAT=3    mesures par cas (médiane retenue)
#   BENCH_CACHE=auto  chaud, froid, "chaud froid" ; auto : les deux si le cache peut être vidé
#   BENCH_DIR=...     dossier de travail (défaut bench/work-archive, supprimé à la fin)
#   BENCH_BIN=...     jumelix_bench déjà construit (sinon construit dans build-bench)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
N=${BENCH_N:-10000}
REPEAT=${BENCH_REPEAT:-3}
CACHE=${BENCH_CACHE:-auto}
WORK=${BENCH_DIR:-$ROOT/bench/work-archive}
BIN=${BENCH_BIN:-}

if [ -z "$BIN" ]; then
  cmake -S "$ROOT" -B "$ROOT/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DJUMELIX_GUI=OFF -DJUMELIX_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-bench" --target jumelix_bench -j2
  BIN=$ROOT/build-bench/jumelix_bench
fi
[ -x "$BIN" ] || { echo "jumelix_bench introuvable : $BIN" >&2; exit 1; }

vider_cache() { sync && echo 3 >/proc/sys/vm/drop_caches; }
if [ "$CACHE" = auto ]; then
  if vider_cache 2>/dev/null; then CACHE="chaud froid"; else CACHE=chaud; fi
fi

rm -rf "$WORK"
mkdir -p "$WORK/src"
trap 'rm -rf "$WORK"' EXIT
# The source keeps one file (an empty source would stop the pair: unmounted disk guard) and
# an empty directory "plat", whose 10 000 files in the destination go one by one.
echo garde >"$WORK/src/garde"
mkdir "$WORK/src/plat"

# Templates of the destination: the kept file plus N files to delete (1 KiB each).
modele() {  # name directories
  local d=$WORK/modele-$1 reps=$2 i
  mkdir -p "$d"
  cp -a "$WORK/src/garde" "$d/"
  python3 - "$d" "$N" "$reps" <<'PY'
import os, sys
racine, n, reps = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
donnee = os.urandom(1024)
for i in range(n):
    rep = os.path.join(racine, "r%03d" % (i % reps)) if reps > 1 else os.path.join(racine, "plat")
    os.makedirs(rep, exist_ok=True)
    with open(os.path.join(rep, "f%05d" % i), "wb") as f:
        f.write(donnee)
PY
}
modele arbre 100
modele plat 1

mediane() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Times one synchronisation of a fresh copy of the template; prints the seconds.
mesure() {  # forme mode jours
  local forme=$1 mode=$2 jours=$3 cible=$WORK/cible debut fin sortie
  rm -rf "$cible"
  cp -a "$WORK/modele-$forme" "$cible"
  sync
  if [ "$mode" = froid ]; then
    vider_cache
  else
    find "$cible" "$WORK/src" -printf '%s %T@\n' >/dev/null
  fi
  debut=$(date +%s.%N)
  sortie=$("$BIN" sync "$WORK/src" "$cible" --archive "$jours")
  fin=$(date +%s.%N)
  case "$sortie" in
    "lignes=0 resultat=0 copies=0 supprimes=$N identiques=1") ;;
    *) echo "Résultat inattendu ($forme, $jours jours) : $sortie" >&2; exit 1 ;;
  esac
  if [ "$jours" != 0 ] && [ "$(find "$cible/.jumelix-archive" -type f | wc -l)" != "$N" ]; then
    echo "Archive incomplète ($forme)" >&2
    exit 1
  fi
  awk -v a="$debut" -v b="$fin" 'BEGIN { printf "%.3f\n", b - a }'
}

echo "== Archive : suppression de $N fichiers — $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine : $(nproc) cœurs, noyau $(uname -r) ; disque : $(findmnt -n -o FSTYPE --target "$WORK" 2>/dev/null || echo '?')"
echo "Médiane de $REPEAT mesures, cache : $CACHE"
printf '%-7s %-34s %12s %12s %8s\n' cache forme "sans (s)" "avec (s)" rapport
for mode in $CACHE; do
  for forme in arbre plat; do
    sans=()
    avec=()
    # Alternated, so that a change of the machine's load weighs on both alike.
    for ((k = 0; k < REPEAT; k++)); do
      sans+=("$(mesure "$forme" "$mode" 0)")
      avec+=("$(mesure "$forme" "$mode" 30)")
    done
    s=$(printf '%s\n' "${sans[@]}" | mediane)
    a=$(printf '%s\n' "${avec[@]}" | mediane)
    libelle=$([ "$forme" = arbre ] && echo "100 répertoires supprimés entiers" || echo "1 répertoire, fichiers un à un")
    printf '%-7s %-34s %12s %12s %8s\n' "$mode" "$libelle" "$s" "$a" \
      "$(awk -v a="$a" -v s="$s" 'BEGIN { printf "%.2f", a / s }')"
  done
done

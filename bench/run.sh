#!/usr/bin/env bash
# Banc d'essai du moteur de synchronisation face à rsync (-a et -aHAX) et rclone, en une commande.
# Construit jumelix_bench (Release, dans build-bench), crée ses propres arbres sous
# bench/work (ou $BENCH_DIR), mesure côte à côte Jumelix, rsync et, s'il est installé,
# rclone pour chaque arbre et chaque scénario (temps écoulé, mémoire résidente maximale),
# plus `cp -a` pour la première copie des gros fichiers, vérifie ce que Jumelix et rclone
# ont fait et affiche le tableau des rapports Jumelix/rsync et Jumelix/rclone. Voir
# bench/README.md.
#
# Variables :
#   BENCH_SCALE=1     taille des arbres (0.1 pour un essai rapide)
#   BENCH_REPEAT=3    mesures par scénario (médiane retenue)
#   BENCH_CACHE=auto  froid : vide le cache de pages avant chaque mesure (root) ;
#                     chaud : un passage non chronométré avant chaque mesure ;
#                     "chaud froid" : les deux séries, l'une après l'autre ;
#                     auto : les deux si le cache peut être vidé, sinon chaud
#   BENCH_DIR=...     dossier de travail (défaut bench/work)
#   BENCH_KEEP=0      1 : garder les arbres à la fin (réutilisés au lancement suivant)
#   BENCH_ARBRES="a b c h"  arbres mesurés (a : petits fichiers, b : à plat, c : gros
#                     fichiers, h : petits fichiers avec attributs étendus, ACL et liens
#                     physiques) ; la linéarité et la mémoire se mesurent avec b ;
#                     m (facultatif) : mémoire de pointe de Jumelix seul sur un répertoire
#                     à plat de 200 000 fichiers et sur 8 répertoires frères de 25 000 ;
#                     x (facultatif) : le coût des exclusions (50 motifs globaux, un
#                     sous-arbre exclu d'un million d'entrées) ;
#                     p (facultatif) : le programme entier, `jumelix /S liste.ini`, sur
#                     20 000 fichiers dans 600 répertoires, face à rsync -a et rclone
#   BENCH_EXCLUES=... entrées du sous-arbre exclu de x (défaut : 1 000 000 × échelle)
#   BENCH_BIN=...     jumelix_bench déjà construit (sinon construit ici)
#   BENCH_PROG=...    le programme jumelix déjà construit, pour p (sinon construit ici,
#                     avec ses fenêtres, comme le paquet)
#   BENCH_PROG_AVANT=... le programme jumelix d'une version antérieure, mesuré à tour de
#                     rôle avec le premier sur p
#   BENCH_AVANT=...   un autre jumelix_bench (celui d'une version antérieure, construit
#                     dans un worktree) mesuré à tour de rôle avec le premier sur les
#                     arbres a, b et c, sous la même charge : le tableau « avant / après »
#   BENCH_VERROU=oui  non : ne pas attendre les autres bancs de la machine (le vidage du
#                     cache et la charge d'un banc faussent les mesures d'un autre)
#   BENCH_SYNC=oui    non : pas de sync avant chaque mesure (le test à petite échelle,
#                     dont les chiffres ne comptent pas : un sync attend aussi les
#                     écritures de tout ce qui tourne à côté, une construction par exemple)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SCALE=${BENCH_SCALE:-1}
REPEAT=${BENCH_REPEAT:-3}
CACHE=${BENCH_CACHE:-auto}
WORK=${BENCH_DIR:-$ROOT/bench/work}
KEEP=${BENCH_KEEP:-0}
BIN=${BENCH_BIN:-}
AVANT=${BENCH_AVANT:-}
PROG=${BENCH_PROG:-}
PROG_AVANT=${BENCH_PROG_AVANT:-}
ARBRES=${BENCH_ARBRES:-a b c h}
VERROU=${BENCH_VERROU:-oui}
# Writes the dirty pages out so that a measure does not pay for the step before it.
ecrire_sur_disque() { [ "${BENCH_SYNC:-oui}" = non ] || sync; }
TOOL="python3 $ROOT/bench/bench_tool.py"
# Where Jumelix keeps its pairs' marks, as the program keeps them in the user's state.
export JUMELIX_MARQUES=$WORK/marques

for outil in rsync python3 /usr/bin/time; do
  command -v "$outil" >/dev/null || {
    echo "Outil manquant : $outil (lancer scripts/deps.sh)" >&2
    exit 1
  }
done

entier() { awk -v v="$1" -v s="$SCALE" -v m="${2:-1}" 'BEGIN { n = int(v * s + 0.5); print (n < m ? m : n) }'; }
N_A=$(entier 100000)
D_A=$(entier 1000)
N_B=$(entier 50000 2)
N_C=20
MIB_C=$(entier 100)
N_B2=$((N_B / 2))
N_MP=$(entier 200000 2)
N_MS=$(entier 25000 2)
N_H=$(entier 50000)
D_H=$(entier 500)
N_H_NOMS=$((N_H + (N_H + 7) / 8))  # bench_tool.py attrs: a second name for every 8th file
N_X=$(entier 100000)
D_X=$(entier 1000)
N_XG=${BENCH_EXCLUES:-$(entier 1000000 10)}
N_P=$(entier 20000)
D_P=$(entier 600)
MOTIFS=$ROOT/bench/exclusions-50
# rclone is the second peer when installed (it is not a dependency of the project).
RCLONE=$(command -v rclone || true)

# --- Construction -------------------------------------------------------------------------
a_mesurer() { [[ " $ARBRES " == *" $1 "* ]]; }
# The engine's driver is needed by every tree but p, which runs the whole program.
if [ -z "$BIN" ] && [ "$ARBRES" != p ]; then
  cmake -S "$ROOT" -B "$ROOT/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DJUMELIX_GUI=OFF -DJUMELIX_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-bench" --target jumelix_bench -j2
  BIN=$ROOT/build-bench/jumelix_bench
fi
[ "$ARBRES" = p ] || [ -x "$BIN" ] || { echo "jumelix_bench introuvable : $BIN" >&2; exit 1; }
# The program as the package builds it: with its windows (which a /S run must not pay for).
if a_mesurer p && [ -z "$PROG" ]; then
  cmake -S "$ROOT" -B "$ROOT/build-bench-programme" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DJUMELIX_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-bench-programme" --target jumelix -j2
  PROG=$ROOT/build-bench-programme/jumelix
fi
for prog in $PROG $PROG_AVANT; do
  [ -x "$prog" ] || { echo "programme jumelix introuvable : $prog" >&2; exit 1; }
done
[ -z "$AVANT" ] || [ -x "$AVANT" ] || { echo "jumelix_bench introuvable : $AVANT" >&2; exit 1; }

# One benchmark at a time on the machine: emptying the page cache is machine-wide, and two
# runs would each time the other's load.
if [ "$VERROU" != non ]; then
  exec 9>"${TMPDIR:-/tmp}/jumelix-bench.lock"
  if ! flock -n 9; then
    echo "Un autre banc tourne sur cette machine : attente de sa fin..."
    flock 9
  fi
fi

mkdir -p "$WORK"
RES=$WORK/resultats.tsv
LOG=$WORK/journal.txt
: >"$RES"
: >"$LOG"
# shellcheck source=bench/anomalies.sh
. "$ROOT/bench/anomalies.sh"

# --- Cache ---------------------------------------------------------------------------------
vider_cache() { sync && echo 3 >/proc/sys/vm/drop_caches; }
if [ "$CACHE" = auto ]; then
  if vider_cache 2>/dev/null; then CACHE="chaud froid"; else CACHE=chaud; fi
fi
for m in $CACHE; do
  case "$m" in
    froid) vider_cache || { echo "Impossible de vider le cache de pages (BENCH_CACHE=chaud ?)" >&2; exit 1; } ;;
    chaud) ;;
    *) echo "BENCH_CACHE : chaud, froid, \"chaud froid\" ou auto" >&2; exit 1 ;;
  esac
done
MODE=chaud

# Stats and reads every entry of the given trees (first synchronisation in warm mode).
chauffer() {
  local d
  for d; do
    [ -d "$d" ] || continue
    find "$d" -printf '%s %T@\n' >/dev/null
    find "$d" -type f -print0 | xargs -0 -r cat >/dev/null
  done
}

# --- Machine -------------------------------------------------------------------------------
echo "== Banc d'essai Jumelix / rsync${RCLONE:+ / rclone} — $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine : $(nproc) cœurs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'))," \
  "$(free -g | awk '/^Mem:/ { print $2 " Gio de RAM" }'), noyau $(uname -r)"
echo "Disque : $(df -h "$WORK" | awk 'NR == 2 { print $1 " " $2 " (libre " $4 "), monté sur " $6 }')" \
  "$(findmnt -n -o FSTYPE --target "$WORK" 2>/dev/null || true)"
echo "rsync : $(rsync --version | head -1)"
if [ -n "$RCLONE" ]; then
  echo "rclone : $(rclone version 2>/dev/null | head -1) (parallélisme par défaut)"
else
  echo "rclone : absent, non mesuré (paquet Debian rclone)"
fi
[ -z "$AVANT" ] || echo "Avant / après : $AVANT / $BIN"
[ -z "$PROG" ] || echo "Programme : $PROG${PROG_AVANT:+ (avant : $PROG_AVANT)}"
echo "Échelle $SCALE, $REPEAT mesures par scénario, cache : $CACHE, dossier $WORK"
echo

# --- Arbres --------------------------------------------------------------------------------
# A tree is rebuilt only when its parameters changed; its source may carry the changes of
# an earlier run, which does not matter: every scenario starts from fresh destinations.
arbre() {  # name kind args...
  local nom=$1
  shift
  local marque="$*"
  if [ -f "$WORK/$nom/ok" ] && [ "$(cat "$WORK/$nom/ok")" = "$marque" ]; then
    echo "Arbre $nom réutilisé ($marque)"
  else
    rm -rf "$WORK/$nom"
    mkdir -p "$WORK/$nom"
    local t0=$SECONDS
    $TOOL "$1" "$WORK/$nom/src" "${@:2}"
    echo "$marque" >"$WORK/$nom/ok"
    echo "Arbre $nom créé en $((SECONDS - t0)) s ($marque)"
  fi
  rm -rf "$WORK/$nom/jumelix" "$WORK/$nom/rsync" "$WORK/$nom/rsyncx" "$WORK/$nom/rclone" \
    "$WORK/$nom/cp" "$WORK/$nom/personnel" \
    "$WORK/$nom/cible" "$WORK/$nom/avant"
}
a_mesurer a && arbre a small "$N_A" "$D_A"
if a_mesurer b; then
  arbre b flat "$N_B"
  arbre l flat "$N_B2"
fi
a_mesurer c && arbre c big "$N_C" "$MIB_C"
a_mesurer h && arbre h attrs "$N_H" "$D_H"
a_mesurer p && arbre p small "$N_P" "$D_P"
if a_mesurer m; then
  arbre mp names 0 "$N_MP"
  arbre ms names 8 "$N_MS"
fi
# Tree x: the kept part (src, like tree a) and, beside it in avec/, the same part with a
# subtree of N_XG entries that its .jumelixignore leaves out; both carry that file.
if a_mesurer x; then
  arbre x small "$N_X" "$D_X"
  if [ ! -f "$WORK/x/avec.ok" ] || [ "$(cat "$WORK/x/avec.ok")" != "$N_X $D_X $N_XG" ]; then
    t0=$SECONDS
    rm -rf "$WORK/x/avec"
    echo /exclu/ >"$WORK/x/src/.jumelixignore"
    cp -a "$WORK/x/src" "$WORK/x/avec"
    $TOOL entries "$WORK/x/avec/exclu" "$N_XG"
    touch -r "$WORK/x/src" "$WORK/x/avec"
    echo "$N_X $D_X $N_XG" >"$WORK/x/avec.ok"
    echo "Arbre x : sous-arbre exclu de $N_XG entrées créé en $((SECONDS - t0)) s"
  fi
  rm -rf "$WORK/x/j-"* "$WORK/x/r-"*
fi
ecrire_sur_disque
echo

# --- Mesures -------------------------------------------------------------------------------
# mesurer tree scenario tool warm-command... -- program args...
# Runs the command once under /usr/bin/time, after emptying the page cache (cold) or after
# the warm-up command (warm; "-" for none); records elapsed seconds, peak RSS in KiB and
# CPU seconds (user + system, children included: rsync runs three processes). The command's
# exit status is left in STATUT.
SORTIE=$WORK/sortie.txt
mesurer() {
  local arbre=$1 scen=$2 outil=$3
  shift 3
  local chauffe=()
  while [ "$1" != -- ]; do chauffe+=("$1"); shift; done
  shift
  ecrire_sur_disque
  if [ "$MODE" = froid ]; then
    vider_cache
  elif [ "${chauffe[0]}" != - ]; then
    "${chauffe[@]}" >/dev/null 2>&1 || true
  fi
  local t0 t1 mem cpu
  t0=$(date +%s%N)
  STATUT=0
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/time.txt" "$@" >"$SORTIE" 2>>"$LOG" || STATUT=$?
  t1=$(date +%s%N)
  mem=$(awk 'END { print $2 }' "$WORK/time.txt")
  cpu=$(awk 'END { printf "%.2f", $3 + $4 }' "$WORK/time.txt")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$MODE" "$arbre" "$scen" "$outil" \
    "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')" "$mem" "$cpu" >>"$RES"
  {
    echo "[$MODE | $arbre | $scen | $outil] $*"
    head -c 2000 "$SORTIE"
  } >>"$LOG"
}

# Checks the last jumelix_bench summary line against the expected counters.
attendu() {  # label key=value...
  local label=$1 ligne k
  shift
  ligne=$(tail -1 "$SORTIE")
  for k; do
    if ! grep -qw -- "$k" <<<"$ligne"; then
      ANOMALIES+=("$MODE, $label : attendu $k, obtenu « $ligne »")
      return
    fi
  done
}

# After a synchronisation by Jumelix, the destination must hold the same entries (name,
# size, mtime, mode, owner, links, directory times and modes, extended attributes, ACLs and
# hard links) as the source: rsync's itemised dry run lists every difference. An earlier
# Jumelix (BENCH_AVANT) is checked with -a only: it kept no attributes nor hard links.
verifier() {  # label src dst [rsync options [more options...]]
  local diff
  diff=$(rsync "${4:--aHAX}" "${@:5}" --delete --dry-run -i "$2/" "$3/" || true)
  if [ -n "$diff" ]; then
    ANOMALIES+=("$MODE, $1 : la cible diffère de la source ($(wc -l <<<"$diff") lignes, p. ex. $(head -1 <<<"$diff"))")
  fi
}

# rclone does not carry directory times, modes or owners over, so the full check above
# would list every directory: after its synchronisations, the destination must hold the
# same files with the same sizes as the source.
verifier_fichiers() {  # label src dst
  local diff
  diff=$(diff <(cd "$2" && find . -type f -printf '%P %s\n' | sort) \
    <(cd "$3" && find . -type f -printf '%P %s\n' | sort) || true)
  if [ -n "$diff" ]; then
    ANOMALIES+=("$MODE, $1 : les fichiers de la cible diffèrent de la source ($(grep -c '^[<>]' <<<"$diff") écarts, p. ex. $(grep -m1 '^[<>]' <<<"$diff"))")
  fi
}

jsync() { "$BIN" sync "$1" "$2"; }
jcomp() { "$BIN" compare "$1" "$2"; }
rsync_sync() { rsync -a --delete "$1/" "$2/"; }
rsync_comp() { rsync -a --delete --dry-run -i "$1/" "$2/"; }
rsyncx_sync() { rsync -aHAX --delete "$1/" "$2/"; }
rsyncx_comp() { rsync -aHAX --delete --dry-run -i "$1/" "$2/"; }
rclone_sync() { rclone sync --links "$1" "$2"; }
rclone_comp() { rclone sync --links --dry-run "$1" "$2"; }

S1="1re synchro (cible vide)"
S2="comparaison sans changement"
S3="synchro sans changement"
S4="synchro après 1 % modifiés"

# The tools measured on a tree, each with its own destination beside src/.
# rsyncx: rsync -aHAX, which keeps what Jumelix keeps (extended attributes, ACLs, hard
# links), the peer to beat in every scenario.
OUTILS=(jumelix rsync rsyncx)
[ -z "$RCLONE" ] || OUTILS+=(rclone)
[ -z "$AVANT" ] || OUTILS+=(avant)

# First synchronisation into an empty destination by one tool (cp: the plain copy that
# gives the device's speed for the large files).
premiere() {  # tool label nfiles src dst
  local outil=$1 lib=$2 n=$3 src=$4 dst=$5
  case "$outil" in
    jumelix)
      mesurer "$lib" "$S1" jumelix chauffer "$src" -- "$BIN" sync "$src" "$dst"
      attendu "$lib, $S1" lignes=0 copies="$n" ;;
    avant)
      mesurer "$lib" "$S1" avant chauffer "$src" -- "$AVANT" sync "$src" "$dst"
      attendu "$lib, $S1, avant" lignes=0 copies="$n" ;;
    rsync) mesurer "$lib" "$S1" rsync chauffer "$src" -- rsync -a --delete "$src/" "$dst/" ;;
    rsyncx) mesurer "$lib" "$S1" rsyncx chauffer "$src" -- rsync -aHAX --delete "$src/" "$dst/" ;;
    rclone) mesurer "$lib" "$S1" rclone chauffer "$src" -- rclone sync --links "$src" "$dst" ;;
    cp) mesurer "$lib" "$S1" cp chauffer "$src" -- cp -a --reflink=never "$src" "$dst" ;;
  esac
}

scenarios() {  # name label nfiles
  local nom=$1 lib=$2 n=$3 r i src nchg outils
  src=$WORK/$nom/src
  local -A dst=()
  outils=("${OUTILS[@]}")
  [ "$nom" != c ] || outils+=(cp)
  for i in "${outils[@]}"; do dst[$i]=$WORK/$nom/$i; done
  echo "Arbre $lib (cache $MODE)"
  for ((r = 0; r < REPEAT; r++)); do
    for i in "${outils[@]}"; do rm -rf "${dst[$i]}"; done
    # The tools take turns at going first.
    for ((i = 0; i < ${#outils[@]}; i++)); do
      local o=${outils[(i + r) % ${#outils[@]}]}
      premiere "$o" "$lib" "$n" "$src" "${dst[$o]}"
    done
  done
  verifier "$lib, $S1" "$src" "${dst[jumelix]}"
  [ -z "$RCLONE" ] || verifier_fichiers "$lib, $S1, rclone" "$src" "${dst[rclone]}"
  [ -z "$AVANT" ] || verifier "$lib, $S1, avant" "$src" "${dst[avant]}" -a
  [ -z "${dst[cp]:-}" ] || rm -rf "${dst[cp]}"  # measured once, not needed for what follows
  # The nights after the first: one synchronisation of the mirror, not measured, leaves the
  # mark that lets Jumelix read the extended attributes of changed entries only.
  jsync "$src" "${dst[jumelix]}" >/dev/null
  [ -z "$AVANT" ] || "$AVANT" sync "$src" "${dst[avant]}" >/dev/null
  echo "  $S1 : fait"
  for ((r = 0; r < REPEAT; r++)); do
    mesurer "$lib" "$S2" jumelix jcomp "$src" "${dst[jumelix]}" -- "$BIN" compare "$src" "${dst[jumelix]}"
    attendu "$lib, $S2" lignes=0 identiques="$n"
    if [ -n "$AVANT" ]; then
      mesurer "$lib" "$S2" avant jcomp "$src" "${dst[avant]}" -- "$AVANT" compare "$src" "${dst[avant]}"
      attendu "$lib, $S2, avant" lignes=0 identiques="$n"
    fi
    mesurer "$lib" "$S2" rsync rsync_comp "$src" "${dst[rsync]}" -- \
      rsync -a --delete --dry-run -i "$src/" "${dst[rsync]}/"
    mesurer "$lib" "$S2" rsyncx rsyncx_comp "$src" "${dst[rsyncx]}" -- \
      rsync -aHAX --delete --dry-run -i "$src/" "${dst[rsyncx]}/"
    [ -z "$RCLONE" ] || mesurer "$lib" "$S2" rclone rclone_comp "$src" "${dst[rclone]}" -- \
      rclone sync --links --dry-run "$src" "${dst[rclone]}"
  done
  echo "  $S2 : fait"
  for ((r = 0; r < REPEAT; r++)); do
    mesurer "$lib" "$S3" jumelix jsync "$src" "${dst[jumelix]}" -- "$BIN" sync "$src" "${dst[jumelix]}"
    attendu "$lib, $S3" lignes=0 copies=0 supprimes=0 identiques="$n"
    if [ -n "$AVANT" ]; then
      mesurer "$lib" "$S3" avant jsync "$src" "${dst[avant]}" -- "$AVANT" sync "$src" "${dst[avant]}"
      attendu "$lib, $S3, avant" lignes=0 copies=0 supprimes=0 identiques="$n"
    fi
    mesurer "$lib" "$S3" rsync rsync_sync "$src" "${dst[rsync]}" -- rsync -a --delete "$src/" "${dst[rsync]}/"
    mesurer "$lib" "$S3" rsyncx rsyncx_sync "$src" "${dst[rsyncx]}" -- \
      rsync -aHAX --delete "$src/" "${dst[rsyncx]}/"
    [ -z "$RCLONE" ] || mesurer "$lib" "$S3" rclone rclone_sync "$src" "${dst[rclone]}" -- \
      rclone sync --links "$src" "${dst[rclone]}"
  done
  echo "  $S3 : fait"
  for ((r = 0; r < REPEAT; r++)); do
    nchg=$($TOOL change "$src" 1 "$r")
    mesurer "$lib" "$S4" jumelix jcomp "$src" "${dst[jumelix]}" -- "$BIN" sync "$src" "${dst[jumelix]}"
    # Tree h: a changed file with two names is one copy and one link.
    if [ "$nom" = h ]; then
      attendu "$lib, $S4" lignes=0 supprimes=0
    else
      attendu "$lib, $S4" lignes=0 copies="$nchg" supprimes=0
    fi
    if [ -n "$AVANT" ]; then
      mesurer "$lib" "$S4" avant jcomp "$src" "${dst[avant]}" -- "$AVANT" sync "$src" "${dst[avant]}"
      if [ "$nom" = h ]; then
        attendu "$lib, $S4, avant" lignes=0 supprimes=0
      else
        attendu "$lib, $S4, avant" lignes=0 copies="$nchg" supprimes=0
      fi
    fi
    mesurer "$lib" "$S4" rsync rsync_comp "$src" "${dst[rsync]}" -- rsync -a --delete "$src/" "${dst[rsync]}/"
    mesurer "$lib" "$S4" rsyncx rsyncx_comp "$src" "${dst[rsyncx]}" -- \
      rsync -aHAX --delete "$src/" "${dst[rsyncx]}/"
    [ -z "$RCLONE" ] || mesurer "$lib" "$S4" rclone rclone_comp "$src" "${dst[rclone]}" -- \
      rclone sync --links "$src" "${dst[rclone]}"
  done
  verifier "$lib, $S4" "$src" "${dst[jumelix]}"
  [ -z "$AVANT" ] || verifier "$lib, $S4, avant" "$src" "${dst[avant]}" -a
  [ -z "$RCLONE" ] || verifier_fichiers "$lib, $S4, rclone" "$src" "${dst[rclone]}"
  echo "  $S4 : fait ($nchg fichiers modifiés à chaque mesure)"
}

LIB_A="a: $N_A fichiers / $D_A rép."
LIB_B="b: $N_B fichiers à plat"
LIB_C="c: $N_C × $MIB_C Mio"
LIB_H="h: $N_H fichiers / $D_H rép., attributs, ACL, liens"

# Memory: Jumelix's peak against a pair of empty directories, on one large directory (a
# compare with an identical copy, a first synchronisation) and on 8 large siblings (a
# compare: the listings made ahead of the walk). The table gives the bytes per entry.
memoire() {
  local r mp=$WORK/mp ms=$WORK/ms
  echo "Mémoire : $N_MP fichiers à plat, 8 × $N_MS fichiers (cache $MODE)"
  mkdir -p "$WORK/vide/src" "$WORK/vide/dst"
  [ -d "$mp/jumelix" ] || "$BIN" sync "$mp/src" "$mp/jumelix" >/dev/null
  [ -d "$ms/jumelix" ] || "$BIN" sync "$ms/src" "$ms/jumelix" >/dev/null
  for ((r = 0; r < REPEAT; r++)); do
    mesurer "m: vide" "$S2" jumelix - -- "$BIN" compare "$WORK/vide/src" "$WORK/vide/dst"
    mesurer "m: $N_MP fichiers à plat" "$S2" jumelix jcomp "$mp/src" "$mp/jumelix" -- \
      "$BIN" compare "$mp/src" "$mp/jumelix"
    attendu "m: à plat, $S2" lignes=0 identiques="$N_MP"
    rm -rf "$mp/cible"
    mesurer "m: $N_MP fichiers à plat" "$S1" jumelix chauffer "$mp/src" -- \
      "$BIN" sync "$mp/src" "$mp/cible"
    attendu "m: à plat, $S1" lignes=0 copies="$N_MP"
    mesurer "m: 8 × $N_MS fichiers" "$S2" jumelix jcomp "$ms/src" "$ms/jumelix" -- \
      "$BIN" compare "$ms/src" "$ms/jumelix"
    attendu "m: frères, $S2" lignes=0 identiques="$((8 * N_MS))"
  done
  verifier "m: à plat, $S1" "$mp/src" "$mp/cible"
  echo
}

# Exclusions: no-change and first synchronisations of the same kept tree with no global
# pattern (the reference), with the 50 patterns of bench/exclusions-50 (which leave nothing
# out), and beside the excluded subtree. rsync gets the same exclusions (its syntax differs
# for "!", whose lines it is not given).
exclusions() {
  local r v x=$WORK/x n=$((N_X + 1))
  local -a vars=(temoin motifs avec)
  local -A lib=([temoin]="x: témoin" [motifs]="x: 50 motifs globaux"
    [avec]="x: sous-arbre exclu de $N_XG entrées")
  local -A src=([temoin]=$x/src [motifs]=$x/src [avec]=$x/avec)
  local -A jopt=([temoin]="" [motifs]="--exclusions $MOTIFS" [avec]="")
  local -A ropt=([temoin]="" [motifs]="--exclude-from=$x/motifs-rsync" [avec]="--exclude=/exclu/")
  grep -v '^!' "$MOTIFS" >"$x/motifs-rsync"
  echo "Exclusions : $N_X fichiers gardés, sous-arbre exclu de $N_XG entrées (cache $MODE)"
  for ((r = 0; r < REPEAT; r++)); do
    for ((i = 0; i < 3; i++)); do
      v=${vars[(i + r) % 3]}
      rm -rf "$x/j-$v" "$x/r-$v"
      # shellcheck disable=SC2086  # the options are words
      mesurer "${lib[$v]}" "$S1" jumelix chauffer "${src[$v]}" -- \
        "$BIN" sync "${src[$v]}" "$x/j-$v" ${jopt[$v]}
      attendu "${lib[$v]}, $S1" lignes=0 copies="$n"
      # shellcheck disable=SC2086
      mesurer "${lib[$v]}" "$S1" rsync chauffer "${src[$v]}" -- \
        rsync -a --delete ${ropt[$v]} "${src[$v]}/" "$x/r-$v/"
    done
  done
  for ((r = 0; r < REPEAT; r++)); do
    for ((i = 0; i < 3; i++)); do
      v=${vars[(i + r) % 3]}
      # shellcheck disable=SC2086
      mesurer "${lib[$v]}" "$S3" jumelix jsync "${src[$v]}" "$x/j-$v" -- \
        "$BIN" sync "${src[$v]}" "$x/j-$v" ${jopt[$v]}
      attendu "${lib[$v]}, $S3" lignes=0 copies=0 supprimes=0 identiques="$n"
      # shellcheck disable=SC2086
      mesurer "${lib[$v]}" "$S3" rsync - -- rsync -a --delete ${ropt[$v]} "${src[$v]}/" "$x/r-$v/"
    done
  done
  for v in "${vars[@]}"; do
    verifier "${lib[$v]}" "$x/src" "$x/j-$v"
    [ ! -e "$x/j-$v/exclu" ] || ANOMALIES+=("$MODE, ${lib[$v]} : le sous-arbre exclu a été copié")
  done
  echo
}

# The whole program, as cron or a timer starts it: `jumelix /S liste.ini` (start-up, list,
# log, lock and archive around the engine) beside rsync -a and rclone, on tree p. Its runs
# must end with status 0 (no report line) and leave a faithful mirror; the files that a
# changed source file replaced are in the destination's archive, which the check leaves out.
programme() {
  local p=$WORK/p origine=$WORK/p/src titre="p: $N_P fichiers / $D_P rép., programme entier"
  local r i o nchg
  local -a outils=(jumelix rsync) cmd=() chauffe=()
  [ -z "$RCLONE" ] || outils+=(rclone)
  [ -z "$PROG_AVANT" ] || outils+=(avant)
  local -A dst=()
  for o in "${outils[@]}"; do dst[$o]=$p/$o; done
  # A home of its own: default settings, and the log and state kept out of the user's.
  local -x HOME=$p/personnel XDG_CONFIG_HOME=$p/personnel/config XDG_STATE_HOME=$p/personnel/etat
  mkdir -p "$HOME"
  for o in jumelix avant; do
    printf 'Répertoire source\r\nRépertoire cible\r\n%s\r\n%s\r\n' "$origine" "$p/$o" >"$p/$o.ini"
  done
  # cmd: the timed synchronisation of tool $1; chauffe: its run that changes nothing, the
  # warm-up before a synchronisation after changes.
  commande() {
    case "$1" in
      jumelix) cmd=("$PROG" /S "$p/jumelix.ini") chauffe=("$PROG" --dry-run /S "$p/jumelix.ini") ;;
      avant) cmd=("$PROG_AVANT" /S "$p/avant.ini") chauffe=("$PROG_AVANT" --dry-run /S "$p/avant.ini") ;;
      rsync) cmd=(rsync -a --delete "$origine/" "${dst[rsync]}/") chauffe=("${cmd[@]}" --dry-run -i) ;;
      rclone) cmd=(rclone sync --links "$origine" "${dst[rclone]}") chauffe=("${cmd[@]}" --dry-run) ;;
    esac
  }
  statut() {  # tool scenario
    [[ "$1" != jumelix && "$1" != avant ]] || ((STATUT == 0)) ||
      ANOMALIES+=("$MODE, $titre, $2, $1 : code de sortie $STATUT (0 attendu : aucune ligne au compte rendu)")
  }
  verifier_tous() {  # scenario
    verifier "$titre, $1" "$origine" "${dst[jumelix]}" -aHAX --exclude=/.jumelix-archive/
    [ -z "$PROG_AVANT" ] || verifier "$titre, $1, avant" "$origine" "${dst[avant]}" -aHAX --exclude=/.jumelix-archive/
    verifier "$titre, $1, rsync" "$origine" "${dst[rsync]}" -a
    [ -z "$RCLONE" ] || verifier_fichiers "$titre, $1, rclone" "$origine" "${dst[rclone]}"
  }
  echo "Programme entier : $N_P fichiers dans $D_P répertoires (cache $MODE)"
  for ((r = 0; r < REPEAT; r++)); do
    for o in "${outils[@]}"; do rm -rf "${dst[$o]}"; done
    for ((i = 0; i < ${#outils[@]}; i++)); do  # the tools take turns at going first
      o=${outils[(i + r) % ${#outils[@]}]}
      commande "$o"
      mesurer "$titre" "$S1" "$o" chauffer "$origine" -- "${cmd[@]}"
      statut "$o" "$S1"
    done
  done
  verifier_tous "$S1"
  echo "  $S1 : fait"
  for ((r = 0; r < REPEAT; r++)); do
    for ((i = 0; i < ${#outils[@]}; i++)); do
      o=${outils[(i + r) % ${#outils[@]}]}
      commande "$o"
      mesurer "$titre" "$S3" "$o" "${cmd[@]}" -- "${cmd[@]}"
      statut "$o" "$S3"
    done
  done
  echo "  $S3 : fait"
  for ((r = 0; r < REPEAT; r++)); do
    nchg=$($TOOL change "$origine" 1 "$r")
    for ((i = 0; i < ${#outils[@]}; i++)); do
      o=${outils[(i + r) % ${#outils[@]}]}
      commande "$o"
      mesurer "$titre" "$S4" "$o" "${chauffe[@]}" -- "${cmd[@]}"
      statut "$o" "$S4"
    done
  done
  verifier_tous "$S4"
  echo "  $S4 : fait ($nchg fichiers modifiés à chaque mesure)"
  echo
}

serie() {
  if a_mesurer a; then scenarios a "$LIB_A" "$N_A"; fi
  if a_mesurer b; then scenarios b "$LIB_B" "$N_B"; fi
  if a_mesurer c; then scenarios c "$LIB_C" "$N_C"; fi
  if a_mesurer h; then scenarios h "$LIB_H" "$N_H_NOMS"; fi
  if a_mesurer m; then memoire; fi
  if a_mesurer x; then exclusions; fi
  if a_mesurer p; then programme; fi
  a_mesurer b || return 0

  # Linearity: no-change compare of a flat directory of N/2 and of N files, in turn.
  echo "Linéarité : $N_B2 puis $N_B fichiers à plat (cache $MODE)"
  rm -rf "$WORK/l/jumelix" "$WORK/l/rsync"
  "$BIN" sync "$WORK/l/src" "$WORK/l/jumelix" >/dev/null
  rsync -a --delete "$WORK/l/src/" "$WORK/l/rsync/"
  local lin=$((REPEAT < 5 ? 5 : REPEAT)) r
  for ((r = 0; r < lin; r++)); do
    mesurer "lin: $N_B2 à plat" "$S2" jumelix jcomp "$WORK/l/src" "$WORK/l/jumelix" -- \
      "$BIN" compare "$WORK/l/src" "$WORK/l/jumelix"
    mesurer "lin: $N_B à plat" "$S2" jumelix jcomp "$WORK/b/src" "$WORK/b/jumelix" -- \
      "$BIN" compare "$WORK/b/src" "$WORK/b/jumelix"
    mesurer "lin: $N_B2 à plat" "$S2" rsync rsync_comp "$WORK/l/src" "$WORK/l/rsync" -- \
      rsync -a --delete --dry-run -i "$WORK/l/src/" "$WORK/l/rsync/"
    mesurer "lin: $N_B à plat" "$S2" rsync rsync_comp "$WORK/b/src" "$WORK/b/rsync" -- \
      rsync -a --delete --dry-run -i "$WORK/b/src/" "$WORK/b/rsync/"
  done
  # Memory floor: the same programs on a pair of empty directories.
  mkdir -p "$WORK/vide/src" "$WORK/vide/dst"
  mesurer "vide" "$S2" jumelix - -- "$BIN" compare "$WORK/vide/src" "$WORK/vide/dst"
  mesurer "vide" "$S2" rsync - -- rsync -a --delete --dry-run -i "$WORK/vide/src/" "$WORK/vide/dst/"
  echo
}
for MODE in $CACHE; do serie; done
echo

$TOOL table "$RES" "$((N_C * MIB_C))"
echo
bilan_anomalies "compteurs attendus et cibles identiques aux sources après chaque synchro."
echo "Mesures brutes : $RES ; sorties : $LOG"

if [ "$KEEP" != 1 ]; then
  for nom in a b c h l vide mp ms x p; do rm -rf "${WORK:?}/$nom"; done
  echo "Arbres supprimés (BENCH_KEEP=1 pour les garder)."
fi
# A run whose checks failed is a failed run, whatever the figures.
((${#ANOMALIES[@]} == 0)) || exit 1

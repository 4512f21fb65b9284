#!/usr/bin/env bash
# Le coût de la fenêtre : une comparaison qui trouve ~29 000 différences, mesurée dans la
# vraie fenêtre principale (plate-forme offscreen) et derrière une vue qui n'affiche rien,
# puis la synchronisation du même arbre dans la fenêtre et par `jumelix /S`.
#   bench/fenetre.sh [DOSSIER_DE_BUILD]   (défaut build ; cibles fenetre_bench et jumelix)
# Variables : FENETRE_REP=290 répertoires, FENETRE_FICH=100 fichiers par répertoire,
# FENETRE_REPEAT=3 mesures (médiane retenue), FENETRE_SYNCHRO=1 (0 : comparaison seule).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
NREP=${FENETRE_REP:-290}
NFICH=${FENETRE_FICH:-100}
REPEAT=${FENETRE_REPEAT:-3}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/config XDG_STATE_HOME=$WORK/home/state
mkdir -p "$HOME"

python3 - "$WORK" "$NREP" "$NFICH" <<'PY'
import os, sys
w, nrep, nfich = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for r in range(nrep):
    d = os.path.join(w, "src", "rep%03d" % r)
    os.makedirs(d)
    os.makedirs(os.path.join(w, "dst", "rep%03d" % r))
    for f in range(nfich):
        with open(os.path.join(d, "fichier-%04d.txt" % f), "w") as fh:
            fh.write("x")
with open(os.path.join(w, "liste.ini"), "w") as fh:
    fh.write("Répertoire source\nRépertoire cible\n%s/src\n%s/dst\n" % (w, w))
PY

mediane() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
mesure() {  # mode action -> médiane en ms ; lignes du journal sur stderr
  for _ in $(seq "$REPEAT"); do
    "$BUILD/fenetre_bench" "$1" "$2" "$WORK/liste.ini" 2>/dev/null | tee -a "$WORK/lignes-$1-$2" | cut -d' ' -f1
  done | mediane
}
cf=$(mesure fenetre comparer)
cs=$(mesure sans comparer)
echo "comparaison ($((NREP * NFICH)) différences) : fenêtre ${cf} ms, sans fenêtre ${cs} ms," \
  "lignes du journal $(tail -1 "$WORK/lignes-fenetre-comparer" | cut -d' ' -f2)"

[[ ${FENETRE_SYNCHRO:-1} == 1 ]] || exit 0
synchro() {  # commande... -> médiane en ms d'une synchronisation vers une cible vide
  for _ in $(seq "$REPEAT"); do
    rm -rf "$WORK/dst" && mkdir "$WORK/dst"
    sync
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000000))
  done | mediane
}
sf=$(synchro "$BUILD/fenetre_bench" fenetre synchroniser "$WORK/liste.ini")
ss=$(synchro "$BUILD/jumelix" /S "$WORK/liste.ini")
echo "synchronisation : fenêtre ${sf} ms (processus entier), jumelix /S ${ss} ms"
awk -v a="$cf" -v b="$cs" -v c="$sf" -v d="$ss" \
  'BEGIN { printf "rapports fenêtre / sans fenêtre : comparaison %.2f, synchronisation %.2f\n", a / b, c / d }'

#!/usr/bin/env bash
# Banc d'essai sur un montage réseau : la cible (ou la source) est un dossier servi en SFTP
# par un sshd lancé dans un espace de noms réseau à lui, relié à la machine par une paire
# veth, derrière un proxy TCP qui ajoute un aller-retour fixe (bench/proxy_latence.py), et
# monté ici avec sshfs. Jumelix (jumelix_bench), rsync -a --delete et rclone sync y sont
# mesurés côte à côte, caches vidés et montage refait avant chaque mesure ; le journal du
# serveur SFTP donne le nombre de requêtes de chaque outil. Voir bench/README.md.
#
# Variables :
#   RESEAU_RTT="1 5"      allers-retours ajoutés, en ms
#   RESEAU_OU=cible       cible : la destination sur le montage ; source : la source ;
#                         "cible source" : les deux séries
#   RESEAU_FICHIERS=2000  fichiers de 4 à 64 Kio ...
#   RESEAU_DOSSIERS=100   ... répartis dans autant de dossiers
#   BENCH_REPEAT=3        mesures par scénario (médiane retenue)
#   BENCH_DIR=...         dossier de travail (défaut bench/work-reseau)
#   BENCH_BIN=...         jumelix_bench déjà construit (sinon construit ici)
#   BENCH_AVANT=...       un jumelix_bench antérieur, mesuré à tour de rôle avec le premier
#
# Rien n'est changé hors de ce qui est créé ici : l'espace de noms, sa paire veth et ses
# deux adresses (10.213.77.1 et .2, sur cette paire seulement) disparaissent à la fin ; la
# file d'attente d'aucune interface n'est touchée. Root nécessaire.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RTTS=${RESEAU_RTT:-1 5}
OU=${RESEAU_OU:-cible}
NF=${RESEAU_FICHIERS:-2000}
ND=${RESEAU_DOSSIERS:-100}
REPEAT=${BENCH_REPEAT:-3}
WORK=${BENCH_DIR:-$ROOT/bench/work-reseau}
BIN=${BENCH_BIN:-}
AVANT=${BENCH_AVANT:-}
TOOL="python3 $ROOT/bench/bench_tool.py"
NS=jumelix-reseau
HOTE=10.213.77.1
SERVEUR=10.213.77.2
PORT_PROXY=2222

[ "$(id -u)" -eq 0 ] || { echo "reseau.sh : à lancer en root (espace de noms, montage)" >&2; exit 1; }
manque=()
command -v sshfs >/dev/null || manque+=(sshfs)
[ -x /usr/sbin/sshd ] || manque+=(openssh-server)
if ((${#manque[@]})); then
  echo "Installation de : ${manque[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${manque[@]}" >/dev/null
fi
RCLONE=$(command -v rclone || true)
if ip netns list | grep -qw "$NS" || ip -o addr | grep -q "10\.213\.77\."; then
  echo "L'espace de noms $NS ou les adresses 10.213.77.x existent déjà : un autre banc tourne ?" >&2
  exit 1
fi

if [ -z "$BIN" ]; then
  cmake -S "$ROOT" -B "$ROOT/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DJUMELIX_GUI=OFF -DJUMELIX_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-bench" --target jumelix_bench -j2
  BIN=$ROOT/build-bench/jumelix_bench
fi

# One benchmark at a time on the machine (the same lock as bench/run.sh).
exec 9>"${TMPDIR:-/tmp}/jumelix-bench.lock"
flock -n 9 || { echo "Un autre banc tourne sur cette machine : attente de sa fin..."; flock 9; }

rm -rf "$WORK"
mkdir -p "$WORK/srv" "$WORK/mnt" "$WORK/ssh" /run/sshd
S=$WORK/ssh
RES=$WORK/resultats.tsv
LOG=$WORK/journal.txt
: >"$RES"
: >"$LOG"
# shellcheck source=bench/anomalies.sh
. "$ROOT/bench/anomalies.sh"

# --- The served side ----------------------------------------------------------------------
fin() {
  set +e
  mountpoint -q "$WORK/mnt" && fusermount3 -u "$WORK/mnt"
  [ -f "$S/sshd.pid" ] && kill "$(cat "$S/sshd.pid")" 2>/dev/null
  [ -n "${PROXY:-}" ] && kill "$PROXY" 2>/dev/null
  ip netns del "$NS" 2>/dev/null
  [ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$WORK/srv" "$WORK/src"
}
trap fin EXIT
ip netns add "$NS"
ip link add jxr0 type veth peer name jxr1
ip link set jxr1 netns "$NS"
ip addr add "$HOTE/30" dev jxr0
ip link set jxr0 up
ip -n "$NS" addr add "$SERVEUR/30" dev jxr1
ip -n "$NS" link set jxr1 up
ip -n "$NS" link set lo up

ssh-keygen -q -t ed25519 -N '' -f "$S/hote"
ssh-keygen -q -t ed25519 -N '' -f "$S/client"
cp "$S/client.pub" "$S/autorisees"
cat >"$S/sshd_config" <<EOF
ListenAddress $SERVEUR:22
HostKey $S/hote
AuthorizedKeysFile $S/autorisees
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile $S/sshd.pid
Subsystem sftp /usr/lib/openssh/sftp-server -e -l DEBUG1 2>>$S/sftp.log
EOF
ip netns exec "$NS" /usr/sbin/sshd -f "$S/sshd_config" -E "$S/sshd.log"

RTT=
PROXY=
# The proxy of round trip $1 (ms), in the namespace, in front of sshd.
proxy() {
  [ -z "$PROXY" ] || { kill "$PROXY"; wait "$PROXY" 2>/dev/null || true; }
  coproc PROXYP { exec ip netns exec "$NS" python3 "$ROOT/bench/proxy_latence.py" \
    "$SERVEUR" "$PORT_PROXY" "$SERVEUR" 22 "$1"; }
  PROXY=$PROXYP_PID
  local ligne
  read -r ligne <&"${PROXYP[0]}"
  [ "$ligne" = pret ] || { echo "Le proxy n'a pas démarré" >&2; exit 1; }
}
monter() {
  mountpoint -q "$WORK/mnt" && fusermount3 -u "$WORK/mnt"
  sshfs -p "$PORT_PROXY" -o "IdentityFile=$S/client,StrictHostKeyChecking=no" \
    -o "UserKnownHostsFile=/dev/null,LogLevel=ERROR" "root@$SERVEUR:$WORK/srv" "$WORK/mnt"
}
vider_cache() { sync && echo 3 >/proc/sys/vm/drop_caches; }

# --- Measures -----------------------------------------------------------------------------
# mesurer scenario tool program args...: remounts (sshfs and the kernel forget what they
# knew), empties the page cache, times the run, then counts the server's requests.
mesurer() {
  local scen=$1 outil=$2 t0 t1 cpu req
  shift 2
  monter
  vider_cache
  : >"$S/sftp.log"
  t0=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$WORK/time.txt" "$@" >"$WORK/sortie.txt" 2>>"$LOG" || true
  t1=$(date +%s%N)
  fusermount3 -u "$WORK/mnt"  # the session ends: its requests are all in the log
  cpu=$(awk 'END { printf "%.2f", $1 + $2 }' "$WORK/time.txt")
  req=$(grep -c "sent " "$S/sftp.log" || true)
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$RTT" "$OU_COURANT" "$scen" "$outil" \
    "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')" "$cpu" "$req" >>"$RES"
  {
    echo "[$RTT ms | $OU_COURANT | $scen | $outil] $* ($req requêtes)"
    head -c 1000 "$WORK/sortie.txt"
    grep -v "sent " "$S/sftp.log" | sed -E 's/^debug1: request [0-9]+: //; s/ .*//' |
      sort | uniq -c | sort -rn | tr '\n' ' '
    echo
  } >>"$LOG"
}

verifier() {  # label src dst rsync-options: the same entries (sshfs keeps no owner)
  local diff
  # shellcheck disable=SC2086  # the options are words
  diff=$(rsync $4 --delete --dry-run -i --exclude=/.jumelix-archive "$2/" "$3/" || true)
  [ -z "$diff" ] || ANOMALIES+=("$1 : la cible diffère ($(wc -l <<<"$diff") lignes, p. ex. $(head -1 <<<"$diff"))")
}

# After a series, every tool's destination against the source; rclone carries no folder
# times or modes over, so its files and their sizes only.
verifier_tous() {  # scenario
  local o options
  for o in "${OUTILS[@]}"; do
    options=-rlt
    [ "$o" != rclone ] || options="-r --size-only"
    verifier "$RTT ms, $OU_COURANT, $1, $o" "$(source_locale)" "$(local_de "$o")" "$options"
  done
}

OUTILS=(jumelix rsync)
[ -z "$RCLONE" ] || OUTILS+=(rclone)
[ -z "$AVANT" ] || OUTILS+=(avant)
commande() {  # tool src dst
  case "$1" in
    jumelix) echo "$BIN sync $2 $3" ;;
    avant) echo "$AVANT sync $2 $3" ;;
    rsync) echo "rsync -a --delete $2/ $3/" ;;
    rclone) echo "rclone sync --links $2 $3" ;;
  esac
}

S1="1re synchro (cible vide)"
S3="synchro sans changement"
S4="synchro après 1 % modifiés"

echo "== Banc réseau Jumelix / rsync${RCLONE:+ / rclone} — $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "sshfs $(sshfs --version 2>&1 | head -1 | awk '{ print $NF }'), $(ssh -V 2>&1 | cut -d, -f1)," \
  "rsync $(rsync --version | head -1 | awk '{ print $3 }')${RCLONE:+, $(rclone version | head -1)}"
echo "$NF fichiers de 4 à 64 Kio dans $ND dossiers ; allers-retours ajoutés : $RTTS ms ;" \
  "$REPEAT mesures ; côté réseau : $OU"
$TOOL medium "$WORK/src" "$NF" "$ND"
# Where each tool reads and writes: the mount holds the destination, or the source.
chemins() {  # tool -> "src dst" for the current side
  if [ "$OU_COURANT" = cible ]; then
    echo "$WORK/src $WORK/mnt/$1"
  else
    echo "$WORK/mnt/source $WORK/local/$1"
  fi
}
local_de() {  # tool: the destination's path as seen without the mount
  if [ "$OU_COURANT" = cible ]; then echo "$WORK/srv/$1"; else echo "$WORK/local/$1"; fi
}
source_locale() { if [ "$OU_COURANT" = cible ]; then echo "$WORK/src"; else echo "$WORK/srv/source"; fi; }

for OU_COURANT in $OU; do
  rm -rf "$WORK/srv/source" "$WORK/local"
  [ "$OU_COURANT" = cible ] || { cp -a "$WORK/src" "$WORK/srv/source"; mkdir -p "$WORK/local"; }
  for RTT in $RTTS; do
    proxy "$RTT"
    echo "Aller-retour ajouté $RTT ms, $OU_COURANT sur le montage"
    for ((r = 0; r < REPEAT; r++)); do
      for ((i = 0; i < ${#OUTILS[@]}; i++)); do
        o=${OUTILS[(i + r) % ${#OUTILS[@]}]}
        rm -rf "$(local_de "$o")"
        # shellcheck disable=SC2046  # the command is words
        mesurer "$S1" "$o" $(commande "$o" $(chemins "$o"))
      done
    done
    verifier_tous "$S1"
    echo "  $S1 : fait"
    for ((r = 0; r < REPEAT; r++)); do
      for o in "${OUTILS[@]}"; do
        # shellcheck disable=SC2046
        mesurer "$S3" "$o" $(commande "$o" $(chemins "$o"))
      done
    done
    echo "  $S3 : fait"
    for ((r = 0; r < REPEAT; r++)); do
      $TOOL change "$(source_locale)" 1 "$r" >/dev/null
      for o in "${OUTILS[@]}"; do
        # shellcheck disable=SC2046
        mesurer "$S4" "$o" $(commande "$o" $(chemins "$o"))
      done
    done
    verifier_tous "$S4"
    echo "  $S4 : fait"
  done
done
echo

$TOOL reseau "$RES" "$NF"
echo
bilan_anomalies "chaque cible identique à sa source après chaque série (rsync -rlt ; rclone : fichiers et tailles)."
echo "Mesures brutes : $RES ; sorties et requêtes par sorte : $LOG"
((${#ANOMALIES[@]} == 0)) || exit 1

#!/usr/bin/env bash
# Builds the Debian package (Release, in build-package/), installs it with apt-get, checks
# the installed program and the files around it (headless /S run, manual page, desktop
# entry, systemd units run under their hardening), then removes the package and checks that
# nothing is left.
# Needs root. Every check runs even when an earlier one failed; the exit status is 1 when
# any failed.
# ok, fail and note always succeed, so "check && ok ... || fail ..." is an if-then-else.
# shellcheck disable=SC2015
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-package

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test.sh : à lancer en root (installation et retrait du paquet)." >&2
  exit 1
fi

failures=()
ok() { echo "  ok : $*"; }
fail() { echo "  ÉCHEC : $*"; failures+=("$*"); }
note() { echo "  note : $*"; }
installed() { dpkg-query -W -f='${db:Status-Status}' jumelix 2>/dev/null | grep -qx installed; }

tmp=$(mktemp -d)
removed=0
cleanup() {
  if [ "$removed" -eq 0 ] && installed; then
    echo "== Retrait du paquet laissé par un arrêt prématuré"
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq jumelix >/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

scripts/deps.sh

echo "== Construction Release et paquet"
source scripts/construction.sh
# The build the tests ran on (scripts/test.sh) is the one packaged; alone, the package is
# built without its tests.
if [ -f "$build/CMakeCache.txt" ]; then
  configurer_paquet "$build"
else
  configurer_paquet "$build" -DJUMELIX_TESTS=OFF
fi
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/jumelix_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/jumelix_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "cpack n'a pas produit exactement un jumelix_*.deb dans $build" >&2
  exit 1
fi
# apt's download sandbox (user _apt) must be able to read the file.
chmod 755 "$tmp"
cp "${debs[0]}" "$tmp/"
deb=$tmp/$(basename "${debs[0]}")
chmod 644 "$deb"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "  $(basename "$deb") : version $version ; dépend de : $depends"

echo "== Contenu du paquet"
[ "$(dpkg-deb -f "$deb" Package)" = jumelix ] && ok "nom jumelix" || fail "nom du paquet"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] && ok "section utils" || fail "section du paquet"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for f in ./usr/bin/jumelix ./usr/lib/jumelix/jumelix-fenetre ./usr/share/applications/jumelix.desktop \
  ./usr/share/icons/hicolor/scalable/apps/jumelix.svg ./usr/share/man/man1/jumelix.1.gz \
  ./usr/lib/systemd/user/jumelix@.service ./usr/lib/systemd/user/jumelix@.timer \
  ./usr/lib/systemd/system/jumelix-systeme@.service ./usr/lib/systemd/system/jumelix-systeme@.timer \
  ./usr/share/jumelix/durcissement-utilisateur.conf ./usr/share/doc/jumelix/README.md \
  ./usr/share/bash-completion/completions/jumelix; do
  grep -qxF "$f" <<<"$contents" && ok "contient $f" || fail "le paquet ne contient pas $f"
done

# Every shared library the program and its window program need must come from a package
# named in Depends, or apt-get would install a program that cannot start.
dep_names=$(sed 's/^ *//; s/[ (:].*//' <<<"${depends//[,|]/$'\n'}")
mkdir "$tmp/extrait"
dpkg-deb -x "$deb" "$tmp/extrait"
while read -r soname; do
  # awk reads ldconfig to the end: leaving early would kill ldconfig with SIGPIPE, and
  # pipefail would then end the whole script without a word.
  path=$(ldconfig -p | awk -v s="$soname" '$1 == s && /x86-64|x86_64|64bit/ && !p {print $NF; p=1}')
  [ -n "$path" ] || path=$(ldconfig -p | awk -v s="$soname" '$1 == s && !p {print $NF; p=1}')
  owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -n1 | cut -d: -f1 || true)
  [ -n "$owner" ] || owner=$(dpkg -S "$path" 2>/dev/null | head -n1 | cut -d: -f1 || true)
  if [ -z "$owner" ]; then
    fail "bibliothèque $soname : paquet propriétaire introuvable"
  elif grep -qxF "$owner" <<<"$dep_names"; then
    ok "$soname fournie par $owner, dans Depends"
  else
    fail "$soname vient de $owner, absent de Depends ($depends)"
  fi
done < <(for f in usr/bin/jumelix usr/lib/jumelix/jumelix-fenetre; do
  readelf -d "$tmp/extrait/$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
done | sort -u)
# A run from cron or a timer must not load the windows' toolkit.
if qt=$(readelf -d "$tmp/extrait/usr/bin/jumelix" | grep -o 'libQt[^]]*'); then
  fail "/usr/bin/jumelix dépend de Qt : $(paste -sd ' ' <<<"$qt")"
else
  ok "/usr/bin/jumelix ne dépend d'aucune bibliothèque Qt"
fi

echo "== Installation par apt-get"
if installed; then
  note "jumelix était déjà installé : retrait d'abord, pour installer ce paquet-ci"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq jumelix >/dev/null
fi
if ! (cd "$tmp" && DEBIAN_FRONTEND=noninteractive apt-get install -y "./$(basename "$deb")") \
  >"$tmp/apt.log" 2>&1; then
  cat "$tmp/apt.log"
fi
installed && ok "paquet installé" || { fail "apt-get n'a pas installé le paquet"; exit 1; }
[ "$(command -v jumelix)" = /usr/bin/jumelix ] && ok "jumelix est /usr/bin/jumelix" ||
  fail "jumelix dans le PATH : '$(command -v jumelix || true)'"

echo "== jumelix --version, --help"
if out=$(/usr/bin/jumelix --version 2>&1); then
  grep -qF "$version" <<<"$out" && ok "--version : $out" ||
    fail "--version n'affiche pas $version : $out"
else
  fail "--version a rendu $? : $out"
fi
if out=$(/usr/bin/jumelix --help 2>&1); then
  grep -q "/S" <<<"$out" && ok "--help mentionne /S" || fail "--help ne mentionne pas /S : $out"
else
  fail "--help a rendu $? : $out"
fi

# The service-mode runs use a fresh home and no display: /S must need neither.
home=$tmp/home
mkdir -p "$home"
run_service() {  # list file, extra env assignments...
  local liste=$1; shift
  env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 "$@" \
    timeout 120 /usr/bin/jumelix /S "$liste" >"$tmp/sortie" 2>&1
}
make_pair() {  # base dir: a source tree and a destination holding one stray file
  mkdir -p "$1/données source/sous" "$1/cible"
  printf 'premier fichier\n' >"$1/données source/a.txt"
  printf 'second fichier\n' >"$1/données source/sous/b.txt"
  printf 'à supprimer\n' >"$1/cible/orphelin.txt"
}
write_list() {  # list file, source, destination
  printf 'Répertoire source\r\nRépertoire cible\r\n%s\r\n%s\r\n' "$2" "$3" >"$1"
}
check_mirror() {  # base dir, what
  if cmp -s "$1/données source/a.txt" "$1/cible/a.txt" &&
    cmp -s "$1/données source/sous/b.txt" "$1/cible/sous/b.txt" &&
    [ ! -e "$1/cible/orphelin.txt" ]; then
    ok "$2 : la cible est le miroir de la source"
  else
    fail "$2 : la cible n'est pas le miroir de la source ($(cd "$1/cible" && find . | sort | tr '\n' ' '))"
  fi
}
check_log() {  # log file, expected text, what
  if [ ! -f "$1" ]; then
    fail "$3 : pas de journal $1"
  elif grep -qF -- "$2" "$1"; then
    ok "$3 : le journal $1 contient « $2 »"
  else
    fail "$3 : le journal $1 ne contient pas « $2 »"
  fi
}

echo "== jumelix /S depuis /usr/bin/jumelix"
make_pair "$tmp/s1"
write_list "$tmp/s1/liste.ini" "$tmp/s1/données source" "$tmp/s1/cible"
if run_service "$tmp/s1/liste.ini"; then
  ok "/S a rendu 0"
else
  rc=$?
  if grep -q "en construction" "$tmp/sortie"; then
    fail "/S n'est pas encore en place dans src/main.cpp (code $rc : $(head -c 200 "$tmp/sortie"))"
  else
    fail "/S a rendu $rc pour une synchronisation sans erreur : $(head -c 500 "$tmp/sortie")"
  fi
fi
check_mirror "$tmp/s1" "/S"
log=$home/.local/state/jumelix/jumelix.log
check_log "$log" "Debut synchronisation, fichier $tmp/s1/liste.ini" "/S"
check_log "$log" "Synchronisation terminée. Nombre d'erreurs 0" "/S"

make_pair "$tmp/s2"
write_list "$tmp/s2/liste.ini" "$tmp/s2/données source" "$tmp/s2/cible"
run_service "$tmp/s2/liste.ini" XDG_STATE_HOME="$tmp/etat" || fail "/S avec XDG_STATE_HOME a rendu $?"
check_log "$tmp/etat/jumelix/jumelix.log" "Debut synchronisation, fichier $tmp/s2/liste.ini" \
  "/S avec XDG_STATE_HOME"

rc=0
run_service "$tmp/absente.ini" || rc=$?
[ "$rc" -eq 1 ] && ok "/S sur une liste absente rend 1" ||
  fail "/S sur une liste absente a rendu $rc au lieu de 1 : $(head -c 300 "$tmp/sortie")"
check_log "$log" "ERREUR : Fichier non trouvé : $tmp/absente.ini" "/S sur une liste absente"

echo "== Fenêtre (comme depuis le menu : jumelix fichier-liste)"
# dpkg-shlibdeps sees the linked libraries only; the Qt platform plugin is loaded at run
# time, so start the window on a virtual X server and check that it stays up.
if ! command -v Xvfb >/dev/null; then
  note "Xvfb absent : démarrage de la fenêtre non vérifié"
else
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$tmp/ecran" 2>"$tmp/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$tmp/ecran" ] && break; sleep 0.1; done
  if [ ! -s "$tmp/ecran" ]; then
    fail "Xvfb n'a pas démarré : $(head -c 300 "$tmp/xvfb.log")"
  else
    env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 DISPLAY=":$(cat "$tmp/ecran")" \
      /usr/bin/jumelix "$tmp/s1/liste.ini" >"$tmp/sortie" 2>&1 &
    gui_pid=$!
    sleep 4
    if kill -0 "$gui_pid" 2>/dev/null; then
      ok "la fenêtre tourne depuis 4 s"
      image=$(readlink "/proc/$gui_pid/exe" || true)
      [ "$image" = /usr/lib/jumelix/jumelix-fenetre ] &&
        ok "jumelix a laissé sa place à /usr/lib/jumelix/jumelix-fenetre" ||
        fail "la fenêtre tourne dans '$image', pas dans /usr/lib/jumelix/jumelix-fenetre"
      kill "$gui_pid"
    else
      wait "$gui_pid" && rc=0 || rc=$?
      fail "la fenêtre s'est arrêtée aussitôt (code $rc) : $(head -c 500 "$tmp/sortie")"
    fi
    wait "$gui_pid" 2>/dev/null || true
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
fi

echo "== Page de manuel"
exclusion=$(grep -lsE '^[[:space:]]*path-exclude[[:space:]]*=?[[:space:]]*/usr/share/man' \
  /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/* | paste -sd ' ' || true)
man_env=()
if page=$(man -w jumelix 2>/dev/null) && [ "$page" = /usr/share/man/man1/jumelix.1.gz ]; then
  ok "man -w jumelix : $page"
elif [ -n "$exclusion" ] && [ ! -e /usr/share/man/man1/jumelix.1.gz ]; then
  note "dpkg n'installe pas /usr/share/man sur cette machine (path-exclude dans $exclusion) :"
  note "la page est vérifiée telle qu'elle est dans le paquet"
  man_env=(MANPATH="$tmp/extrait/usr/share/man")
  page=$(MANPATH="$tmp/extrait/usr/share/man" man -w jumelix 2>/dev/null || true)
  [ -n "$page" ] && ok "page trouvée dans le paquet : $page" || fail "page absente du paquet"
else
  fail "man -w jumelix ne trouve pas la page installée ('${page:-}')"
fi
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l \
  "$tmp/extrait/usr/share/man/man1/jumelix.1.gz" 2>&1 >"$tmp/page.txt" || true)
if [ -z "$warnings" ] && grep -q "CODE DE RETOUR" "$tmp/page.txt"; then
  ok "la page se met en forme sans avertissement"
else
  fail "mise en forme de la page : ${warnings:-section CODE DE RETOUR absente}"
fi

echo "== Entrée de menu et icône"
if out=$(desktop-file-validate /usr/share/applications/jumelix.desktop 2>&1) && [ -z "$out" ]; then
  ok "desktop-file-validate n'a rien à redire"
else
  fail "desktop-file-validate : $out"
fi
icon=/usr/share/icons/hicolor/scalable/apps/jumelix.svg
grep -q "<svg" "$icon" 2>/dev/null && ok "icône $icon" || fail "icône $icon absente ou pas en SVG"

echo "== Unités de systemd"
units=/usr/lib/systemd/user
sysunits=/usr/lib/systemd/system
durci=/usr/share/jumelix/durcissement-utilisateur.conf
for f in "$units/jumelix@.service" "$sysunits/jumelix-systeme@.service"; do
  grep -qx 'ExecStart="/usr/bin/jumelix" /S "%E/jumelix/%i.ini"' "$f" &&
    ok "$(basename "$f") lance /usr/bin/jumelix /S" || fail "ExecStart inattendu dans $f"
  grep -qE '^TimeoutStartSec=[1-9][0-9]*h$' "$f" &&
    ok "$(basename "$f") a un délai de démarrage en heures" ||
    fail "pas de TimeoutStartSec en heures dans $f : une nuit bloquée bloquerait les suivantes"
done
grep -qxF "#   ln -s $durci ~/.config/systemd/user/jumelix@.service.d/" "$durci" &&
  grep -qF "$durci" "$units/jumelix@.service" && ok "l'unité utilisateur et $durci citent $durci" ||
  fail "chemin de $durci absent de son mode d'emploi ou de l'unité utilisateur"
# The user unit with its optional hardening, as systemd reads a drop-in: the [Service] lines
# added after the unit's own.
mkdir "$tmp/durci"
cat "$units/jumelix@.service" "$durci" >"$tmp/durci/jumelix@.service"
if ! command -v systemd-analyze >/dev/null; then
  note "systemd-analyze absent : vérification des unités sautée"
else
  verify() {  # what, extra options, unit files...
    local what=$1 opts=$2 runtime out rc
    shift 2
    runtime=$(mktemp -d)
    # verify also runs man for the Documentation= line.
    # shellcheck disable=SC2086
    out=$(env "${man_env[@]}" XDG_RUNTIME_DIR="$runtime" systemd-analyze verify $opts "$@" 2>&1) &&
      rc=0 || rc=$?
    rm -rf "$runtime"
    if [ "$rc" -eq 0 ] && [ -z "$out" ]; then
      ok "systemd-analyze verify $what : rien à redire"
    elif grep -qE "Failed to (initialize manager|lookup RuntimeDirectory|connect)" <<<"$out"; then
      note "systemd-analyze ne peut pas s'exécuter ici, $what non vérifiée : $(head -n1 <<<"$out")"
    else
      fail "systemd-analyze verify $what : $out"
    fi
  }
  verify "des unités utilisateur" --user "$units/jumelix@.service" "$units/jumelix@.timer"
  verify "de l'unité utilisateur durcie" --user "$tmp/durci/jumelix@.service"
  verify "des unités système" "" "$sysunits/jumelix-systeme@.service" "$sysunits/jumelix-systeme@.timer"
  for timer in "$units/jumelix@.timer" "$sysunits/jumelix-systeme@.timer"; do
    calendar=$(sed -n 's/^OnCalendar=//p' "$timer")
    systemd-analyze calendar "$calendar" >/dev/null 2>&1 &&
      ok "$(basename "$timer") : OnCalendar=$calendar valide" || fail "$timer : OnCalendar=$calendar refusé"
  done
  # Exposure as systemd-analyze rates it (0 best, 10 worst). Each limit is the score the unit
  # has now, without slack: the rating is fixed for a given systemd (252 on Debian 12) and
  # shown in steps of 0.1, and losing one directive often costs only that step (ProtectProc=
  # moves the system unit from 4.1 to 4.2), so any slack would let a lost protection pass. A
  # newer systemd that rates differently means measuring again. The user unit as shipped
  # cannot go lower while a set-ID sendmail must deliver (see its comments); the limit on it
  # with its optional hardening keeps that drop-in whole.
  while read -r limite fichier; do
    out=$(systemd-analyze security --offline=true --no-pager "$fichier" 2>&1) || true
    score=$(sed -n 's/^→ Overall exposure level for .*: \([0-9.]*\) .*/\1/p' <<<"$out")
    nom=${fichier#"$tmp/"}
    if [ -z "$score" ]; then
      note "systemd-analyze security ne note pas $nom ici : $(tail -n1 <<<"$out")"
    elif awk -v s="$score" -v l="$limite" 'BEGIN { exit !(s <= l) }'; then
      ok "exposition de $nom : $score (au plus $limite)"
    else
      fail "exposition de $nom : $score, au-dessus de $limite"
    fi
  done <<EOF
4.1 $sysunits/jumelix-systeme@.service
9.6 $units/jumelix@.service
6.6 $tmp/durci/jumelix@.service
EOF
fi

# The units' commands run as their managers would run them, under the restrictions of their
# [Service] sections that can be had without a service manager (none runs in a container):
# UMask=, CapabilityBoundingSet=, NoNewPrivileges=, MemoryDenyWriteExecute= (the kernel's
# PR_SET_MDWE), SystemCallFilter= with SystemCallErrorNumber= on the native architecture,
# RestrictAddressFamilies=, RestrictNamespaces=; for the system unit, ProtectProc=invisible,
# ProcSubset=pid and ProtectHostname= through namespaces of its own. Not reproduced, as the
# program touches neither /sys, /proc/sys, the kernel log, cgroups nor realtime or
# personality calls: ProtectKernel*=, ProtectControlGroups=, PrivateMounts=,
# RestrictRealtime=, LockPersonality=.
cat >"$tmp/bac-a-sable.py" <<'EOF'
import ctypes, errno, os, socket, subprocess, sys

unite, commande = sys.argv[1], sys.argv[2:]
reglages, filtres, section = {}, [], None
for ligne in open(unite, encoding="utf-8"):
    ligne = ligne.strip()
    if ligne.startswith("["):
        section = ligne
    elif section == "[Service]" and "=" in ligne and ligne[0] not in "#;":
        cle, valeur = ligne.split("=", 1)
        if cle == "SystemCallFilter":
            filtres.append(valeur)
        else:
            reglages[cle] = valeur
oui = lambda cle: reglages.get(cle, "no") in ("yes", "true", "1", "on")

def appels(groupe, vus):
    if groupe in vus:
        return set()
    vus.add(groupe)
    noms = set()
    texte = subprocess.run(["systemd-analyze", "syscall-filter", groupe], check=True,
                           capture_output=True, text=True).stdout
    for l in texte.splitlines()[1:]:
        l = l.split("#")[0].strip()
        if l:
            noms |= appels(l, vus) if l.startswith("@") else {l}
    return noms

libc = ctypes.CDLL(None, use_errno=True)
if "UMask" in reglages:
    os.umask(int(reglages["UMask"], 8))
if "CapabilityBoundingSet" in reglages:
    garder = set(reglages["CapabilityBoundingSet"].split())
    noms = """CHOWN DAC_OVERRIDE DAC_READ_SEARCH FOWNER FSETID KILL SETGID SETUID SETPCAP
        LINUX_IMMUTABLE NET_BIND_SERVICE NET_BROADCAST NET_ADMIN NET_RAW IPC_LOCK IPC_OWNER
        SYS_MODULE SYS_RAWIO SYS_CHROOT SYS_PTRACE SYS_PACCT SYS_ADMIN SYS_BOOT SYS_NICE
        SYS_RESOURCE SYS_TIME SYS_TTY_CONFIG MKNOD LEASE AUDIT_WRITE AUDIT_CONTROL SETFCAP
        MAC_OVERRIDE MAC_ADMIN SYSLOG WAKE_ALARM BLOCK_SUSPEND AUDIT_READ PERFMON BPF
        CHECKPOINT_RESTORE""".split()
    numero = 0
    while libc.prctl(23, numero, 0, 0, 0) >= 0:  # PR_CAPBSET_READ: up to the last one
        nom = "CAP_" + noms[numero] if numero < len(noms) else ""
        if nom not in garder and libc.prctl(24, numero, 0, 0, 0) != 0:  # PR_CAPBSET_DROP
            sys.exit("PR_CAPBSET_DROP %d : %s" % (numero, os.strerror(ctypes.get_errno())))
        numero += 1
if oui("NoNewPrivileges"):
    libc.prctl(38, 1, 0, 0, 0)  # PR_SET_NO_NEW_PRIVS
if oui("MemoryDenyWriteExecute") and libc.prctl(65, 1, 0, 0, 0) != 0:  # PR_SET_MDWE
    sys.exit("PR_SET_MDWE : " + os.strerror(ctypes.get_errno()))
if filtres:
    import seccomp
    permis = set()
    for f in filtres:
        noms = set()
        for mot in f.lstrip("~").split():
            noms |= appels(mot, set()) if mot.startswith("@") else {mot}
        permis = permis - noms if f.startswith("~") else permis | noms
    code = getattr(errno, reglages.get("SystemCallErrorNumber", ""), None)
    filtre = seccomp.SyscallFilter(seccomp.ERRNO(code) if code else seccomp.KILL_PROCESS)
    # As systemd for a root service: no NoNewPrivileges unless the unit asks for it.
    filtre.set_attr(seccomp.Attr.CTL_NNP, 1 if oui("NoNewPrivileges") else 0)
    familles = reglages.get("RestrictAddressFamilies", "").split()
    espaces = 0x7E020000  # CLONE_NEWNS|NEWCGROUP|NEWUTS|NEWIPC|NEWUSER|NEWPID|NEWNET
    for nom in sorted(permis):
        try:
            if seccomp.resolve_syscall(seccomp.Arch.NATIVE, nom) == -1:
                continue  # newer than this libseccomp
        except (ValueError, RuntimeError):
            continue
        if nom == "socket" and familles:
            for f in familles:
                filtre.add_rule(seccomp.ALLOW, nom, seccomp.Arg(0, seccomp.EQ, getattr(socket, f)))
        elif nom in ("unshare", "setns") and oui("RestrictNamespaces"):
            continue
        elif nom == "clone" and oui("RestrictNamespaces"):
            filtre.add_rule(seccomp.ALLOW, nom, seccomp.Arg(0, seccomp.MASKED_EQ, espaces, 0))
        elif nom == "clone3" and oui("RestrictNamespaces"):
            filtre.add_rule(seccomp.ERRNO(errno.ENOSYS), nom)  # its flags cannot be seen
        else:
            filtre.add_rule(seccomp.ALLOW, nom)
    filtre.load()
os.execvp(commande[0], commande)
EOF
unit_command() {  # unit file, value of %E[, value of %L]: its environment then its command
  local ligne
  ligne="$(sed -n 's/^Environment=//p' "$1") $(sed -n 's/^ExecStart=//p' "$1")"
  ligne=${ligne//%E/$2}
  ligne=${ligne//%L/${3:-}}
  echo "${ligne//%i/sauvegarde}"
}
sandbox=(/usr/bin/python3 "$tmp/bac-a-sable.py")  # unit file, command...

# Runs the command of the user unit `unit` for the user whose home is `home` (its list there
# names `pair`), in the sandbox, behind `prefix` (another user); then the mirror must be
# whole, with the source's modes whatever the unit's UMask.
user_unit_run() {  # unit label home pair [prefix...]
  local unit=$1 label=$2 maison=$3 pair=$4 mode
  shift 4
  local -a prefix=("$@")
  eval "set -- $(unit_command "$unit" "$maison/.config")"
  if env -i PATH=/usr/bin:/bin HOME="$maison" LANG=C.UTF-8 timeout 120 "${prefix[@]}" \
    "${sandbox[@]}" "$unit" "$@" >"$tmp/sortie" 2>&1; then
    ok "$label : rendu 0"
  else
    fail "$label ($*) a rendu $? : $(head -c 300 "$tmp/sortie")"
  fi
  check_mirror "$pair" "$label"
  mode=$(stat -c %a "$pair/cible/sous" 2>&1 || true)
  [ "$mode" = 755 ] && ok "$label : droits de la source malgré UMask=0077" ||
    fail "$label : cible/sous en $mode au lieu de 755"
}

# jumelix@sauvegarde.service (%E is $XDG_CONFIG_HOME, by default ~/.config), as shipped, then
# with its optional hardening, run by an unprivileged user.
make_pair "$tmp/s3"
mkdir -p "$home/.config/jumelix"
write_list "$home/.config/jumelix/sauvegarde.ini" "$tmp/s3/données source" "$tmp/s3/cible"
user_unit_run "$units/jumelix@.service" "jumelix@sauvegarde.service" "$home" "$tmp/s3"

if ! /usr/bin/python3 -c 'import seccomp' 2>/dev/null; then
  note "python3-seccomp absent : unités durcies non essayées"
else
  nobody=$tmp/nobody
  make_pair "$nobody/s4"
  mkdir -p "$nobody/.config/jumelix"
  write_list "$nobody/.config/jumelix/sauvegarde.ini" "$nobody/s4/données source" "$nobody/s4/cible"
  chmod 0755 "$nobody/s4/données source/sous"
  chown -R 65534:65534 "$nobody"
  user_unit_run "$tmp/durci/jumelix@.service" "jumelix@sauvegarde.service durcie, pour nobody" \
    "$nobody" "$nobody/s4" setpriv --reuid=65534 --regid=65534 --clear-groups

  # jumelix-systeme@sauvegarde.service: settings and lists under %E (/etc), log under %L
  # (/var/log), here both in $tmp. The pair holds what only root can mirror: other owners,
  # a set-UID file, a device node; the report goes through a sendmail program.
  racine=$tmp/racine
  make_pair "$racine"
  src="$racine/données source"
  chown 1234:4321 "$src/a.txt"
  chmod 640 "$src/a.txt"
  chmod 4750 "$src/sous/b.txt"
  mknod "$src/nul" c 1 3
  mkdir -p "$racine/etc/jumelix"
  write_list "$racine/etc/jumelix/sauvegarde.ini" "$src" "$racine/cible"
  printf '#!/bin/sh\ncat >"%s/courriel"\n' "$racine" >"$racine/sendmail"
  chmod 755 "$racine/sendmail"
  printf 'Addr=root@localhost\nQdServ=SCF\nTransport=sendmail\nSendmail=%s\n' "$racine/sendmail" \
    >"$racine/etc/jumelix/JumelixConfig.dat"
  chmod 600 "$racine/etc/jumelix/JumelixConfig.dat"
  eval "set -- $(unit_command "$sysunits/jumelix-systeme@.service" "$racine/etc" "$racine/log")"
  env=()
  while [ "$1" != /usr/bin/jumelix ]; do env+=("$1"); shift; done
  if env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "${env[@]}" timeout 120 \
    unshare --mount --uts --pid --fork --kill-child sh -c \
    'mount -t proc -o hidepid=invisible,subset=pid proc /proc && exec "$@"' sh \
    "${sandbox[@]}" "$sysunits/jumelix-systeme@.service" "$@" \
    >"$tmp/sortie" 2>&1; then
    ok "jumelix-systeme@sauvegarde.service durcie : rendu 0"
  else
    fail "jumelix-systeme@sauvegarde.service durcie a rendu $? : $(head -c 300 "$tmp/sortie")"
  fi
  check_mirror "$racine" "jumelix-systeme@sauvegarde.service"
  attendu="1234:4321 640 4750 c:1:3"
  obtenu="$(stat -c %u:%g "$racine/cible/a.txt") $(stat -c %a "$racine/cible/a.txt")"
  obtenu+=" $(stat -c %a "$racine/cible/sous/b.txt")"
  obtenu+=" $([ -c "$racine/cible/nul" ] && stat -c c:%t:%T "$racine/cible/nul")"
  [ "$obtenu" = "$attendu" ] &&
    ok "jumelix-systeme@sauvegarde.service : propriétaire, set-UID et périphérique copiés" ||
    fail "jumelix-systeme@sauvegarde.service : « $obtenu » au lieu de « $attendu »"
  check_log "$racine/log/jumelix/jumelix.log" "Synchronisation terminée. Nombre d'erreurs 0" \
    "jumelix-systeme@sauvegarde.service"
  grep -q "^Subject: Jumelix .* : Ok" "$racine/courriel" 2>/dev/null &&
    ok "jumelix-systeme@sauvegarde.service : compte rendu remis à sendmail" ||
    fail "jumelix-systeme@sauvegarde.service : pas de compte rendu passé à sendmail"
fi

echo "== Retrait par apt-get"
files=$(dpkg -L jumelix | while read -r f; do [ -d "$f" ] || echo "$f"; done)
DEBIAN_FRONTEND=noninteractive apt-get remove -y jumelix >"$tmp/apt.log" 2>&1 || cat "$tmp/apt.log"
removed=1
installed && fail "jumelix est encore installé" || ok "paquet retiré"
[ ! -e /usr/bin/jumelix ] && ok "/usr/bin/jumelix a disparu" || fail "/usr/bin/jumelix est resté"
left=$(while read -r f; do [ -e "$f" ] && echo "$f"; done <<<"$files" || true)
[ -z "$left" ] && ok "aucun fichier du paquet ne reste" || fail "fichiers restés : $left"
[ ! -e /usr/share/jumelix ] && ok "/usr/share/jumelix a disparu" || fail "/usr/share/jumelix est resté"

echo
if [ ${#failures[@]} -eq 0 ]; then
  echo "Paquet vérifié : tout est en ordre."
else
  echo "Vérification du paquet : ${#failures[@]} échec(s) :"
  printf '  - %s\n' "${failures[@]}"
  exit 1
fi

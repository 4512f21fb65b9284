#!/usr/bin/env python3
"""Helpers of bench/run.sh: builds the test trees, changes a share of their files, and
turns the raw measurements into the comparison table.

  bench_tool.py small  DIR NFILES NDIRS   files of 0-8 KiB spread over NDIRS directories
  bench_tool.py attrs  DIR NFILES NDIRS   the same with attributes, ACLs and hard links
  bench_tool.py flat   DIR NFILES         files of 0-8 KiB in one directory
  bench_tool.py medium DIR NFILES NDIRS   files of 4-64 KiB spread over NDIRS directories
                                          (the network series, bench/reseau.sh)
  bench_tool.py big    DIR NFILES MIB     NFILES files of MIB MiB each
  bench_tool.py names  DIR NDIRS NFILES   NFILES files of 0-64 bytes in each of NDIRS sibling
                                          directories (0: in DIR itself), with names of 15 to
                                          25 bytes like those of a user's files (memory scenarios)
  bench_tool.py subdirs DIR NDIRS         NDIRS empty directories in DIR, named the same way
  bench_tool.py entries DIR NENTRIES      NENTRIES entries in DIR: directories of 1 000, each
                                          holding 999 empty files (the excluded subtree)
  bench_tool.py change DIR PERCENT ROUND  changes content, size and mtime of PERCENT % of the
                                          files (another share for every ROUND); prints the count
  bench_tool.py table  RESULTS.tsv [MIB]  prints the table of medians and ratios; MIB, the
                                          size of tree c, adds its copy throughputs
  bench_tool.py reseau RESULTS.tsv NFILES the network series' table (bench/reseau.sh)

Contents are random (not sparse, not compressible); mtimes of new files are spread over the
past year so that a changed file (mtime: now) is never within any time tolerance of its
old version.
"""
import os
import random
import re
import struct
import sys
import time

SMALL_MAX = 8192
CHUNK = 1 << 20


def _rand(n):
    return random.randbytes(n)


def _old_mtime_ns(rng):
    return int((time.time() - 86400 * 2 - rng.random() * 86400 * 365) * 1e9)


def _write_small(path, rng, lo=0, hi=SMALL_MAX):
    with open(path, "wb") as f:
        f.write(_rand(rng.randrange(lo, hi + 1)))
    t = _old_mtime_ns(rng)
    os.utime(path, ns=(t, t))


def gen_small(root, nfiles, ndirs, lo=0, hi=SMALL_MAX):
    rng = random.Random(1)
    os.makedirs(root, exist_ok=True)
    per_dir, extra = divmod(nfiles, ndirs)
    k = 0
    for d in range(ndirs):
        sub = os.path.join(root, "rep%04d" % d)
        os.makedirs(sub, exist_ok=True)
        for _ in range(per_dir + (1 if d < extra else 0)):
            _write_small(os.path.join(sub, "fichier%06d.dat" % k), rng, lo, hi)
            k += 1


def _acl(uid):
    """A POSIX access ACL as the kernel stores it: version 2, then (tag, permissions, id)
    entries in tag order: owner rw, the user `uid` r, group r, mask r, others r."""
    entries = [(0x01, 6, 0xFFFFFFFF), (0x02, 4, uid), (0x04, 4, 0xFFFFFFFF),
               (0x10, 4, 0xFFFFFFFF), (0x20, 4, 0xFFFFFFFF)]
    return struct.pack("<I", 2) + b"".join(struct.pack("<HHI", *e) for e in entries)


def gen_attrs(root, nfiles, ndirs):
    """Tree a's shape with what a backup must not lose: every 4th file carries two user.*
    attributes, every 16th an ACL, every 8th a second name (a hard link) in liens/, every
    4th directory an attribute and a default ACL. Prints the number of names."""
    gen_small(root, nfiles, ndirs)
    files = all_files(root)
    liens = os.path.join(root, "liens")
    os.makedirs(liens)
    noms = len(files)
    for i, f in enumerate(files):
        if i % 4 == 0:
            os.setxattr(f, "user.origine", b"banc d'essai")
            os.setxattr(f, "user.empreinte", _rand(16).hex().encode())
        if i % 16 == 0:
            os.setxattr(f, "system.posix_acl_access", _acl(65534))
        if i % 8 == 0:
            os.link(f, os.path.join(liens, "lien%06d" % (i // 8)))
            noms += 1
    for j, d in enumerate(sorted(os.listdir(root))):
        if j % 4 == 0 and d != "liens":
            p = os.path.join(root, d)
            os.setxattr(p, "user.classement", b"rep")
            os.setxattr(p, "system.posix_acl_default", _acl(65534))
    print(noms)


def gen_flat(root, nfiles):
    rng = random.Random(2)
    os.makedirs(root, exist_ok=True)
    for k in range(nfiles):
        _write_small(os.path.join(root, "fichier%06d.dat" % k), rng)


def gen_big(root, nfiles, mib):
    rng = random.Random(3)
    os.makedirs(root, exist_ok=True)
    for k in range(nfiles):
        path = os.path.join(root, "gros%02d.bin" % k)
        with open(path, "wb") as f:
            for _ in range(mib):
                f.write(_rand(CHUNK))
        t = _old_mtime_ns(rng)
        os.utime(path, ns=(t, t))


# Stems and extensions of the names made by gen_names: lengths spread over 15-25 bytes.
_STEMS = ("IMG_", "facture-", "rapport_", "notes ", "photo-", "DSC", "releve_", "scan")
_EXTS = (".jpg", ".pdf", ".txt", ".docx", ".png", ".odt")


def _name(rng, k):
    stem = rng.choice(_STEMS)
    ext = rng.choice(_EXTS)
    digits = "%d" % k
    pad = rng.randrange(15, 26) - len(stem) - len(ext) - len(digits)
    return stem + "0" * max(0, pad) + digits + ext


def gen_names(root, ndirs, nfiles):
    rng = random.Random(4)
    os.makedirs(root, exist_ok=True)
    dirs = [os.path.join(root, "dossier%02d" % d) for d in range(ndirs)] or [root]
    for d in dirs:
        os.makedirs(d, exist_ok=True)
        for k in range(nfiles):
            path = os.path.join(d, _name(rng, k))
            with open(path, "wb") as f:
                f.write(_rand(rng.randrange(65)))
            t = _old_mtime_ns(rng)
            os.utime(path, ns=(t, t))


def gen_subdirs(root, ndirs):
    rng = random.Random(5)
    os.makedirs(root, exist_ok=True)
    for k in range(ndirs):
        os.mkdir(os.path.join(root, _name(rng, k)))


def gen_entries(root, n):
    os.makedirs(root, exist_ok=True)
    k = 0
    while k < n:
        sub = os.path.join(root, "lot%05d" % (k // 1000))
        os.mkdir(sub)
        k += 1
        for j in range(min(999, n - k)):
            os.close(os.open(os.path.join(sub, "v%03d" % j), os.O_CREAT | os.O_WRONLY, 0o644))
            k += 1


def all_files(root):
    out = []
    for d, _, files in os.walk(root):
        out.extend(os.path.join(d, n) for n in files)
    out.sort()
    return out


def change(root, percent, round_no):
    files = all_files(root)
    step = max(1, round(100 / percent))
    chosen = [p for i, p in enumerate(files) if i % step == round_no % step]
    if not chosen and files:
        chosen = [files[round_no % len(files)]]
    for p in chosen:
        size = os.path.getsize(p)
        if size > 4 * CHUNK:
            # Large file: new first MiB and one more byte, written in place.
            with open(p, "r+b") as f:
                f.write(_rand(CHUNK))
                f.seek(0, os.SEEK_END)
                f.write(_rand(1))
        else:
            with open(p, "wb") as f:
                f.write(_rand(size + 1 + random.randrange(64)))
        os.utime(p, None)
    print(len(chosen))


def _median(v):
    v = sorted(v)
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2


def table(path, mib_c=None):
    """RESULTS.tsv lines: cache tree scenario tool seconds rss_kib cpu_seconds. Prints, for each cache
    mode, the medians and ratios with the goal of each row (against rsync, and against rclone
    when it was measured), the throughputs of the first copy of tree c when its size MIB_C is
    given, then the linearity and memory checks."""
    modes = {}
    with open(path) as f:
        for line in f:
            mode, tree, scen, tool, sec, rss, cpu = line.rstrip("\n").split("\t")
            data, order = modes.setdefault(mode, ({}, []))
            key = (tree, scen)
            if key not in data:
                data[key] = {}
                order.append(key)
            data[key].setdefault(tool, []).append((float(sec), int(rss), float(cpu)))
    titles = {"froid": "cache de pages vidé avant chaque mesure",
              "chaud": "un passage non chronométré avant chaque mesure"}
    for mode, (data, order) in modes.items():
        n = max(len(v) for d in data.values() for v in d.values())
        print("### Cache %s (%s ; médianes de %d mesures au plus)"
              % (mode, titles.get(mode, mode), n))
        print()
        _table_mode(data, order, mib_c)
        print()


def _peer_cells(shown, t, ratio):
    """The time and ratio cells of a tool compared with Jumelix: none when the table has no
    column for it, "-" when it was not measured, or its time of zero leaves no ratio."""
    if not shown:
        return "", ""
    if t is None:
        return " - |", " - |"
    return " %.3f |" % t, " %s |" % (ratio(t) if t else "-")


def _table_mode(data, order, mib_c):
    def med(key, tool, i):
        v = data.get(key, {}).get(tool)
        return _median([x[i] for x in v]) if v else None

    _memory(data, order, med)
    _exclusions(data, order, med)
    if not any("rsync" in d for k, d in data.items() if not k[0].startswith("x:")):
        return  # the memory or the exclusions' scenarios alone
    rclone = any("rclone" in d for d in data.values())
    rsyncx = any("rsyncx" in d for d in data.values())
    head = ("| Arbre | Scénario | Jumelix (s) | rsync (s) |%s%s J/r temps |%s%s Objectif"
            " | J/r meilleurs | J/r CPU | Jumelix (Mio) | rsync (Mio) | J/r mém. |"
            % (" rsync -aHAX (s) |" if rsyncx else "",
               " rclone (s) |" if rclone else "",
               " J/rX temps (≤ 1) |" if rsyncx else "",
               " J/rc temps |" if rclone else ""))
    print(head)
    print("|" + "---|" * (head.count("|") - 1))
    lin, vide = [], None
    for key in order:
        if key[0].startswith("lin:"):
            lin.append(key)
            continue
        if key[0] == "vide":
            vide = key
            continue
        if key[0].startswith("x:"):
            continue  # the exclusions' own table
        if "jumelix" not in data[key] or "rsync" not in data[key]:
            continue  # an interrupted run
        jt, rt = med(key, "jumelix", 0), med(key, "rsync", 0)
        jm, rm = med(key, "jumelix", 1) / 1024, med(key, "rsync", 1) / 1024
        limit = 0.5 if "sans changement" in key[1] else 1.0
        ratio = jt / rt if rt else float("inf")
        goal = ("oui" if ratio <= limit else "NON") + " (≤ %.1f)" % limit
        jc, rc = med(key, "jumelix", 2), med(key, "rsync", 2)
        cpu = "%.2f" % (jc / rc) if rc else "-"
        # Ratio of the best times: the load of a shared machine only ever adds time.
        jb = min(x[0] for x in data[key]["jumelix"])
        rb = min(x[0] for x in data[key]["rsync"])
        best = "%.2f" % (jb / rb) if rb else "-"
        xpeer, xratio = _peer_cells(rsyncx, med(key, "rsyncx", 0),
                                    lambda xt: "%.2f %s" % (jt / xt, "oui" if jt <= xt else "NON"))
        peer, peer_ratio = _peer_cells(rclone, med(key, "rclone", 0), lambda ct: "%.2f" % (jt / ct))
        print("| %s | %s | %.3f | %.3f |%s%s %.2f |%s%s %s | %s | %s | %.1f | %.1f | %.2f |"
              % (key[0], key[1], jt, rt, xpeer, peer, ratio, xratio, peer_ratio, goal, best,
                 cpu, jm, rm, jm / rm))

    if mib_c:
        _throughputs(data, order, mib_c, med)
    _avant_apres(data, order, med)

    if len(lin) == 2:
        print()
        print("Linéarité (comparaison sans changement, répertoire à plat, médianes) :")
        print()
        for tool in ("jumelix", "rsync"):
            t1, t2 = med(lin[0], tool, 0), med(lin[1], tool, 0)
            c1, c2 = med(lin[0], tool, 2), med(lin[1], tool, 2)
            m1, m2 = med(lin[0], tool, 1) / 1024, med(lin[1], tool, 1) / 1024
            rc = c2 / c1 if c1 else float("nan")
            verdict = ""
            if tool == "jumelix":
                # CPU time is the work done; elapsed time also carries the machine's load.
                verdict = "  -> linéaire : " + ("oui" if min(t2 / t1, rc) <= 2.5 else "NON")
            print("- %-8s %s : %.3f s (CPU %.2f s), %s : %.3f s (CPU %.2f s) ; rapport %.2f"
                  " (CPU %.2f) ; mémoire %.1f -> %.1f Mio%s"
                  % (tool, lin[0][0][5:], t1, c1, lin[1][0][5:], t2, c2, t2 / t1, rc, m1, m2,
                     verdict))
    if vide and len(lin) == 2:
        print()
        print("Mémoire de pointe de Jumelix (comparaison sans changement, médianes) :")
        print()
        base = med(vide, "jumelix", 1) / 1024
        half = med(lin[0], "jumelix", 1) / 1024
        full = med(lin[1], "jumelix", 1) / 1024
        print("- paire vide : %.1f Mio ; %s : %.1f Mio ; %s : %.1f Mio"
              % (base, lin[0][0][5:], half, lin[1][0][5:], full))
        for key in order:
            if key[0].startswith("a:") and "comparaison" in key[1]:
                deep = med(key, "jumelix", 1) / 1024
                grow_full, grow_deep = full - base, deep - base
                ok = grow_deep <= max(0.25 * grow_full, 1.0)
                print("- %s : %.1f Mio (+%.1f au-dessus de la paire vide, contre +%.1f pour"
                      " le répertoire à plat) -> suit le plus grand répertoire, pas l'arbre : %s"
                      % (key[0], deep, grow_deep, grow_full, "oui" if ok else "NON"))


def _memory(data, order, med):
    """Scenario m: Jumelix's peak RSS on large directories against the empty pair, in bytes
    per entry; the number of entries is the product of the numbers in the tree's label."""
    keys = [k for k in order if k[0].startswith("m:")]
    base = next((k for k in keys if k[0] == "m: vide"), None)
    if base is None:
        return
    floor = med(base, "jumelix", 1)
    print("Mémoire de pointe de Jumelix (médianes ; octets par entrée = (pic - paire vide)"
          " / entrées) :")
    print()
    print("| Arbre | Scénario | Pic (Mio) | Au-dessus de la paire vide (Mio) | Octets par entrée |")
    print("|---|---|---|---|---|")
    print("| paire vide | %s | %.1f | - | - |" % (base[1], floor / 1024))
    for key in keys:
        if key == base:
            continue
        n = 1
        for x in re.findall(r"\d+", key[0]):
            n *= int(x)
        peak = med(key, "jumelix", 1)
        print("| %s | %s | %.1f | %.1f | %.0f |" % (key[0][3:], key[1], peak / 1024,
                                                     (peak - floor) / 1024,
                                                     (peak - floor) * 1024 / n))
    print()


def _exclusions(data, order, med):
    """Tree x: the same kept tree with no global pattern (the reference), with 50 global
    patterns that leave nothing out, and beside a large excluded subtree; each against the
    reference, for Jumelix and for rsync given the same exclusions."""
    keys = [k for k in order if k[0].startswith("x:")]
    scens = []
    for k in keys:
        if k[1] not in scens:
            scens.append(k[1])
    refs = {s: next((k for k in keys if k[1] == s and "témoin" in k[0]), None) for s in scens}
    if not any(refs.values()):
        return
    print("Exclusions (médianes ; rapport = variante / témoin ; objectif Jumelix ≤ 1,05) :")
    print()
    print("| Variante | Scénario | Jumelix (s) | Jumelix / témoin | Objectif | CPU / témoin"
          " | rsync (s) | rsync / témoin | Jumelix (Mio) |")
    print("|---|---|---|---|---|---|---|---|---|")
    for key in keys:
        ref = refs.get(key[1])
        jt, rt = med(key, "jumelix", 0), med(key, "rsync", 0)
        if jt is None or ref is None:
            continue
        j0, r0 = med(ref, "jumelix", 0), med(ref, "rsync", 0)
        if key == ref:
            ratio, goal, cpu, rratio = "-", "-", "-", "-"
        else:
            q = jt / j0 if j0 else float("inf")
            ratio = "%.2f" % q
            goal = "oui" if q <= 1.05 else "NON"
            # CPU time is the work done; elapsed time also carries the machine's load.
            c, c0 = med(key, "jumelix", 2), med(ref, "jumelix", 2)
            cpu = "%.2f" % (c / c0) if c0 else "-"
            rratio = "%.2f" % (rt / r0) if rt is not None and r0 else "-"
        rsync = "%.3f" % rt if rt is not None else "-"
        print("| %s | %s | %.3f | %s | %s | %s | %s | %s | %.1f |"
              % (key[0][3:], key[1], jt, ratio, goal, cpu, rsync, rratio,
                 med(key, "jumelix", 1) / 1024))
    print()


def _avant_apres(data, order, med):
    """BENCH_AVANT: an earlier Jumelix ("avant") measured in turn with this one on the same
    trees, under the same load; the ratios are after / before."""
    keys = [k for k in order if "avant" in data[k] and "jumelix" in data[k]]
    if not keys:
        return
    print()
    print("Avant / après (médianes ; rapport = après / avant) :")
    print()
    print("| Arbre | Scénario | avant (s) | après (s) | temps | meilleurs | CPU"
          " | avant (Mio) | après (Mio) |")
    print("|---|---|---|---|---|---|---|---|---|")
    for key in keys:
        at, jt = med(key, "avant", 0), med(key, "jumelix", 0)
        ac, jc = med(key, "avant", 2), med(key, "jumelix", 2)
        ab = min(x[0] for x in data[key]["avant"])
        jb = min(x[0] for x in data[key]["jumelix"])
        print("| %s | %s | %.3f | %.3f | %s | %s | %s | %.1f | %.1f |"
              % (key[0], key[1], at, jt, "%.2f" % (jt / at) if at else "-",
                 "%.2f" % (jb / ab) if ab else "-", "%.2f" % (jc / ac) if ac else "-",
                 med(key, "avant", 1) / 1024, med(key, "jumelix", 1) / 1024))


def _throughputs(data, order, mib_c, med):
    """Large files: the first synchronisation of tree c against the plain copy by cp, in MB/s
    (10^6 bytes per second, medians of the elapsed times)."""
    key = next((k for k in order if k[0].startswith("c:") and k[1].startswith("1re")), None)
    if key is None:
        return
    mb = mib_c * 1048576 / 1e6
    cp = med(key, "cp", 0)
    print()
    print("Gros fichiers, %s (%.0f Mo en tout ; débit = taille / médiane du temps écoulé) :"
          % (key[1], mb))
    print()
    print("| Outil | Temps (s) | Débit (Mo/s) | Débit / cp |")
    print("|---|---|---|---|")
    for tool, name in (("jumelix", "Jumelix"), ("rsync", "rsync"), ("rclone", "rclone"),
                       ("cp", "cp -a --reflink=never")):
        t = med(key, tool, 0)
        if t is None:
            continue
        rate = "%.0f" % (mb / t) if t else "-"
        rel = "%.2f" % (cp / t) if cp and t else "-"
        print("| %s | %.3f | %s | %s |" % (name, t, rate, rel))


def reseau(path, nfiles):
    """RESULTS.tsv lines of bench/reseau.sh: rtt side scenario tool seconds cpu requests.
    Medians of the times, the ratios against rsync and rclone, and the server's requests
    per file of each tool."""
    data, order = {}, []
    with open(path) as f:
        for line in f:
            rtt, side, scen, tool, sec, cpu, req = line.rstrip("\n").split("\t")
            key = (rtt, side, scen)
            if key not in data:
                data[key] = {}
                order.append(key)
            data[key].setdefault(tool, []).append((float(sec), float(cpu), int(req)))
    tools = [t for t in ("jumelix", "rsync", "rclone", "avant")
             if any(t in d for d in data.values())]

    def med(key, tool, i):
        v = data[key].get(tool)
        return _median([x[i] for x in v]) if v else None

    def ratio(a, b):
        return "%.2f" % (a / b) if a is not None and b else "-"

    head = "| Aller-retour | Côté réseau | Scénario |"
    head += "".join(" %s (s) |" % t for t in tools)
    head += " J/rsync | J/rclone |" if "rclone" in tools else " J/rsync |"
    if "avant" in tools:
        head += " après/avant |"
    head += "".join(" req./fichier %s |" % t for t in tools)
    print("Montage sshfs (médianes ; caches vidés et montage refait avant chaque mesure) :")
    print()
    print(head)
    print("|" + "---|" * (head.count("|") - 1))
    for key in order:
        j = med(key, "jumelix", 0)
        row = "| %s ms | %s | %s |" % key
        for t in tools:
            v = med(key, t, 0)
            row += " %s |" % ("%.2f" % v if v is not None else "-")
        row += " %s |" % ratio(j, med(key, "rsync", 0))
        if "rclone" in tools:
            row += " %s |" % ratio(j, med(key, "rclone", 0))
        if "avant" in tools:
            row += " %s |" % ratio(j, med(key, "avant", 0))
        for t in tools:
            q = med(key, t, 2)
            row += " %s |" % ("%.1f" % (q / nfiles) if q is not None else "-")
        print(row)


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cmd, root = argv[1], argv[2]
    if cmd == "small":
        gen_small(root, int(argv[3]), int(argv[4]))
    elif cmd == "attrs":
        gen_attrs(root, int(argv[3]), int(argv[4]))
    elif cmd == "flat":
        gen_flat(root, int(argv[3]))
    elif cmd == "medium":
        gen_small(root, int(argv[3]), int(argv[4]), 4096, 65536)
    elif cmd == "big":
        gen_big(root, int(argv[3]), int(argv[4]))
    elif cmd == "names":
        gen_names(root, int(argv[3]), int(argv[4]))
    elif cmd == "entries":
        gen_entries(root, int(argv[3]))
    elif cmd == "subdirs":
        gen_subdirs(root, int(argv[3]))
    elif cmd == "change":
        change(root, float(argv[3]), int(argv[4]))
    elif cmd == "reseau":
        reseau(root, int(argv[3]))
    elif cmd == "table":
        table(root, float(argv[3]) if len(argv) > 3 else None)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)

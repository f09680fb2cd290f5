#!/usr/bin/env bash
# Quillbox against two mail indexers (notmuch and mu) on the same messages:
# builds the three stores from one mbox archive, then times whole processes
# from outside, the programs taking turns (A B C A B C ...), and prints the
# medians and the ratios.
#
#   bench/compare.sh [ARCHIVE.mbox[.gz]]
#
# Environment: QBOX (the program, default build/qbox), RUNS (timed runs of
# each search and start-up, default 15), IMPORT_RUNS (rounds of the full
# import and index, default 3), PAIRS ("word+word word+word ..."), WORKDIR
# (kept when given; otherwise a temporary directory removed at the end).
# notmuch and mu each get a configuration and a home of their own in the
# work directory; the user's own are never read or written.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

archive="${1:-}"
if [ -z "$archive" ]; then
  for d in "$here/../shared/data" /work/shared/data; do
    [ -e "$d/linux-mips-20k.mbox.gz" ] && archive="$d/linux-mips-20k.mbox.gz" && break
  done
fi
if [ -z "$archive" ] || [ ! -r "$archive" ]; then
  echo "compare.sh: no archive; give an mbox (or .mbox.gz) file" >&2
  exit 2
fi

qbox="${QBOX:-$here/build/qbox}"
if [ ! -x "$qbox" ]; then
  echo "compare.sh: $qbox is missing; build it first (scripts/build.sh)" >&2
  exit 2
fi
missing=()
command -v notmuch >/dev/null 2>&1 || missing+=(notmuch)
command -v mu >/dev/null 2>&1 || missing+=(maildir-utils)
command -v python3 >/dev/null 2>&1 || missing+=(python3)
if [ ${#missing[@]} -gt 0 ]; then
  echo "compare.sh: missing programs; install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 2
fi

keep=1
work="${WORKDIR:-}"
if [ -z "$work" ]; then
  work="$(mktemp -d "${TMPDIR:-/tmp}/qb-compare.XXXXXX")"
  keep=0
fi
mkdir -p "$work"
cleanup() { [ "$keep" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

python3 - "$archive" "$qbox" "$work" "${RUNS:-15}" "${IMPORT_RUNS:-3}" \
  "${PAIRS:-boot+console cache+memory serial+console gcc+binutils ethernet+driver}" <<'PYTHON'
import gzip, mailbox, os, shutil, statistics, subprocess, sys, time

archive, qbox, work, runs, import_runs, pairs = sys.argv[1:7]
runs, import_runs = int(runs), int(import_runs)
pairs = [tuple(p.split("+", 1)) for p in pairs.split()]

def log(*a):
    print(*a, file=sys.stderr, flush=True)

def clean_env(home):
    # Each indexer sees a home and configuration of its own.
    env = dict(os.environ)
    env["HOME"] = home
    env["XDG_CONFIG_HOME"] = os.path.join(home, ".config")
    env["XDG_CACHE_HOME"] = os.path.join(home, ".cache")
    env["XDG_DATA_HOME"] = os.path.join(home, ".local/share")
    env.pop("NOTMUCH_PROFILE", None)
    env.pop("MUHOME", None)
    env.pop("QUILLBOX_HOME", None)
    return env

def timed(cmd, env=None, out=subprocess.DEVNULL):
    """Wall time of one whole process, from fork to exit."""
    t = time.perf_counter()
    r = subprocess.run(cmd, env=env, stdout=out, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t, r.returncode

def output(cmd, env=None):
    return subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          errors="replace").stdout

def du(path):
    total = 0
    for root, _, files in os.walk(path):
        for f in files:
            try:
                total += os.lstat(os.path.join(root, f)).st_size
            except OSError:
                pass
    return total

def load():
    return "load average %.2f %.2f %.2f" % os.getloadavg()

# ---- the messages: the mbox as it is for Quillbox, a maildir for the others
mbox = os.path.join(work, "archive.mbox")
if not os.path.exists(mbox):
    opener = gzip.open if archive.endswith(".gz") else open
    with opener(archive, "rb") as src, open(mbox, "wb") as dst:
        shutil.copyfileobj(src, dst)
maildir = os.path.join(work, "maildir")
if not os.path.isdir(os.path.join(maildir, "cur")):
    md = mailbox.Maildir(maildir, create=True)
    n = 0
    for msg in mailbox.mbox(mbox, create=False):
        md.add(mailbox.MaildirMessage(msg))
        n += 1
    log("maildir: %d messages" % n)

def qb_store(i):
    home = os.path.join(work, "qb-%d" % i)
    shutil.rmtree(home, ignore_errors=True)
    env = clean_env(os.path.join(work, "qb-user"))
    q = [qbox, "--home", home]
    subprocess.run(q + ["db", "add-mail", "Archive", "--address", "archive@example.org"], env=env,
                   stdout=subprocess.DEVNULL, check=True)
    t1, rc1 = timed(q + ["import", "--reader", "Unix Mail", "--mail-db", "Archive", mbox], env)
    t2, rc2 = timed(q + ["index", "Archive"], env)
    if rc1 or rc2:
        sys.exit("compare.sh: qbox import or index failed (status %d, %d)" % (rc1, rc2))
    return home, t1 + t2

def nm_store(i):
    home = os.path.join(work, "nm-%d" % i)
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(os.path.join(home, "db"))
    cfg = os.path.join(home, "notmuch-config")
    with open(cfg, "w") as f:
        f.write("[database]\npath=%s\nmail_root=%s\n[new]\ntags=\nignore=\n[search]\nexclude_tags=\n"
                "[maildir]\nsynchronize_flags=false\n" % (os.path.join(home, "db"), maildir))
    env = clean_env(home)
    env["NOTMUCH_CONFIG"] = cfg
    t, rc = timed(["notmuch", "new", "--quiet"], env)
    if rc:
        sys.exit("compare.sh: notmuch new failed (status %d)" % rc)
    return (home, env), t

def mu_store(i):
    home = os.path.join(work, "mu-%d" % i)
    shutil.rmtree(home, ignore_errors=True)
    env = clean_env(home)
    t1, rc1 = timed(["mu", "init", "--muhome=" + home, "--maildir=" + maildir], env)
    t2, rc2 = timed(["mu", "index", "--muhome=" + home], env)
    if rc1 or rc2:
        sys.exit("compare.sh: mu init or index failed (status %d, %d)" % (rc1, rc2))
    return (home, env), t1 + t2

def med(xs):
    return statistics.median(xs)

def ratio(a, b):
    return "%.2f" % (a / b) if b > 0 else "-"

print("Quillbox against notmuch and mu:", archive)
print("qbox:", qbox)
print("notmuch:", output(["notmuch", "--version"]).strip(), "| mu:", output(["mu", "--version"]).splitlines()[0])
print(load())
print()

# ---- import and full word index, the three taking turns
build = {"qbox": [], "notmuch": [], "mu": []}
stores = {}
for i in range(import_runs):
    log("import round %d of %d (%s)" % (i + 1, import_runs, load()))
    for name, fn in (("qbox", qb_store), ("notmuch", nm_store), ("mu", mu_store)):
        # Only the last round's stores are kept for the searches.
        if name in stores and i > 0:
            old = stores[name][0] if name != "qbox" else stores[name]
            shutil.rmtree(old, ignore_errors=True)
        store, t = fn(i)
        stores[name] = store
        build[name].append(t)
print("import + full word index (whole processes, median of %d rounds: fewer than the searches, "
      "since one notmuch round takes minutes)" % import_runs)
for name in ("qbox", "notmuch", "mu"):
    print("  %-8s %8.1f s   (%s)" % (name, med(build[name]), ", ".join("%.1f" % t for t in build[name])))
print("  ratio qbox/notmuch %s   qbox/mu %s" % (ratio(med(build["qbox"]), med(build["notmuch"])),
                                              ratio(med(build["qbox"]), med(build["mu"]))))
print("  " + load())
print()

# ---- two-word AND searches
qhome = stores["qbox"]
nm_home, nm_env = stores["notmuch"]
mu_home, mu_env = stores["mu"]
qenv = clean_env(os.path.join(work, "qb-user"))

def qb_cmd(a, b):
    return [qbox, "--home", qhome, "search", "Archive", "--and", a, "--and", b]

def nm_cmd(a, b):
    return ["notmuch", "count", a, "and", b]

def mu_cmd(a, b):
    return ["mu", "find", "--muhome=" + mu_home, a, "AND", b]

print("two-word AND search, whole command (median of %d runs each, taking turns)" % runs)
print("  %-18s %9s %9s %9s %8s %8s %8s %10s %10s" % ("words", "qbox ms", "notmuch", "mu", "qb hits", "nm hits",
                                                    "mu hits", "qb/notmuch", "qb/mu"))
all_q, all_n, all_m = [], [], []
for a, b in pairs:
    hits_q = len([l for l in output(qb_cmd(a, b), qenv).splitlines() if l.strip()])
    hits_n = output(nm_cmd(a, b), nm_env).strip() or "0"
    hits_m = len([l for l in output(mu_cmd(a, b), mu_env).splitlines() if l.strip()])
    tq, tn, tm = [], [], []
    for _ in range(runs):
        tq.append(timed(qb_cmd(a, b), qenv)[0])
        tn.append(timed(nm_cmd(a, b), nm_env)[0])
        tm.append(timed(mu_cmd(a, b), mu_env)[0])
    all_q += tq; all_n += tn; all_m += tm
    print("  %-18s %9.1f %9.1f %9.1f %8d %8s %8d %10s %10s" % (
        a + " " + b, med(tq) * 1e3, med(tn) * 1e3, med(tm) * 1e3, hits_q, hits_n, hits_m,
        ratio(med(tq), med(tn)), ratio(med(tq), med(tm))))
    if hits_q == 0:
        print("  (no Quillbox hits for %s %s: choose words indexed by all three)" % (a, b))
print("  %-18s %9.1f %9.1f %9.1f %8s %8s %8s %10s %10s" % (
    "all pairs", med(all_q) * 1e3, med(all_n) * 1e3, med(all_m) * 1e3, "", "", "",
    ratio(med(all_q), med(all_n)), ratio(med(all_q), med(all_m))))
print("  " + load())
print()

# ---- start-up alone, and a typical small command
print("start-up, whole command (median of %d runs each, taking turns)" % runs)
cmds = [("qbox version", [qbox, "--home", qhome, "version"], qenv),
        ("qbox db list", [qbox, "--home", qhome, "db", "list"], qenv),
        ("notmuch count '*'", ["notmuch", "count", "*"], nm_env),
        ("mu --version", ["mu", "--version"], mu_env)]
times = {c[0]: [] for c in cmds}
for _ in range(runs):
    for label, cmd, env in cmds:
        times[label].append(timed(cmd, env)[0])
for label, _, _ in cmds:
    print("  %-20s %8.1f ms" % (label, med(times[label]) * 1e3))
print("  " + load())
print()

# ---- word index on disk
def qb_index_bytes(home):
    total = 0
    for root, _, files in os.walk(home):
        for f in files:
            # The word list and the master index of the database.
            if f in ("IDX028.DAT", "IDX029.TPS"):
                total += os.lstat(os.path.join(root, f)).st_size
    return total

qb_all = du(qhome)
print("word index on disk")
print("  %-8s %8.1f MB   (word list and master index; the whole home %.1f MB)" % (
    "qbox", qb_index_bytes(qhome) / 1e6, qb_all / 1e6))
print("  %-8s %8.1f MB   (the whole database)" % ("notmuch", du(os.path.join(nm_home, "db")) / 1e6))
print("  %-8s %8.1f MB   (the whole store)" % ("mu", du(mu_home) / 1e6))
PYTHON

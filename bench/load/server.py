# The load benchmark on a PostgreSQL server: kalder-load of a generated workbook of 65,000 rows
# into a server table, against the floor measured in the same run, the server's own bulk path:
# COPY (psql's \copy, a process of its own as kalder-load is) of the final rows of the same load
# into an empty copy of tblData. With and without a unique index on the key, and with half of the
# final keys stored beforehand (each of them widened). The server is one
# of the benchmark's own, in a temporary folder on a Unix socket (run as "postgres" when started
# as root). Whole-process wall times, the fastest of five, ours and the floor run in turn.
#   server.py BUILD_DIR [ROWS]
import os
import shutil
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
build = os.path.abspath(sys.argv[1])
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 65000
tool = os.path.join(build, "kalder-load")
pg_bin = os.environ.get("KALDER_PG_BIN", "/usr/lib/postgresql/15/bin")
# Ours and the floor are run in turn, so that a busier moment of the machine falls on both alike.
REPEAT = 5

if not os.path.exists(os.path.join(pg_bin, "initdb")):
    sys.exit("PostgreSQL server programs not found in %s (install postgresql-15)" % pg_bin)

work = tempfile.mkdtemp(prefix="kpgb-", dir="/tmp")
as_postgres = os.geteuid() == 0
if as_postgres:
    import pwd
    pw = pwd.getpwnam("postgres")
    os.chown(work, pw.pw_uid, pw.pw_gid)
    os.chmod(work, 0o755)
data = os.path.join(work, "data")
book = os.path.join(work, "book.xls")


def server(program, *args):
    cmd = [os.path.join(pg_bin, program)] + list(args)
    if as_postgres:
        cmd = ["setpriv", "--reuid=postgres", "--regid=postgres", "--clear-groups"] + cmd
    subprocess.run(cmd, check=True, capture_output=True, cwd=work)


def psql(database, *commands):
    cmd = [os.path.join(pg_bin, "psql"), "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", work, "-U", "kalder", "-d", database]
    for c in commands:
        cmd += ["-c", c]
    return cmd


def run(cmd):
    p = subprocess.run(cmd, capture_output=True, text=True)
    if p.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(cmd), p.stdout, p.stderr))
    return p.stdout


SCHEMA = ('CREATE TABLE "tblData" (id serial, "Код" text, "Мин" double precision, "Макс" double precision, "Дата" text); '
          'CREATE TABLE "tblSettings" ("LastFileName" text, "StrNumWithCapt" integer, "StrNumMAX" integer)')


def make_db(name, index, stored=None):
    run(psql("postgres", 'DROP DATABASE IF EXISTS "%s" WITH (FORCE)' % name, 'CREATE DATABASE "%s"' % name))
    run(psql(name, SCHEMA + ('; CREATE UNIQUE INDEX ik ON "tblData" ("Код")' if index else "")))
    if stored:
        run(psql(name, '\\copy "tblData" ("Код", "Мин", "Макс") FROM \'%s\'' % stored))
    return "postgresql://kalder@/%s?host=%s" % (name, work)


def once(cmd, setup):
    setup()
    start = time.perf_counter()
    run(cmd)
    return time.perf_counter() - start


def timed(cmd, setup):
    return min(once(cmd, setup) for _ in range(REPEAT))


def timed_in_turn(first, second):
    """The fastest of REPEAT runs of each of two (cmd, setup), run one after the other."""
    times = ([], [])
    for _ in range(REPEAT):
        for out, (cmd, setup) in zip(times, (first, second)):
            out.append(once(cmd, setup))
    return min(times[0]), min(times[1])


try:
    server("initdb", "-D", data, "-U", "kalder", "-A", "trust", "-E", "UTF8", "--locale=C.UTF-8")
    server("pg_ctl", "-D", data, "-l", os.path.join(work, "log"), "-w", "-o",
           "-c listen_addresses='' -c unix_socket_directories='%s'" % work, "start")
    subprocess.run(["/usr/bin/python3", os.path.join(root, "scripts/fixtures/make_load_big.py"), book, str(rows)],
                   check=True)
    args = ["--locale", "C", "--workbook", book, "--header", "1", "--last", str(rows + 1),
            "--link", "1:1:Код", "--link", "2:2:Мин", "--link", "3:3:Макс"]
    print("workbook: %d rows, %.1f MB; server on a Unix socket; fastest of %d runs, ours and the floor in turn, whole process"
          % (rows, os.path.getsize(book) / 1e6, REPEAT))
    # What the load costs before any server: reading the workbook and merging it in memory,
    # as the check before a load does into an empty SQLite file.
    import sqlite3
    lite = os.path.join(work, "read.db")
    db = sqlite3.connect(lite)
    db.executescript('CREATE TABLE tblData (id INTEGER PRIMARY KEY, Код TEXT, Мин REAL, Макс REAL, Дата TEXT);'
                     'CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER);')
    db.close()
    read = timed([tool, "--db", lite] + args + ["--preview"], lambda: None)
    print("reading and merging in memory alone (a check into an empty SQLite file): %.3f s" % read)
    final = os.path.join(work, "final.tsv")
    # The final rows of a load into an empty table; half of them stored beforehand, each with a
    # narrower range, so that the half-stored case widens every one of them.
    make_db("probe", True)
    run([tool, "--db", "postgresql://kalder@/probe?host=%s" % work] + args)
    run(psql("probe", '\\copy (SELECT "Код", "Мин", "Макс" FROM "tblData" ORDER BY id) TO \'%s\'' % final))
    half = os.path.join(work, "half.tsv")
    with open(final, encoding="utf-8") as f, open(half, "w", encoding="utf-8") as h:
        for i, line in enumerate(f):
            key, lo, hi = line.rstrip("\n").split("\t")
            if i % 2 == 0:
                h.write("%s\t%r\t%r\n" % (key, float(lo) + 1, float(hi) - 1))
    for name, index, stored in [("unique index", True, None), ("no index", False, None),
                                ("half stored", True, half)]:
        # each run loads into a table made anew before it; the final rows of this case first
        uri = make_db("ours", index, stored)
        run([tool, "--db", uri] + args)
        run(psql("ours", '\\copy (SELECT "Код", "Мин", "Макс" FROM "tblData" ORDER BY id) TO \'%s\'' % final))
        count = len(open(final, encoding="utf-8").read().splitlines())
        ours, floor = timed_in_turn(
            ([tool, "--db", uri] + args, lambda: make_db("ours", index, stored)),
            (psql("floor", '\\copy "tblData" ("Код", "Мин", "Макс") FROM \'%s\'' % final),
             lambda: make_db("floor", index)))
        print("%-13s ours %.3f s  COPY floor %.3f s  ours/floor %.2f (goal <= 2)  "
              "(ours - reading)/floor %.2f  records %d"
              % (name, ours, floor, ours / floor, (ours - read) / floor, count))
finally:
    try:
        server("pg_ctl", "-D", data, "-m", "immediate", "-w", "stop")
    except Exception:
        pass
    shutil.rmtree(work, ignore_errors=True)

#!/usr/bin/python3
"""Kesl's exports joined with a generated log inside the engines users run:
ClickHouse (an ip_trie dictionary per family over the csv export, the log in
a Distributed table over two shards), PostgreSQL with ip4r (the ranges in a
GiST-indexed iprange column) and DuckDB through its Node.js API (the
ranges export, keys computed in SQL). The statements are the ones
docs/scale.md marks as tested, read from it. Each engine is started here, on
127.0.0.1 or a Unix socket in a temporary folder, and stopped after. Every
line's country must be the one kesl-lookup --annotate gives.

    engines.py KESL-MKDB KESL-LOOKUP DATABASE NODE-FOLDER [--lines N] [--measure]

NODE-FOLDER holds node_modules with @duckdb/node-api. --measure prints the
time of each engine's join and of kesl-lookup --stdin over the same
addresses (for the README), and checks nothing.
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

mkdb, lookup, database, node_folder = sys.argv[1:5]
options = sys.argv[5:]
lines = int(options[options.index("--lines") + 1]) if "--lines" in options else 1000000
measure = "--measure" in options
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
with open(os.path.join(root, "docs", "scale.md")) as f:
    doc = f.read()
work = tempfile.mkdtemp(prefix="kesl-engines-")
os.chmod(work, 0o755)
failures = []
figures = []


def statement(name):
    """The code block of docs/scale.md marked <!-- kesl-test: NAME -->."""
    m = re.search(r"<!-- kesl-test: %s -->\n```\w*\n(.*?)```" % re.escape(name), doc, re.S)
    if not m:
        sys.exit(f"engines: docs/scale.md has no block {name}")
    return m.group(1)


def run(args, **kw):
    p = subprocess.run(args, capture_output=True, text=True, **kw)
    if p.returncode != 0:
        raise RuntimeError(f"{' '.join(args[:3])}...: {p.returncode}: {p.stderr[-2000:]}")
    return p.stdout


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def path(name):
    return os.path.join(work, name)


# The log and what kesl-lookup says of each line's client address.
run([sys.executable, os.path.join(root, "bench", "gen_logs.py"), path("access.log"),
     f"{lines}lines"])
annotated = run([lookup, "--db", database, "--annotate", path("access.log")])
expected, clients = [], []
for line in annotated.splitlines():
    m = re.match(r"(\S+?)\[([^\]]*)\]", line)
    clients.append(m.group(1))
    expected.append(m.group(2))
with open(path("clients.csv"), "w") as f:
    f.write("".join(f"{n},{c}\n" for n, c in enumerate(clients, 1)))
for args, name in ((["csv", "--family", "4"], "kesl-ipv4.csv"),
                   (["csv", "--family", "6"], "kesl-ipv6.csv"), (["ranges"], "kesl-ranges.csv")):
    run([mkdb, "--export", *args, "--db", database, "-o", path(name)])
for name in os.listdir(work):
    os.chmod(path(name), 0o644)


def with_paths(text):
    """A statement with the documented paths replaced by this run's files."""
    for documented in ("/var/lib/clickhouse/user_files/", "/var/lib/kesl/"):
        text = text.replace(documented, work + "/")
    return text


def compare(engine, got):
    """got: the country of line n at n - 1, '' or None for none."""
    got = [g if g else "-" for g in got]
    if measure:
        return
    if len(got) != len(expected):
        failures.append(f"{engine}: {len(got)} answers for {len(expected)} lines")
        return
    wrong = [i for i in range(len(expected)) if got[i] != expected[i]]
    if wrong:
        failures.append(f"{engine}: {len(wrong)} lines differ from kesl-lookup, first: " +
                        ", ".join(f"{clients[i]} {got[i]} (kesl-lookup {expected[i]})"
                                  for i in wrong[:5]))


def rows(text, separator):
    """The second column of ordered rows "n SEP country"."""
    out = []
    for line in text.splitlines():
        n, _, country = line.partition(separator)
        out.append(country)
    return out


def timed(engine, what, action):
    started = time.monotonic()
    result = action()
    seconds = time.monotonic() - started
    figures.append((engine, what, seconds))
    return result


def postgresql():
    bindir = "/usr/lib/postgresql/15/bin"
    data, socket_dir = path("pg/data"), path("pg")
    os.makedirs(socket_dir)
    # PostgreSQL runs as no superuser of the machine.
    as_user = []
    if os.geteuid() == 0:
        shutil.chown(socket_dir, "postgres")
        as_user = ["runuser", "-u", "postgres", "--"]
    run(as_user + [f"{bindir}/initdb", "-D", data, "-A", "trust", "-U", "kesl", "--no-sync",
                   "-E", "UTF8"])
    port = str(free_port())
    run(as_user + [f"{bindir}/pg_ctl", "-D", data, "-l", path("pg/server.log"), "-w", "-o",
                   f"-k {socket_dir} -c listen_addresses='' -p {port} -c fsync=off "
                   "-c shared_buffers=256MB -c work_mem=256MB", "start"])
    psql = ["psql", "-h", socket_dir, "-p", port, "-U", "kesl", "-d", "postgres", "-v",
            "ON_ERROR_STOP=1", "-q", "-A", "-t", "-F", "|"]
    try:
        load = with_paths(statement("postgresql-load"))
        timed("PostgreSQL", "load", lambda: run(psql, input=load + f"""
CREATE TABLE access_log (n bigint, client ipaddress);
\\copy access_log FROM '{path("clients.csv")}' WITH (FORMAT csv)
ANALYZE access_log;
"""))
        join = statement("postgresql-join")
        out = timed("PostgreSQL", "join", lambda: run(psql, input=join))
        compare("PostgreSQL", rows(out, "|"))
    finally:
        subprocess.run(as_user + [f"{bindir}/pg_ctl", "-D", data, "-m", "fast", "stop"],
                       capture_output=True)


def duckdb():
    script = os.path.join(node_folder, "kesl-engines-duckdb.cjs")
    with open(script, "w") as f:
        f.write("""
const { DuckDBInstance } = require('@duckdb/node-api');
const fs = require('fs');
(async () => {
  const [statements, join, out] = process.argv.slice(2);
  const db = await DuckDBInstance.create(':memory:');
  const c = await db.connect();
  await c.run(fs.readFileSync(statements, 'utf8'));
  const t = Date.now();
  await c.run(`COPY (${fs.readFileSync(join, 'utf8')}) TO '${out}' (HEADER false, DELIMITER '|')`);
  console.log((Date.now() - t) / 1000);
})().catch(e => { console.error(e.message); process.exit(1); });
""")
    with open(path("duckdb-load.sql"), "w") as f:
        f.write(statement("duckdb-macros") + with_paths(statement("duckdb-load")) + f"""
CREATE TABLE access_log AS SELECT * FROM read_csv('{path("clients.csv")}', header = false,
  columns = {{'n': 'BIGINT', 'client': 'VARCHAR'}});
""")
    with open(path("duckdb-join.sql"), "w") as f:
        f.write(statement("duckdb-join"))
    started = time.monotonic()
    seconds = float(run(["node", script, path("duckdb-load.sql"), path("duckdb-join.sql"),
                         path("duckdb.out")], cwd=node_folder).strip())
    figures.append(("DuckDB", "load", time.monotonic() - started - seconds))
    figures.append(("DuckDB", "join", seconds))
    with open(path("duckdb.out")) as f:
        compare("DuckDB", rows(f.read(), "|"))


def clickhouse():
    folder = path("ch")
    os.makedirs(folder)
    port = free_port()
    with open(os.path.join(folder, "dictionaries.xml"), "w") as f:
        f.write(with_paths(statement("clickhouse-dictionaries")))
    with open(os.path.join(folder, "users.xml"), "w") as f:
        f.write("""<yandex>
  <profiles><default><max_memory_usage>4000000000</max_memory_usage></default></profiles>
  <users><default><password></password><networks><ip>127.0.0.1</ip></networks>
    <profile>default</profile><quota>default</quota></default></users>
  <quotas><default></default></quotas>
</yandex>
""")
    shard = "<shard><replica><host>127.0.0.1</host><port>%d</port>" \
            "<default_database>%s</default_database></replica></shard>"
    with open(os.path.join(folder, "config.xml"), "w") as f:
        f.write(f"""<yandex>
  <logger><level>warning</level><log>{folder}/server.log</log><errorlog>{folder}/error.log</errorlog></logger>
  <tcp_port>{port}</tcp_port>
  <listen_host>127.0.0.1</listen_host>
  <path>{folder}/data/</path>
  <tmp_path>{folder}/tmp/</tmp_path>
  <user_files_path>{work}/</user_files_path>
  <format_schema_path>{folder}/format_schemas/</format_schema_path>
  <users_config>{folder}/users.xml</users_config>
  <default_profile>default</default_profile>
  <default_database>default</default_database>
  <mark_cache_size>536870912</mark_cache_size>
  <dictionaries_config>{folder}/dictionaries.xml</dictionaries_config>
  <remote_servers><kesl_cluster>{shard % (port, "shard1")}{shard % (port, "shard2")}</kesl_cluster></remote_servers>
</yandex>
""")
    server = subprocess.Popen(["clickhouse-server", f"--config-file={folder}/config.xml"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    client = ["clickhouse-client", "--host", "127.0.0.1", "--port", str(port)]
    try:
        for _ in range(300):
            if subprocess.run(client + ["-q", "SELECT 1"], capture_output=True).returncode == 0:
                break
            if server.poll() is not None:
                raise RuntimeError("clickhouse-server stopped at start")
            time.sleep(0.1)
        tables = [t.strip() for t in statement("clickhouse-tables").split(";") if t.strip()]
        for database in ("shard1", "shard2"):
            run(client + ["-q", f"CREATE DATABASE {database}"])
            run(client + ["-d", database, "-q", tables[0]])
        run(client + ["-q", tables[1]])
        with open(path("clients.csv")) as f:
            timed("ClickHouse", "load", lambda: run(
                client + ["--insert_distributed_sync=1", "-q",
                          "INSERT INTO access_log FORMAT CSV"], stdin=f))
        for database in ("shard1", "shard2"):
            n = int(run(client + ["-q", f"SELECT count() FROM {database}.access_log_local"]))
            if not measure and not 0 < n < lines:
                failures.append(f"ClickHouse: shard {database} holds {n} of {lines} lines")
        join = statement("clickhouse-join") + " FORMAT TSV"
        out = timed("ClickHouse", "join", lambda: run(client + ["-q", join]))
        compare("ClickHouse", rows(out, "\t"))
    finally:
        os.killpg(server.pid, signal.SIGTERM)
        try:
            server.wait(30)
        except subprocess.TimeoutExpired:
            os.killpg(server.pid, signal.SIGKILL)
            server.wait()


def kesl_lookup():
    """The same addresses through kesl-lookup --stdin, its answers to a file."""
    addresses = path("addresses")
    with open(addresses, "w") as f:
        f.write("\n".join(clients) + "\n")
    with open(addresses) as f, open(path("answers"), "w") as out:
        timed("kesl-lookup --stdin", "join", lambda: subprocess.run(
            [lookup, "--db", database, "--no-resolve", "--stdin"], stdin=f, stdout=out,
            check=True))


try:
    for engine in (clickhouse, postgresql, duckdb):
        try:
            engine()
        except (RuntimeError, OSError) as e:
            failures.append(f"{engine.__name__}: {e}")
    if measure:
        kesl_lookup()
finally:
    shutil.rmtree(work, ignore_errors=True)

for engine, what, seconds in figures:
    rate = f", {lines / seconds:,.0f} rows/s" if what == "join" and seconds > 0 else ""
    print(f"{engine} {what}: {seconds:.2f} s{rate}")
for f in failures:
    print("FAIL", f)
print(f"engines: {len(failures)} failures over {lines} lines")
sys.exit(1 if failures else 0)

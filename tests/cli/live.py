#!/usr/bin/env python3
"""kesl-lookup as a live part of a pipeline, run as a helper would run it:
each answer comes as soon as its query has, --annotate on a pipe writes each
line as it comes, and a running --stdin follows its database when another
file is renamed over it or it is copied over in place.

Usage: live.py KESL_LOOKUP KESL_MKDB
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

LOOKUP, MKDB = sys.argv[1], sys.argv[2]
# Generous: the sanitizer build is slow, and the point is that an answer
# comes at all before the next query, not how fast.
DEADLINE = 5.0
failures = []
checks = 0


def check(ok, what):
    global checks
    checks += 1
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def make_database(folder, name, country, blocks=20000):
    """A plain database of `blocks` IPv4 ranges and as many IPv6 ones,
    every one in `country`, so that any answer tells which file gave it."""
    v4 = os.path.join(folder, name + ".ranges")
    v6 = os.path.join(folder, name + ".ranges6")
    with open(v4, "w") as f:
        for i in range(blocks):
            start = (1 << 24) + i * 1024
            f.write("%d,%d,%s\n" % (start, start + 511, country))
    with open(v6, "w") as f:
        for i in range(blocks):
            f.write("2a00:%x::,2a00:%x:ffff:ffff:ffff:ffff:ffff:ffff,%s\n" % (i, i, country))
    path = os.path.join(folder, name + ".ip4")
    subprocess.run([MKDB, "-o", path, v4, v6], check=True, stdout=subprocess.DEVNULL)
    return path


class Helper:
    """kesl-lookup started as a coprocess: one line written, its answer read."""

    def __init__(self, args):
        self.proc = subprocess.Popen([LOOKUP] + args, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pending = b""

    def line(self, deadline=DEADLINE):
        end = time.monotonic() + deadline
        while b"\n" not in self.pending:
            left = end - time.monotonic()
            ready, _, _ = select.select([self.proc.stdout], [], [], max(left, 0))
            if not ready:
                return None
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                return None
            self.pending += chunk
        text, self.pending = self.pending.split(b"\n", 1)
        return text.decode()

    def ask(self, query):
        self.proc.stdin.write(query.encode() + b"\n")
        self.proc.stdin.flush()
        return self.line()

    def close(self):
        self.proc.stdin.close()
        err = self.proc.stderr.read().decode()
        return self.proc.wait(timeout=30), err


def answer_country(line):
    return line.split("\t")[3] if line and line.count("\t") >= 3 else None


def one_at_a_time(db):
    helper = Helper(["--db", db, "--stdin"])
    for i in range(300):
        query = "1.0.%d.9" % (4 * (i % 60)) if i % 2 == 0 else "2a00:%x::%x" % (i, i)
        line = helper.ask(query)
        check(line is not None and line.startswith(query + "\t") and answer_country(line) == "AU",
              "coprocess answer to %s: %r" % (query, line))
        if line is None:
            break
    # An error is an answer line too.
    line = helper.ask("not an address!")
    check(line is not None and "\terror\t" in line, "coprocess error line: %r" % line)
    status, err = helper.close()
    check(status == 0 or status == 1, "coprocess status %d: %s" % (status, err))


def annotate_on_a_pipe(db):
    helper = Helper(["--db", db, "--annotate"])
    for i in range(50):
        text = "GET /%d from 1.0.0.%d and [2a00:%x::1]:443" % (i, i, i)
        line = helper.ask(text)
        want = "GET /%d from 1.0.0.%d[AU] and [2a00:%x::1[AU]]:443" % (i, i, i)
        check(line == want, "annotated line %d: %r" % (i, line))
        if line is None:
            break
    status, err = helper.close()
    check(status == 0, "annotate status %d: %s" % (status, err))


def followed(old, new, folder, replace, expect_end=False):
    """Queries go on one at a time while replace(db) puts the new data in
    place: every answer is the old file's (AU) or the new one's (NZ), and
    from three seconds after the change all are the new one's."""
    db = os.path.join(folder, "country.ip4")
    shutil.copyfile(old, db)
    helper = Helper(["--db", db, "--stdin"])
    answers = []
    changed_at = None
    start = time.monotonic()
    i = 0
    while time.monotonic() - start < 6.0:
        if changed_at is None and time.monotonic() - start > 1.0:
            replace(db)
            changed_at = time.monotonic()
        query = "1.0.%d.%d" % ((i * 4) % 240, i % 250) if i % 2 else "2a00:%x::5" % (i % 9000)
        line = helper.ask(query)
        if line is None:
            break
        answers.append((time.monotonic(), query, answer_country(line)))
        i += 1
        time.sleep(0.002)
    status, err = helper.close()
    wrong = [a for a in answers if a[2] not in ("AU", "NZ")]
    check(not wrong, "%s: answers of neither file: %r" % (replace.__name__, wrong[:5]))
    late = [a for a in answers if changed_at and a[0] > changed_at + 3.0 and a[2] != "NZ"]
    check(not late, "%s: old answers 3 s after the change: %r" % (replace.__name__, late[:5]))
    check(len(answers) > 100, "%s: only %d answers" % (replace.__name__, len(answers)))
    check(any(a[2] == "NZ" for a in answers), "%s: never the new data" % replace.__name__)
    check("now answering from " + db in err, "%s: not said: %r" % (replace.__name__, err))
    check(status == 0, "%s: status %d" % (replace.__name__, status))


def cut_for_good(old, folder):
    """A file written over in place that never loads again: the run ends
    with status 3 and a message naming it, having answered nothing from it."""
    db = os.path.join(folder, "cut.ip4")
    shutil.copyfile(old, db)
    helper = Helper(["--db", db, "--stdin"])
    check(answer_country(helper.ask("1.0.0.1")) == "AU", "before the cut")
    with open(old, "rb") as f:
        head = f.read(100)
    with open(db, "wb") as f:
        f.write(head)
    start = time.monotonic()
    line = "x"
    while line is not None and time.monotonic() - start < 15:
        try:
            line = helper.ask("1.0.0.1")
        except BrokenPipeError:
            break
        check(line is None or answer_country(line) == "AU", "an answer after the cut: %r" % line)
    try:
        status, err = helper.close()
    except BrokenPipeError:
        status, err = helper.proc.wait(timeout=30), helper.proc.stderr.read().decode()
    check(status == 3, "cut: status %d" % status)
    check(db in err and "did not load whole again" in err, "cut: message %r" % err)


def main():
    folder = tempfile.mkdtemp()
    try:
        old = make_database(folder, "old", "AU")
        new = make_database(folder, "new", "NZ", blocks=60000)
        one_at_a_time(old)
        annotate_on_a_pipe(old)

        def renamed_over(db):
            shutil.copyfile(new, db + ".tmp")
            os.rename(db + ".tmp", db)

        def copied_over(db):
            shutil.copyfile(new, db)  # in place: truncated, then written

        followed(old, new, folder, renamed_over)
        followed(old, new, folder, copied_over)
        cut_for_good(old, folder)
    finally:
        shutil.rmtree(folder)
    print("live: %d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


sys.exit(main())

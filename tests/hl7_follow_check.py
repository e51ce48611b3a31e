#!/usr/bin/env python3
"""tarn-hl7 --follow as a running interface, against real components.

Rows are inserted into a SQLite database (through Debian's SQLite ODBC
driver) and into a PostgreSQL server that this script starts in a temporary
folder and stops again, while tarn-hl7 follows them and delivers to an MLLP
receiver on 127.0.0.1. The sender is killed and restarted, the receiver is
taken down and brought back, and every row must arrive exactly once in key
order (a kill may send the message in flight twice), the journal and the
--on-settled updates agreeing. A followed file (rotated on the way) and a
pipe must deliver a line within a second.

    hl7_follow_check.py TARN_HL7 [sqlite|postgres|file|pipe ...]

A database whose ODBC driver or server is not installed is skipped with a
line that says so (scripts/deps.sh installs them).
"""
import glob
import json
import os
import pwd
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

HL7 = sys.argv[1]
CASES = sys.argv[2:] or ["sqlite", "chunks", "marks", "postgres", "file", "pipe", "policy"]
POLL = 0.2
TEMPLATE = ("MSH|^~\\&|TARN|HOSP|RECV|HOSP|||ADT^A08^ADT_A01|{{ControlId}}|P|2.5.1\n"
            "PID|1||{{!Mrn}}^^^HOSP^MR||{{Name}}\n")
DELIVERY = ["--ack-timeout", "2", "--retry-delay", "0.1", "--max-retry-delay", "0.4",
            "--control-id", "S"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what, flush=True)


def wait_until(predicate, seconds):
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Receiver:
    """Answers AA to every message; can be taken down and brought back."""

    def __init__(self):
        self.port = free_port()
        self.got = []  # (mrn, control id, time)
        self.lock = threading.Lock()
        self.server = None
        self.conns = []
        self.script = {}  # MRN -> the answers it gets before AA

    def start(self):
        self.server = socket.create_server(("127.0.0.1", self.port))
        threading.Thread(target=self._accept, args=(self.server,), daemon=True).start()

    def stop(self):
        server, self.server = self.server, None
        try:
            server.shutdown(socket.SHUT_RDWR)  # wakes the accept() under way
        except OSError:
            pass
        server.close()
        for c in self.conns:
            try:
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            c.close()
        self.conns = []

    def mrns(self):
        with self.lock:
            return [m for m, _, _ in self.got]

    def arrival(self, mrn):
        with self.lock:
            return next((t for m, _, t in self.got if m == mrn), None)

    def _accept(self, server):
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            self.conns.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        buffer = b""
        try:
            while True:
                data = conn.recv(65536)
                if not data:
                    return
                buffer += data
                while b"\x1c\r" in buffer:
                    frame, buffer = buffer.split(b"\x1c\r", 1)
                    text = frame.lstrip(b"\x0b").decode()
                    segments = text.split("\r")
                    control = segments[0].split("|")[9]
                    pid = next(s for s in segments if s.startswith("PID|"))
                    mrn = pid.split("|")[3].split("^")[0]
                    with self.lock:
                        answers = self.script.get(mrn, [])
                        code = answers.pop(0) if answers else "AA"
                        if code == "AA":
                            self.got.append((mrn, control, time.monotonic()))
                    ack = (f"MSH|^~\\&|RECV|HOSP|TARN|HOSP|||ACK|A{control}|P|2.5.1\r"
                           f"MSA|{code}|{control}\r")
                    conn.sendall(b"\x0b" + ack.encode() + b"\x1c\r")
        except OSError:
            return


class Sender:
    def __init__(self, args, work, stdin=None):
        self.err = open(os.path.join(work, "stderr.txt"), "ab")
        self.proc = subprocess.Popen([HL7] + args, stdin=stdin, stdout=subprocess.DEVNULL,
                                     stderr=self.err)

    def end(self, sig=signal.SIGTERM, seconds=10):
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "hung"


def journal_records(path):
    records, marked = [], set()
    with open(path) as f:
        lines = [json.loads(line) for line in f if line.strip()]
    for j in lines[1:]:
        if "marked" in j:
            marked.add(j["marked"])
        else:
            records.append(j)
    return records, marked


def database_case(name, work, connection, execute, sent_rows, restart=None):
    """Follows a table through kills and receiver outages."""
    print(f"-- {name}", flush=True)
    tmpl = os.path.join(work, "adt.tmpl")
    with open(tmpl, "w") as f:
        f.write(TEMPLATE)
    journal = os.path.join(work, "adt.journal")
    log = os.path.join(work, "adt.log")
    receiver = Receiver()
    receiver.start()
    args = ["--template", tmpl, "--records", "odbc:" + connection,
            "--query", "SELECT id, mrn AS Mrn, name AS Name FROM events", "--key", "id",
            "--follow", "--poll", str(POLL), "--send", f"127.0.0.1:{receiver.port}",
            "--journal", journal, "--log", log,
            "--on-settled", "UPDATE events SET sent = ? WHERE id = ?"] + DELIVERY
    inserted = []
    next_id = [1]

    def insert(count, spacing=0.0):
        for _ in range(count):
            i = next_id[0]
            next_id[0] += 1
            execute(f"INSERT INTO events(id, mrn, name) VALUES ({i}, 'M{i}', 'Name {i}')")
            inserted.append((f"M{i}", time.monotonic()))
            time.sleep(spacing)

    def all_arrived():
        return set(receiver.mrns()) >= {m for m, _ in inserted}

    insert(2)  # rows already there when the interface starts
    sender = Sender(args, work)
    insert(5, 0.15)
    check(wait_until(all_arrived, 10), f"{name}: rows inserted while following arrive")
    worst = max(receiver.arrival(m) - t for m, t in inserted)
    print(f"{name}: slowest row took {worst:.3f} s (bound {2 * POLL + 1:.1f} s)", flush=True)
    check(worst < 2 * POLL + 1, f"{name}: latency {worst:.3f} s")

    # Killed in the middle of a stream of rows, then started again.
    writer = threading.Thread(target=insert, args=(20, 0.02))
    writer.start()
    time.sleep(0.2)
    sender.proc.kill()
    sender.proc.wait()
    writer.join()
    sender = Sender(args, work)
    check(wait_until(all_arrived, 15), f"{name}: rows survive a kill")

    # The receiver down for a while, rows waiting, then up again.
    receiver.stop()
    insert(4, 0.05)
    time.sleep(1.0)
    check(not (set(receiver.mrns()) >= {m for m, _ in inserted}), f"{name}: receiver was down")
    receiver.start()
    check(wait_until(all_arrived, 10), f"{name}: rows waited for the receiver")
    if restart:
        # The database goes away under the interface and comes back.
        restart()
        insert(3, 0.05)
        check(wait_until(all_arrived, 15), f"{name}: rows after the database restarted")
    time.sleep(2 * POLL)
    status = sender.end()
    check(status == 0, f"{name}: SIGTERM ends the run cleanly (status {status})")
    receiver.stop()

    got = receiver.mrns()
    expected = [m for m, _ in inserted]
    firsts = list(dict.fromkeys(got))
    check(firsts == sorted(expected, key=lambda m: int(m[1:])), f"{name}: key order {firsts}")
    extra = len(got) - len(firsts)
    check(extra <= 1, f"{name}: {extra} messages sent twice (one kill may send one twice)")
    records, marked = journal_records(journal)
    keys = [r["key"] for r in records]
    check(keys == list(range(1, len(expected) + 1)), f"{name}: the journal's keys {keys}")
    check(all(r["outcome"] == "delivered" for r in records), f"{name}: all delivered")
    check([r["record"] for r in records] == list(range(1, len(records) + 1)),
          f"{name}: record numbers")
    sent = sent_rows()
    check(sent == {r["key"]: "delivered" for r in records},
          f"{name}: --on-settled marked exactly the settled rows {sent}")
    with open(log) as f:
        outcomes = [json.loads(line) for line in f]
    delivered = [o for o in outcomes if o["outcome"] == "delivered"]
    logged = {o["key"] for o in delivered}
    # A kill between the journal's line and the log's loses that log line.
    check(len(set(keys) - logged) <= 1 and all("latency_ms" in o and o["control_id"]
                                                for o in delivered), f"{name}: --log")


def sqlite_case(work):
    path = os.path.join(work, "events.db")
    with sqlite3.connect(path) as db:
        db.execute("CREATE TABLE events(id INTEGER PRIMARY KEY, mrn TEXT, name TEXT, sent TEXT)")

    def execute(sql):
        with sqlite3.connect(path, timeout=10) as db:
            db.execute(sql)

    def sent_rows():
        with sqlite3.connect(path, timeout=10) as db:
            return dict(db.execute("SELECT id, sent FROM events WHERE sent IS NOT NULL"))

    database_case("sqlite", work, f"Driver=SQLite3;Database={path};Timeout=10000", execute,
                  sent_rows)


def chunks_case(work):
    """More rows than are fetched at once, with a key and without; typed columns."""
    print("-- chunks", flush=True)
    path = os.path.join(work, "many.db")
    with sqlite3.connect(path) as db:
        db.execute("CREATE TABLE events(id INTEGER PRIMARY KEY, mrn TEXT, born DATE, w REAL)")
        db.executemany("INSERT INTO events VALUES (?, ?, '1980-03-05', 2.0)",
                       [(i, f"M{i}") for i in range(1, 1203)])
    tmpl = os.path.join(work, "t.tmpl")
    with open(tmpl, "w") as f:
        f.write("MSH|^~\\&|A\nPID|1||{{Mrn}}||{{W}}|{{Format Born, \"yyyymmdd\"}}\n")
    for key in (["--key", "id"], []):
        out = subprocess.run([HL7, "--template", tmpl, "--records",
                              f"odbc:Driver=SQLite3;Database={path}", "--query",
                              "SELECT id, mrn AS Mrn, born AS Born, w AS W FROM events"] + key +
                             ["--framing", "lf"], capture_output=True, timeout=60)
        pids = [seg for seg in out.stdout.decode().replace("\n", "\r").split("\r")
                if seg.startswith("PID")]
        mrns = [p.split("|")[3] for p in pids]
        check(mrns == [f"M{i}" for i in range(1, 1203)], f"chunks {key}: {len(mrns)} rows")
        check(bool(pids) and pids[0].endswith("|19800305"), f"chunks: a DATE column is a Date")


def marks_case(work):
    """--on-settled statements that failed run again when the run is resumed."""
    print("-- marks", flush=True)
    path = os.path.join(work, "marks.db")
    with sqlite3.connect(path) as db:
        db.execute("CREATE TABLE events(id INTEGER PRIMARY KEY, mrn TEXT, name TEXT)")
        db.executemany("INSERT INTO events VALUES (?, ?, 'N')", [(i, f"K{i}") for i in (1, 2, 3)])
    tmpl = os.path.join(work, "adt.tmpl")
    with open(tmpl, "w") as f:
        f.write(TEMPLATE)
    journal = os.path.join(work, "marks.journal")
    receiver = Receiver()
    receiver.start()
    args = [HL7, "--template", tmpl, "--records", f"odbc:Driver=SQLite3;Database={path}",
            "--query", "SELECT id, mrn AS Mrn, name AS Name FROM events", "--key", "id",
            "--send", f"127.0.0.1:{receiver.port}", "--journal", journal,
            "--on-settled", "UPDATE events SET sent = ? WHERE id = ?"] + DELIVERY
    first = subprocess.run(args, capture_output=True, timeout=30)
    check(first.returncode == 0 and b"no such column: sent" in first.stderr,
          f"marks: a failing statement is reported and the run goes on: {first.stderr[-300:]}")
    check(journal_records(journal)[1] == set(), "marks: nothing marked yet")
    with sqlite3.connect(path) as db:
        db.execute("ALTER TABLE events ADD COLUMN sent TEXT")
    second = subprocess.run(args, capture_output=True, timeout=30)
    check(second.returncode == 0, f"marks: resumed: {second.stderr[-300:]}")
    with sqlite3.connect(path) as db:
        sent = dict(db.execute("SELECT id, sent FROM events"))
    check(sent == {1: "delivered", 2: "delivered", 3: "delivered"}, f"marks: {sent}")
    check(journal_records(journal)[1] == {1, 2, 3}, "marks: the journal marks all three")
    check(receiver.mrns() == ["K1", "K2", "K3"], f"marks: sent once each: {receiver.mrns()}")
    # Without a key a run started again skips the rows its journal settled.
    plain = [x for x in args[:args.index("--key")]] + ["--send", f"127.0.0.1:{receiver.port}",
                                                      "--journal", journal + ".plain"] + DELIVERY
    for _ in range(2):
        again = subprocess.run(plain, capture_output=True, timeout=30)
        check(again.returncode == 0, f"marks: without a key: {again.stderr[-300:]}")
    check(receiver.mrns() == ["K1", "K2", "K3"] * 2, f"marks: no key, resumed: {receiver.mrns()}")
    # Following a quiet table, a failed statement is tried again without
    # waiting for another outcome.
    quiet = os.path.join(work, "quiet.db")
    with sqlite3.connect(quiet) as db:
        db.execute("CREATE TABLE events(id INTEGER PRIMARY KEY, mrn TEXT, name TEXT)")
        db.executemany("INSERT INTO events VALUES (?, ?, 'N')", [(i, f"Q{i}") for i in (1, 2)])
    follow = [HL7, "--template", tmpl, "--records", f"odbc:Driver=SQLite3;Database={quiet}",
              "--query", "SELECT id, mrn AS Mrn, name AS Name FROM events", "--key", "id",
              "--follow", "--poll", str(POLL), "--send", f"127.0.0.1:{receiver.port}",
              "--journal", journal + ".quiet",
              "--on-settled", "UPDATE events SET sent = ? WHERE id = ?"] + DELIVERY
    sender = Sender(follow[1:], work)
    check(wait_until(lambda: {"Q1", "Q2"} <= set(receiver.mrns()), 5), "marks: quiet rows sent")
    time.sleep(2 * POLL)
    with sqlite3.connect(quiet, timeout=10) as db:
        db.execute("ALTER TABLE events ADD COLUMN sent TEXT")

    def marked():
        with sqlite3.connect(quiet, timeout=10) as db:
            return dict(db.execute("SELECT id, sent FROM events")) == {1: "delivered",
                                                                      2: "delivered"}
    check(wait_until(marked, 5), "marks: a quiet interface runs the failed statements again")
    check(sender.end() == 0, "marks: the quiet run ends cleanly")
    receiver.stop()


def postgres_case(work):
    bins = sorted(glob.glob("/usr/lib/postgresql/*/bin/pg_ctl"))
    if not bins:
        print("postgres: no PostgreSQL server installed; skipped")
        return
    bindir = os.path.dirname(bins[-1])
    data = os.path.join(work, "pgdata")
    # PostgreSQL refuses to run as root: the server runs as nobody.
    as_user = []
    if os.geteuid() == 0:
        as_user = ["runuser", "-u", "nobody", "--"]
        os.chmod(os.path.dirname(work), 0o755)
        os.chmod(work, 0o755)
        os.mkdir(data, 0o700)
        nobody = pwd.getpwnam("nobody")
        os.chown(data, nobody.pw_uid, nobody.pw_gid)
    port = free_port()
    run = lambda cmd, **kw: subprocess.run(as_user + cmd, check=True, timeout=60,
                                           stdout=subprocess.DEVNULL, **kw)
    run([f"{bindir}/initdb", "-D", data, "-A", "trust", "-U", "tarn", "-E", "UTF8", "--no-sync"])
    run([f"{bindir}/pg_ctl", "-D", data, "-l", os.path.join(data, "server.log"), "-w", "-t",
         "30", "-o", f"-p {port} -k {data} -c listen_addresses=127.0.0.1 -c fsync=off",
         "start"])
    try:
        psql = [f"{bindir}/psql", "-h", "127.0.0.1", "-p", str(port), "-U", "tarn", "-d",
                "postgres", "-v", "ON_ERROR_STOP=1", "-q", "-A", "-t", "-c"]

        def execute(sql):
            subprocess.run(psql + [sql], check=True, timeout=20, stdout=subprocess.DEVNULL)

        def sent_rows():
            out = subprocess.run(psql + ["SELECT id, sent FROM events WHERE sent IS NOT NULL"],
                                 check=True, timeout=20, capture_output=True, text=True).stdout
            return {int(a): b for a, b in (line.split("|") for line in out.split())}

        execute("CREATE TABLE events(id integer PRIMARY KEY, mrn text, name text, sent text)")
        database_case("postgres", work,
                      f"Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port={port};"
                      "Database=postgres;Username=tarn", execute, sent_rows,
                      lambda: run([f"{bindir}/pg_ctl", "-D", data, "-m", "fast", "-w", "-t", "30",
                                   "restart"]))
    finally:
        subprocess.run(as_user + [f"{bindir}/pg_ctl", "-D", data, "-m", "immediate", "-w",
                                  "stop"], timeout=60, stdout=subprocess.DEVNULL)


def file_case(work):
    """A followed file, rotated on the way; a SIGTERM with a message pending."""
    print("-- file", flush=True)
    tmpl = os.path.join(work, "adt.tmpl")
    with open(tmpl, "w") as f:
        f.write(TEMPLATE)
    records = os.path.join(work, "adt.jsonl")
    journal = os.path.join(work, "file.journal")
    open(records, "w").close()
    receiver = Receiver()
    receiver.start()
    args = ["--template", tmpl, "--records", records, "--follow", "--send",
            f"127.0.0.1:{receiver.port}", "--journal", journal] + DELIVERY

    def append(path, mrn):
        with open(path, "a") as f:
            f.write(json.dumps({"Mrn": mrn, "Name": "N"}) + "\n")
        return time.monotonic()

    sender = Sender(args, work)
    time.sleep(0.3)
    for k in range(1, 4):
        t = append(records, f"F{k}")
        check(wait_until(lambda: f"F{k}" in receiver.mrns(), 5), f"file: line {k} arrives")
        took = (receiver.arrival(f"F{k}") or 99) - t
        check(took < 1, f"file: latency {took:.3f} s")
        time.sleep(0.1)
    # A half-written line waits for its end.
    with open(records, "a") as f:
        f.write('{"Mrn": "F4", ')
    time.sleep(0.3)
    with open(records, "a") as f:
        f.write('"Name": "N"}\n')
    check(wait_until(lambda: "F4" in receiver.mrns(), 5), "file: a line written in two parts")
    # Rotated: renamed away and written anew.
    os.rename(records, records + ".1")
    t = append(records, "F5")
    check(wait_until(lambda: "F5" in receiver.mrns(), 5), "file: the rotated file is followed")
    print(f"file: after rotation {(receiver.arrival('F5') or 99) - t:.3f} s", flush=True)
    # SIGTERM while a message waits for the receiver: it stays pending.
    receiver.stop()
    append(records, "F6")
    time.sleep(0.5)
    status = sender.end()
    check(status == 0, f"file: SIGTERM with a message pending (status {status})")
    records_then, _ = journal_records(journal)
    check([r["outcome"] for r in records_then] == ["delivered"] * 5,
          f"file: the journal holds the five delivered {records_then}")
    check("F6" not in receiver.mrns(), "file: F6 was not received")
    check(receiver.mrns() == ["F1", "F2", "F3", "F4", "F5"], f"file: {receiver.mrns()}")


def pipe_case(work):
    print("-- pipe", flush=True)
    tmpl = os.path.join(work, "adt.tmpl")
    with open(tmpl, "w") as f:
        f.write(TEMPLATE)
    receiver = Receiver()
    receiver.start()
    sender = Sender(["--template", tmpl, "--records", "-", "--format", "jsonl", "--follow",
                     "--send", f"127.0.0.1:{receiver.port}"] + DELIVERY, work,
                    stdin=subprocess.PIPE)
    for k in range(1, 4):
        t = time.monotonic()
        sender.proc.stdin.write((json.dumps({"Mrn": f"P{k}", "Name": "N"}) + "\n").encode())
        sender.proc.stdin.flush()
        check(wait_until(lambda: f"P{k}" in receiver.mrns(), 5), f"pipe: line {k} arrives")
        took = (receiver.arrival(f"P{k}") or 99) - t
        check(took < 1, f"pipe: latency {took:.3f} s")
    sender.proc.stdin.close()
    try:
        status = sender.proc.wait(10)
    except subprocess.TimeoutExpired:
        sender.proc.kill()
        status = "hung"
    check(status == 0, f"pipe: ends with its input (status {status})")
    receiver.stop()


def policy_case(work):
    """--on-ae and --on-ar: which answers are final and which are tried again."""
    print("-- policy", flush=True)
    tmpl = os.path.join(work, "adt.tmpl")
    with open(tmpl, "w") as f:
        f.write(TEMPLATE)
    records = os.path.join(work, "adt.jsonl")
    with open(records, "w") as f:
        for mrn in ("E1", "R1", "OK"):
            f.write(json.dumps({"Mrn": mrn, "Name": "N"}) + "\n")
    receiver = Receiver()
    receiver.start()
    for run, policy, outcomes in (
            ("default", [], ["rejected", "delivered", "delivered"]),
            ("turned", ["--on-ae", "retry", "--on-ar", "reject"],
             ["delivered", "rejected", "delivered"])):
        receiver.script = {"E1": ["AE"], "R1": ["AR"]}
        journal = os.path.join(work, run + ".journal")
        status = subprocess.run([HL7, "--template", tmpl, "--records", records, "--send",
                                 f"127.0.0.1:{receiver.port}", "--journal", journal] + DELIVERY +
                                policy, capture_output=True, timeout=30).returncode
        check(status == 1, f"policy {run}: status {status}")
        got = [r["outcome"] for r in journal_records(journal)[0]]
        check(got == outcomes, f"policy {run}: {got}")
    receiver.stop()


def main():
    drivers = subprocess.run(["odbcinst", "-q", "-d"], capture_output=True, text=True).stdout \
        if shutil.which("odbcinst") else ""
    work_root = tempfile.mkdtemp(prefix="tarn-follow-")
    try:
        for case in CASES:
            work = os.path.join(work_root, case)
            os.mkdir(work)
            if case in ("sqlite", "chunks", "marks") and "SQLite3" not in drivers:
                print("sqlite: no SQLite3 ODBC driver; skipped")
                continue
            if case == "postgres" and "PostgreSQL Unicode" not in drivers:
                print("postgres: no PostgreSQL ODBC driver; skipped")
                continue
            try:
                {"sqlite": sqlite_case, "postgres": postgres_case, "chunks": chunks_case,
                 "marks": marks_case,
                 "file": file_case,
                 "pipe": pipe_case, "policy": policy_case}[case](work)
            except Exception as e:  # a step that failed outright fails the check
                check(False, f"{case}: {e!r}")
            if (failures or os.environ.get("TARN_FOLLOW_VERBOSE")) and \
                    os.path.exists(os.path.join(work, "stderr.txt")):
                with open(os.path.join(work, "stderr.txt"), errors="replace") as f:
                    print(f"tarn-hl7's standard error ({case}):\n" + f.read()[-4000:])
    finally:
        shutil.rmtree(work_root, ignore_errors=True)
    print("FAILED" if failures else "ok", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

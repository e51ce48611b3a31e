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

    hl7_follow_check.py TARN_HL7 [sqlite|chunks|marks|postgres|file|pipe|policy ...]

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
QUERY = ["--query", "SELECT id, mrn AS Mrn, name AS Name FROM events"]
MARK = ["--on-settled", "UPDATE events SET sent = ? WHERE id = ?"]
FOLLOW = ["--follow", "--poll", str(POLL)]
TMPL = ""  # TEMPLATE's file, which main() writes
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
        self.conns = []
        self.script = {}  # MRN -> the answers it gets before AA
        self.start()

    def start(self):
        self.server = socket.create_server(("127.0.0.1", self.port))
        threading.Thread(target=self._accept, args=(self.server,), daemon=True).start()

    def stop(self):
        # shutdown() wakes the accept() and recv() under way.
        for s in [self.server] + self.conns:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()
        self.conns = []

    def mrns(self):
        with self.lock:
            return [m for m, _, _ in self.got]

    def wait_for(self, mrns, seconds):
        return wait_until(lambda: set(mrns) <= set(self.mrns()), seconds)

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
            while data := conn.recv(65536):
                buffer += data
                while b"\x1c\r" in buffer:
                    frame, buffer = buffer.split(b"\x1c\r", 1)
                    segments = frame.lstrip(b"\x0b").decode().split("\r")
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


def delivery(receiver, journal=None):
    """tarn-hl7's arguments for the template and delivery to RECEIVER."""
    return (["--template", TMPL, "--send", f"127.0.0.1:{receiver.port}", "--ack-timeout", "2",
             "--retry-delay", "0.1", "--max-retry-delay", "0.4", "--control-id", "S"] +
            (["--journal", journal] if journal else []))


def run(args):
    return subprocess.run([HL7] + args, capture_output=True, timeout=60)


class Sender:
    def __init__(self, args, work, stdin=None):
        self.err = open(os.path.join(work, "stderr.txt"), "ab")
        self.proc = subprocess.Popen([HL7] + args, stdin=stdin, stdout=subprocess.DEVNULL,
                                     stderr=self.err)

    def end(self, sig=signal.SIGTERM):
        """Signals the sender (or closes its input) and returns its status."""
        if sig:
            self.proc.send_signal(sig)
        else:
            self.proc.stdin.close()
        try:
            return self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "hung"


def journal_records(path):
    """The journal's records and the keys it marks as settled."""
    with open(path) as f:
        lines = [json.loads(line) for line in f if line.strip()][1:]
    return [j for j in lines if "marked" not in j], {j["marked"] for j in lines if "marked" in j}


def sqlite(path, statement, rows=None):
    with sqlite3.connect(path, timeout=10) as db:
        if rows is None:
            return db.execute(statement).fetchall()
        db.executemany(statement, rows)


def events_db(path, mrns, columns="mrn TEXT, name TEXT"):
    sqlite(path, f"CREATE TABLE events(id INTEGER PRIMARY KEY, {columns})")
    if mrns:
        sqlite(path, "INSERT INTO events(id, mrn, name) VALUES (?, ?, 'N')",
               list(enumerate(mrns, 1)))
    return path


def database_case(name, work, connection, execute, sent_rows, restart=None):
    """Follows a table through kills and receiver outages."""
    journal = os.path.join(work, "adt.journal")
    log = os.path.join(work, "adt.log")
    receiver = Receiver()
    args = (["--records", "odbc:" + connection, "--key", "id", "--log", log] + QUERY + MARK +
            FOLLOW + delivery(receiver, journal))
    inserted = []

    def insert(count, spacing=0.0):
        for _ in range(count):
            i = len(inserted) + 1
            execute(f"INSERT INTO events(id, mrn, name) VALUES ({i}, 'M{i}', 'Name {i}')")
            inserted.append((f"M{i}", time.monotonic()))
            time.sleep(spacing)

    def all_arrived(seconds):
        return receiver.wait_for([m for m, _ in inserted], seconds)

    insert(2)  # rows already there when the interface starts
    sender = Sender(args, work)
    insert(5, 0.15)
    check(all_arrived(10), f"{name}: rows inserted while following arrive")
    worst = max(receiver.arrival(m) - t for m, t in inserted)
    print(f"{name}: slowest row took {worst:.3f} s (bound {2 * POLL + 1:.1f} s)", flush=True)
    check(worst < 2 * POLL + 1, f"{name}: latency {worst:.3f} s")

    # Killed in the middle of a stream of rows, then started again.
    writer = threading.Thread(target=insert, args=(20, 0.02))
    writer.start()
    time.sleep(0.2)
    sender.end(signal.SIGKILL)
    writer.join()
    sender = Sender(args, work)
    check(all_arrived(15), f"{name}: rows survive a kill")

    receiver.stop()
    insert(4, 0.05)
    check(not all_arrived(1.0), f"{name}: receiver was down")
    receiver.start()
    check(all_arrived(10), f"{name}: rows waited for the receiver")
    if restart:
        # The database goes away under the interface and comes back.
        restart()
        insert(3, 0.05)
        check(all_arrived(15), f"{name}: rows after the database restarted")
    time.sleep(2 * POLL)
    status = sender.end()
    check(status == 0, f"{name}: SIGTERM ends the run cleanly (status {status})")
    receiver.stop()

    got = receiver.mrns()
    firsts = list(dict.fromkeys(got))
    check(firsts == [m for m, _ in inserted], f"{name}: key order {firsts}")
    extra = len(got) - len(firsts)
    check(extra <= 1, f"{name}: {extra} messages sent twice (one kill may send one twice)")
    records, _ = journal_records(journal)
    keys = [r["key"] for r in records]
    check(keys == list(range(1, len(inserted) + 1)), f"{name}: the journal's keys {keys}")
    check(all(r["outcome"] == "delivered" for r in records), f"{name}: all delivered")
    check([r["record"] for r in records] == list(range(1, len(records) + 1)),
          f"{name}: record numbers")
    sent = sent_rows()
    check(sent == {r["key"]: "delivered" for r in records},
          f"{name}: --on-settled marked exactly the settled rows {sent}")
    with open(log) as f:
        delivered = [o for o in map(json.loads, f) if o["outcome"] == "delivered"]
    # A kill between the journal's line and the log's loses that log line.
    check(len(set(keys) - {o["key"] for o in delivered}) <= 1 and
          all("latency_ms" in o and o["control_id"] for o in delivered), f"{name}: --log")


def sqlite_case(work):
    path = events_db(os.path.join(work, "events.db"), [], "mrn TEXT, name TEXT, sent TEXT")
    database_case("sqlite", work, f"Driver=SQLite3;Database={path};Timeout=10000",
                  lambda sql: sqlite(path, sql),
                  lambda: dict(sqlite(path, "SELECT id, sent FROM events WHERE sent IS NOT NULL")))


def chunks_case(work):
    """More rows than are fetched at once, with a key and without; typed columns."""
    path = os.path.join(work, "many.db")
    sqlite(path, "CREATE TABLE events(id INTEGER PRIMARY KEY, mrn TEXT, born DATE, w REAL)")
    sqlite(path, "INSERT INTO events VALUES (?, ?, '1980-03-05', 2.0)",
           [(i, f"M{i}") for i in range(1, 1203)])
    tmpl = os.path.join(work, "t.tmpl")
    with open(tmpl, "w") as f:
        f.write("MSH|^~\\&|A\nPID|1||{{Mrn}}||{{W}}|{{Format Born, \"yyyymmdd\"}}\n")
    for key in (["--key", "id"], []):
        out = run(["--template", tmpl, "--records", f"odbc:Driver=SQLite3;Database={path}",
                   "--query", "SELECT id, mrn AS Mrn, born AS Born, w AS W FROM events",
                   "--framing", "lf"] + key)
        pids = [seg for seg in out.stdout.decode().replace("\n", "\r").split("\r")
                if seg.startswith("PID")]
        mrns = [p.split("|")[3] for p in pids]
        check(mrns == [f"M{i}" for i in range(1, 1203)], f"chunks {key}: {len(mrns)} rows")
        check(bool(pids) and pids[0].endswith("|19800305"), f"chunks: a DATE column is a Date")


def marks_case(work):
    """--on-settled statements that failed run again when the run is resumed."""
    path = events_db(os.path.join(work, "marks.db"), ["K1", "K2", "K3"])
    journal = os.path.join(work, "marks.journal")
    receiver = Receiver()
    records = ["--records", f"odbc:Driver=SQLite3;Database={path}"] + QUERY
    args = records + ["--key", "id"] + MARK + delivery(receiver, journal)
    first = run(args)
    check(first.returncode == 0 and b"no such column: sent" in first.stderr,
          f"marks: a failing statement is reported and the run goes on: {first.stderr[-300:]}")
    check(journal_records(journal)[1] == set(), "marks: nothing marked yet")
    sqlite(path, "ALTER TABLE events ADD COLUMN sent TEXT")
    second = run(args)
    check(second.returncode == 0, f"marks: resumed: {second.stderr[-300:]}")
    sent = dict(sqlite(path, "SELECT id, sent FROM events"))
    check(sent == {1: "delivered", 2: "delivered", 3: "delivered"}, f"marks: {sent}")
    check(journal_records(journal)[1] == {1, 2, 3}, "marks: the journal marks all three")
    check(receiver.mrns() == ["K1", "K2", "K3"], f"marks: sent once each: {receiver.mrns()}")
    # Without a key a run started again skips the rows its journal settled.
    for _ in range(2):
        again = run(records + delivery(receiver, journal + ".plain"))
        check(again.returncode == 0, f"marks: without a key: {again.stderr[-300:]}")
    check(receiver.mrns() == ["K1", "K2", "K3"] * 2, f"marks: no key, resumed: {receiver.mrns()}")
    # Following a quiet table, a failed statement is tried again without
    # waiting for another outcome.
    quiet = events_db(os.path.join(work, "quiet.db"), ["Q1", "Q2"])
    sender = Sender(["--records", f"odbc:Driver=SQLite3;Database={quiet}", "--key", "id"] +
                    QUERY + MARK + FOLLOW + delivery(receiver, journal + ".quiet"), work)
    check(receiver.wait_for(["Q1", "Q2"], 5), "marks: quiet rows sent")
    time.sleep(2 * POLL)
    sqlite(quiet, "ALTER TABLE events ADD COLUMN sent TEXT")
    check(wait_until(lambda: dict(sqlite(quiet, "SELECT id, sent FROM events")) ==
                     {1: "delivered", 2: "delivered"}, 5),
          "marks: a quiet interface runs the failed statements again")
    check(sender.end() == 0, "marks: the quiet run ends cleanly")


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

    def pg_ctl(*args, check=True):
        subprocess.run(as_user + [f"{bindir}/pg_ctl", "-D", data, "-w", "-t", "30", *args],
                       check=check, timeout=60, stdout=subprocess.DEVNULL)

    subprocess.run(as_user + [f"{bindir}/initdb", "-D", data, "-A", "trust", "-U", "tarn", "-E",
                              "UTF8", "--no-sync"], check=True, timeout=60,
                   stdout=subprocess.DEVNULL)
    pg_ctl("-l", os.path.join(data, "server.log"), "-o",
           f"-p {port} -k {data} -c listen_addresses=127.0.0.1 -c fsync=off", "start")
    try:
        psql = [f"{bindir}/psql", "-h", "127.0.0.1", "-p", str(port), "-U", "tarn", "-d",
                "postgres", "-v", "ON_ERROR_STOP=1", "-q", "-A", "-t", "-c"]

        def execute(sql):
            return subprocess.run(psql + [sql], check=True, timeout=20, capture_output=True,
                                  text=True).stdout

        def sent_rows():
            out = execute("SELECT id, sent FROM events WHERE sent IS NOT NULL")
            return {int(a): b for a, b in (line.split("|") for line in out.split())}

        execute("CREATE TABLE events(id integer PRIMARY KEY, mrn text, name text, sent text)")
        database_case("postgres", work,
                      f"Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port={port};"
                      "Database=postgres;Username=tarn", execute, sent_rows,
                      lambda: pg_ctl("-m", "fast", "restart"))
    finally:
        pg_ctl("-m", "immediate", "stop", check=False)


def lines_arrive(receiver, write, mrns, what):
    """Each line written must reach the receiver within a second."""
    for mrn in mrns:
        since = time.monotonic()
        write(json.dumps({"Mrn": mrn, "Name": "N"}) + "\n")
        check(receiver.wait_for([mrn], 5), f"{what}: {mrn} arrives")
        took = (receiver.arrival(mrn) or 99) - since
        check(took < 1, f"{what}: {mrn} took {took:.3f} s")
        time.sleep(0.1)


def file_case(work):
    """A followed file, rotated on the way; a SIGTERM with a message pending."""
    records = os.path.join(work, "adt.jsonl")
    journal = os.path.join(work, "file.journal")
    open(records, "w").close()
    receiver = Receiver()
    sender = Sender(["--records", records, "--follow"] + delivery(receiver, journal), work)

    def append(text):
        with open(records, "a") as f:
            f.write(text)

    time.sleep(0.3)
    lines_arrive(receiver, append, ["F1", "F2", "F3"], "file")
    # A half-written line waits for its end.
    append('{"Mrn": "F4", ')
    time.sleep(0.3)
    append('"Name": "N"}\n')
    check(receiver.wait_for(["F4"], 5), "file: a line written in two parts")
    # Rotated: renamed away and written anew.
    os.rename(records, records + ".1")
    lines_arrive(receiver, append, ["F5"], "file: the rotated file")
    # SIGTERM while a message waits for the receiver: it stays pending.
    receiver.stop()
    append(json.dumps({"Mrn": "F6", "Name": "N"}) + "\n")
    time.sleep(0.5)
    status = sender.end()
    check(status == 0, f"file: SIGTERM with a message pending (status {status})")
    outcomes = [r["outcome"] for r in journal_records(journal)[0]]
    check(outcomes == ["delivered"] * 5, f"file: the journal holds the five delivered {outcomes}")
    check(receiver.mrns() == ["F1", "F2", "F3", "F4", "F5"], f"file: {receiver.mrns()}")


def pipe_case(work):
    receiver = Receiver()
    sender = Sender(["--records", "-", "--format", "jsonl", "--follow"] + delivery(receiver),
                    work, stdin=subprocess.PIPE)

    def write(text):
        sender.proc.stdin.write(text.encode())
        sender.proc.stdin.flush()

    lines_arrive(receiver, write, ["P1", "P2", "P3"], "pipe")
    status = sender.end(None)
    check(status == 0, f"pipe: ends with its input (status {status})")


def policy_case(work):
    """--on-ae and --on-ar: which answers are final and which are tried again."""
    records = os.path.join(work, "adt.jsonl")
    with open(records, "w") as f:
        f.writelines(json.dumps({"Mrn": mrn, "Name": "N"}) + "\n" for mrn in ("E1", "R1", "OK"))
    receiver = Receiver()
    for name, policy, outcomes in (
            ("default", [], ["rejected", "delivered", "delivered"]),
            ("turned", ["--on-ae", "retry", "--on-ar", "reject"],
             ["delivered", "rejected", "delivered"])):
        receiver.script = {"E1": ["AE"], "R1": ["AR"]}
        journal = os.path.join(work, name + ".journal")
        status = run(["--records", records] + delivery(receiver, journal) + policy).returncode
        check(status == 1, f"policy {name}: status {status}")
        got = [r["outcome"] for r in journal_records(journal)[0]]
        check(got == outcomes, f"policy {name}: {got}")


def main():
    global TMPL
    drivers = subprocess.run(["odbcinst", "-q", "-d"], capture_output=True, text=True).stdout \
        if shutil.which("odbcinst") else ""
    work_root = tempfile.mkdtemp(prefix="tarn-follow-")
    TMPL = os.path.join(work_root, "adt.tmpl")
    with open(TMPL, "w") as f:
        f.write(TEMPLATE)
    try:
        for case in CASES:
            print(f"-- {case}", flush=True)
            work = os.path.join(work_root, case)
            os.mkdir(work)
            driver = {"sqlite": "SQLite3", "chunks": "SQLite3", "marks": "SQLite3",
                      "postgres": "PostgreSQL Unicode"}.get(case)
            if driver and driver not in drivers:
                print(f"{case}: no {driver} ODBC driver; skipped")
                continue
            try:
                globals()[case + "_case"](work)
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

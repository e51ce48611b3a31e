#!/usr/bin/env bash
# An ADT feed from a SQLite table: tarn-hl7 --follow polls the table through
# Debian's SQLite ODBC driver, sends each new row as ADT^A08 to the small
# receiver in this folder, journals it and marks the row as sent. Rows are
# inserted while it runs; after a while it is stopped with SIGTERM, as
# systemd stops the service (see examples/tarn-hl7-adt.service).
#
#   examples/hl7/adt_feed.sh [TARN_HL7] [WORK_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
hl7="${1:-$here/../../build/tools/tarn-hl7}"
work="${2:-$(mktemp -d)}"
mkdir -p "$work"
db="$work/adt.db"
rm -f "$db" "$work/adt.journal" "$work/adt.log" "$work/received.hl7"
python3 - "$db" <<'PY'
import sqlite3, sys
with sqlite3.connect(sys.argv[1]) as db:
    db.execute("""CREATE TABLE adt_events(
        id INTEGER PRIMARY KEY, event_time TIMESTAMP, mrn TEXT, last_name TEXT,
        first_name TEXT, birth_date DATE, sex TEXT, patient_class TEXT, ward TEXT,
        room INTEGER, bed TEXT, sent TEXT)""")
PY
insert() {
  python3 - "$db" "$@" <<'PY'
import sqlite3, sys
with sqlite3.connect(sys.argv[1], timeout=10) as db:
    db.execute("INSERT INTO adt_events(event_time, mrn, last_name, first_name, birth_date, sex,"
               " patient_class, ward, room, bed) VALUES (datetime('now'), ?, ?, ?, ?, ?, 'I',"
               " 'W3', 12, 'B')", sys.argv[2:])
PY
}
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 "$here/mllp_receiver.py" --port "$port" --out "$work/received.hl7" --seconds 30 &
receiver=$!
sleep 0.5
insert MRN1001 smith Ann 1980-03-05 F
"$hl7" --template "$here/adt_a08.tmpl" \
  --records "odbc:Driver=SQLite3;Database=$db" \
  --query "SELECT id, event_time AS EventTime, mrn AS Mrn, last_name AS LastName,
                  first_name AS FirstName, birth_date AS BirthDate, sex AS Sex,
                  patient_class AS PatientClass, ward AS Ward, room AS Room, bed AS Bed
           FROM adt_events" \
  --key id --follow --poll 1 --control-id ADT \
  --send "127.0.0.1:$port" --journal "$work/adt.journal" --log "$work/adt.log" \
  --on-settled "UPDATE adt_events SET sent = ? WHERE id = ?" &
sender=$!
sleep 1
insert MRN1002 doe Bob 1975-12-01 M
insert "" nobody Carl 1990-01-01 M   # no MRN: rejected, PID-3.1 named
sleep 1
insert MRN1003 roe Dana 2001-07-14 F
sleep 2.5
kill -TERM "$sender"
status=0
wait "$sender" || status=$?
kill "$receiver" 2>/dev/null || true
wait "$receiver" 2>/dev/null || true
echo "tarn-hl7 ended with status $status; the table now says:"
python3 - "$db" <<'PY'
import sqlite3, sys
for row in sqlite3.connect(sys.argv[1]).execute("SELECT id, mrn, sent FROM adt_events"):
    print("  ", row)
PY
echo "Journal $work/adt.journal, outcomes $work/adt.log, messages $work/received.hl7"
[ "$status" -le 1 ]

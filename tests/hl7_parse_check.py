#!/usr/bin/env python3
# Reads tarn-hl7's ORU^R01 messages and batch files back with an independent
# HL7 v2 parser (Debian's python3-hl7), so that what a receiver's library sees
# is checked, not only the bytes we meant to write.
#
#   hl7_parse_check.py TARN_HL7 SOURCE_DIR
#
# Exits 77 (skipped) when the hl7 module is not installed.
import json
import os
import subprocess
import sys
import tempfile
import unittest

try:
    import hl7
except ImportError:
    print("skipped: the Python module 'hl7' (python3-hl7) is not installed "
          f"for {sys.executable}")
    sys.exit(77)

TOOL = ""
SOURCE = ""
DATES = "MessageDateTime,BirthDate,CollectedAt"


def run_tool(records, *extra, status=0):
    """Runs tarn-hl7 on the ORU^R01 example; returns its output file's text."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.hl7")
        cmd = [TOOL, "--template", os.path.join(SOURCE, "examples/hl7/oru_r01_orders.tmpl"),
               "--records", records, "--dates", DATES, "--control-id", "LAB",
               "--output", out, *extra]
        done = subprocess.run(cmd, cwd=tmp, capture_output=True, timeout=60)
        if done.returncode != status:
            raise AssertionError(f"{cmd} exited {done.returncode}: {done.stderr.decode()}")
        with open(out, "rb") as f:
            return f.read().decode("utf-8")


def read_records(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def expected_segments(record):
    """The segment ids the template's groups and conditions give a record."""
    ids = ["MSH", "PID"] + (["NTE"] if record["Fasting"] else [])
    for order in record["Orders"]:
        ids.append("OBR")
        for result in order["Results"]:
            ids.append("OBX")
            if result["Value"] > result["High"]:
                ids.append("NTE")
    return ids


def expected_values(number, record):
    """(segment id, occurrence, field, repetition, component, decoded text)."""
    rows = [("MSH", 0, 10, 1, 1, f"LAB{number}"),
            ("PID", 0, 3, 1, 1, record["Mrn"]),
            ("PID", 0, 5, 1, 1, record["LastName"]),
            ("PID", 0, 5, 1, 2, record["FirstName"])]
    for k, other in enumerate(record["OtherIds"]):
        rows += [("PID", 0, 3, k + 2, 1, other["Id"]),
                 ("PID", 0, 3, k + 2, 4, other["Authority"]),
                 ("PID", 0, 3, k + 2, 5, other["Kind"])]
    obx = 0
    for i, order in enumerate(record["Orders"]):
        rows += [("OBR", i, 1, 1, 1, str(i + 1)),
                 ("OBR", i, 2, 1, 1, order["OrderNumber"]),
                 ("OBR", i, 4, 1, 1, order["Code"]),
                 ("OBR", i, 4, 1, 2, order["Name"])]
        for j, result in enumerate(order["Results"]):
            rows += [("OBX", obx, 1, 1, 1, str(j + 1)),
                     ("OBX", obx, 3, 1, 1, result["Code"]),
                     ("OBX", obx, 3, 1, 2, result["Name"]),
                     ("OBX", obx, 6, 1, 1, result["Units"])]
            obx += 1
    return rows


def segment_ids(message):
    return [str(segment[0]) for segment in message]


def messages_of(parsed):
    return [message for batch in parsed for message in batch]


class OruParse(unittest.TestCase):
    def setUp(self):
        self.records_path = os.path.join(SOURCE, "examples/hl7/lab_orders.jsonl")
        self.records = read_records(self.records_path)
        self.plain = hl7.parse_file(run_tool(self.records_path))

    def check_record(self, number, record, message):
        self.assertEqual(segment_ids(message), expected_segments(record))
        for sid, occurrence, field, rep, comp, want in expected_values(number, record):
            with self.subTest(record=number, at=f"{sid}[{occurrence}]-{field}.{rep}.{comp}"):
                segment = message.segments(sid)[occurrence]
                self.assertEqual(segment.extract_field(1, field, rep, comp), want)

    def test_messages_have_their_orders_results_and_conditions(self):
        self.assertIsNone(self.plain.header)  # no envelope without --batch
        messages = messages_of(self.plain)
        self.assertEqual(len(messages), len(self.records))
        for number, (record, message) in enumerate(zip(self.records, messages), 1):
            with self.subTest(record=number):
                self.check_record(number, record, message)

    def test_escaped_values_decode_to_the_record(self):
        # Every character the template language must escape, in the fields a
        # receiver is most likely to read back.
        path = os.path.join(SOURCE, "tests/data/hl7/escapes.jsonl")
        messages = messages_of(hl7.parse_file(run_tool(path)))
        self.assertEqual(len(messages), 1)
        self.check_record(1, read_records(path)[0], messages[0])

    def test_batch_envelope_counts(self):
        plain = [str(m) for m in messages_of(self.plain)]
        first_msh = messages_of(self.plain)[0].segment("MSH")
        for extra, sizes in [([], [3]), (["--batch-size", "2"], [2, 1]),
                             (["--batch-size", "1"], [1, 1, 1])]:
            with self.subTest(options=extra):
                parsed = hl7.parse_file(run_tool(self.records_path, "--batch", *extra))
                self.assertEqual(str(parsed.header[0]), "FHS")
                for field in range(3, 7):
                    self.assertEqual(str(parsed.header[field]), str(first_msh[field]))
                self.assertEqual(str(parsed.trailer[0]), "FTS")
                self.assertEqual(str(parsed.trailer[1]), str(len(parsed)))
                self.assertEqual([len(batch) for batch in parsed], sizes)
                for batch in parsed:
                    self.assertIsNotNone(batch.header, "messages outside any BHS")
                    self.assertEqual(str(batch.header[0]), "BHS")
                    self.assertEqual(str(batch.trailer[0]), "BTS")
                    self.assertEqual(str(batch.trailer[1]), str(len(batch)))
                self.assertEqual([str(m) for m in messages_of(parsed)], plain)

    def test_rejected_records_stay_out_of_the_batch(self):
        first = json.dumps(self.records[0])
        for lines, count in [([first, "not a record", first], 2), (["not a record"], 0)]:
            with self.subTest(lines=lines), tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, "some_bad.jsonl")
                with open(path, "w", encoding="utf-8") as f:
                    f.write("\n".join(lines) + "\n")
                parsed = hl7.parse_file(run_tool(path, "--batch", status=1))
                self.assertEqual(str(parsed.trailer[1]), "1")
                self.assertEqual(len(parsed), 1)
                self.assertEqual(str(parsed[0].trailer[1]), str(count))
                self.assertEqual(len(parsed[0]), count)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: hl7_parse_check.py TARN_HL7 SOURCE_DIR")
    TOOL, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"])

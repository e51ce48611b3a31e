"""tarnintr.hl7.build: messages and rejects through the HL7 library."""
import datetime as dt
import os

import pytest

import tarnintr

TEMPLATE = "\n".join([
    "MSH|^~\\&|TARN|{{Facility}}|RECV|HOSP|{{Format Sent, \"yyyymmddhhnnss\"}}||ADT^A01|{{Id}}|P|2.5.1",
    "PID|1||{{Mrn}}||{{Last}}^{{First}}",
    "@each Kin: NK1|{{SetId}}|{{Last}}",
])
ZONED = dt.datetime(2024, 7, 1, 10, 0, tzinfo=dt.timezone(dt.timedelta(hours=-4)))
BUILT = [
    # template, records, keywords, messages (every record builds)
    (TEMPLATE, [{"Facility": "GEN", "Sent": dt.datetime(2024, 1, 5, 13, 45, 10), "Id": 7,
                 "Mrn": "M1", "Last": "O^Brien", "First": "Pat",
                 "Kin": [{"Last": "Doe"}, {"Last": "Roe"}]}], {},
     ["MSH|^~\\&|TARN|GEN|RECV|HOSP|20240105134510||ADT^A01|7|P|2.5.1\r"
      "PID|1||M1||O\\S\\Brien^Pat\rNK1|1|Doe\rNK1|2|Roe\r"]),
    # None is an empty text; nested dicts flatten.
    ("MSH|^~\\&|A\nPID|1||{{Mrn}}|{{Name_Last}}|{{Middle & \"x\"}}",
     [{"Mrn": 5, "Name": {"Last": "Doe"}, "Middle": None}], {}, ["MSH|^~\\&|A\rPID|1||5|Doe|x\r"]),
    # JSON Lines text, with dates.
    ("MSH|^~\\&|A\nPID|{{Format Sent, \"yyyymmddhhnnss\"}}", '{"Sent": "2024-01-05T13:45:10"}\n',
     {"dates": ["Sent"]}, ["MSH|^~\\&|A\rPID|20240105134510\r"]),
    # Strict by default (see below), lenient on request.
    ('MSH|^~\\&|A\nPID|{{Replace Last, "\u00fc", "ue"}}', [{"Last": "M\u00fcller"}],
     {"lenient": True}, ["MSH|^~\\&|A\rPID|M\u00fcller\r"]),
    # A zoned datetime keeps its time and offset; optional fields may be empty.
    ("MSH|^~\\&|A\nPID|{{FormatHL7DateTime Seen, 0, , True, True, SeenOffset}}|"
     "{{?FormatHL7DateTime Tx}}",
     [{"Seen": ZONED, "Tx": ""}, {"Seen": ZONED, "Tx": dt.date(2024, 7, 2)}], {},
     ["MSH|^~\\&|A\rPID|20240701100000-0400|\r",
          "MSH|^~\\&|A\rPID|20240701100000-0400|20240702\r"]),
]


@pytest.mark.parametrize("template,records,keywords,messages", BUILT)
def test_messages(template, records, keywords, messages):
    result = tarnintr.hl7.build(template, records, **keywords)
    assert (result.messages, result.rejects) == (messages, [])


def test_a_failing_record_is_rejected_and_the_rest_go_on():
    records = [
        {"Facility": "A", "Sent": dt.datetime(2024, 1, 5), "Id": 1, "Mrn": "M1",
         "Last": "L", "First": "F"},
        {"Facility": "B", "Id": 2, "Mrn": "M2", "Last": "L", "First": "F"},  # no Sent
    ]
    result = tarnintr.hl7.build(TEMPLATE, records)
    assert len(result.messages) == 1 and result.messages[0].startswith("MSH|^~\\&|TARN|A|")
    assert [r["record"] for r in result.rejects] == [2]
    failure = result.rejects[0]["expressions"][0]
    assert failure["at"] == "template:1:38"
    assert "Sent" in failure["expression"]


def test_the_example_files():
    root = os.environ.get("TARN_SOURCE_DIR",
                          os.path.join(os.path.dirname(__file__), "..", ".."))
    with open(os.path.join(root, "examples/hl7/adt_a01.tmpl"), encoding="utf-8") as f:
        template = f.read()
    with open(os.path.join(root, "examples/hl7/patients.jsonl"), encoding="utf-8") as f:
        records = f.read()
    result = tarnintr.hl7.build(
        template, records, dates=["BirthDate", "MessageDateTime", "AdmitDateTime", "DiagnosedAt"])
    assert len(result.messages) + len(result.rejects) == records.count("\n")
    assert result.messages and all(m.startswith("MSH|") for m in result.messages)


@pytest.mark.parametrize("template,records,error", [
    ("PID|{{Mrn", [], ValueError),
    ("MSH|^~\\&|A\nPID|{{Mrn", [], ValueError),
    (TEMPLATE, [["not", "a", "dict"]], TypeError),
    (TEMPLATE, [{"Mrn": object()}], TypeError),
])
def test_misuse_raises(template, records, error):
    with pytest.raises(error):
        tarnintr.hl7.build(template, records)


NESTED = "\n".join([
    "MSH|^~\\&|A|{{ControlId}}|{{RecordNumber}}",
    "@each Orders:",
    "OBR|{{SetId}}|{{Code}}",
    "@each Notes: NTE|{{SetId}}|{{Value}}",
    "@end",
    "PID|{{FormatHL7DateTime Born}}",
])
RECORDS = [
    {"Born": dt.date(1980, 5, 3), "Orders": [{"Code": "A", "Notes": ["x", "y"]},
                                             {"Code": "B", "Notes": ["z"]}]},
    {"Born": "1980-05-03", "Orders": []},
    {"Born": "no date", "Orders": []},
]


def test_objects_and_json_text_give_the_same_messages_and_rejects():
    import json
    text = "\n".join(json.dumps(r, default=str) for r in RECORDS) + "\n"
    by_objects = tarnintr.hl7.build(NESTED, RECORDS, dates=["Born"], control_id="C")
    by_text = tarnintr.hl7.build(NESTED, text, dates=["Born"], control_id="C")
    assert by_objects.messages == by_text.messages
    assert by_objects.messages[0] == ("MSH|^~\\&|A|C1|1\rOBR|1|A\rNTE|1|x\rNTE|2|y\r"
                                      "OBR|2|B\rNTE|1|z\rPID|19800503\r")
    assert len(by_objects.messages) == 2
    assert [r["record"] for r in by_objects.rejects] == [3]
    assert by_objects.rejects == by_text.rejects
    assert "is no date" in by_objects.rejects[0]["reason"]


def test_strict_by_default():
    template = 'MSH|^~\\&|A\nPID|{{Replace Last, "\u00fc", "ue"}}'
    strict = tarnintr.hl7.build(template, [{"Last": "M\u00fcller"}])
    assert strict.messages == [] and "keeps the comma" in str(strict.rejects)


def test_a_record_that_contains_itself_is_a_value_error():
    record = {"A": 1}
    record["Self"] = [record]
    with pytest.raises(ValueError):
        tarnintr.hl7.build(TEMPLATE, [record])


def test_groups_nest_to_a_limit():
    deep = "MSH|^~\\&|A\n" + "@each L:\n" * 60000 + "PID|1\n" + "@end\n" * 60000
    with pytest.raises(ValueError, match=r"template:\d+:\d+: .*nest"):
        tarnintr.hl7.build(deep, [])


def _tool():
    path = os.path.join(os.path.dirname(tarnintr.__file__), "..", "..", "tools", "tarn-hl7")
    return path if os.path.exists(path) else None


@pytest.mark.skipif(_tool() is None, reason="tarn-hl7 is not built beside the package")
def test_the_same_messages_and_rejects_as_tarn_hl7(tmp_path):
    import json
    import pathlib
    import subprocess
    template = tmp_path / "t.tmpl"
    template.write_text(NESTED + '\nZSE|{{FormatHL7DateTime Seen, 0, , True, True, SeenOffset}}|'
                        '{{Replace Name, "a" , "b"}}|{{?Big}}\n', encoding="utf-8")
    records = tmp_path / "r.jsonl"
    rows = [dict(r, Seen="2024-07-01T10:00:00-04:00", Name="a") for r in RECORDS]
    rows.append(dict(rows[1], Big=1e20))
    records.write_text("".join(json.dumps(r, default=str) + "\n" for r in rows), encoding="utf-8")
    rejects = tmp_path / "rejects.jsonl"
    run = subprocess.run([_tool(), "--template", str(template), "--records", str(records),
                          "--dates", "Born,Seen", "--date-order", "dmy", "--control-id", "C",
                          "--framing", "lf", "--rejects", str(rejects)],
                         capture_output=True, check=False)
    tool_messages = [m + "\r" for m in run.stdout.decode().split("\r\n") if m]
    tool_rejects = [json.loads(line) for line in rejects.read_text(encoding="utf-8").splitlines()]
    for given in (pathlib.Path(records), rows):
        result = tarnintr.hl7.build(pathlib.Path(template), given, dates=["Born", "Seen"],
                                    date_order="dmy", control_id="C")
        assert result.messages == tool_messages
        assert result.rejects == tool_rejects
    assert len(tool_messages) == 2 and "ZSE|20240701100000-0400|b|\r" in tool_messages[0]
    assert [r["record"] for r in tool_rejects] == [3, 4]  # no date; a number HL7 cannot take

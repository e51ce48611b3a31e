"""tarnintr.hl7.build: messages and rejects through the HL7 library."""
import datetime as dt
import json
import os
import subprocess

import pytest

import tarnintr
from datarows import rows

TEMPLATE = "\n".join([
    "MSH|^~\\&|TARN|{{Facility}}|RECV|HOSP|{{Format Sent, \"yyyymmddhhnnss\"}}||ADT^A01|{{Id}}|P|2.5.1",
    "PID|1||{{Mrn}}||{{Last}}^{{First}}",
    "@each Kin: NK1|{{SetId}}|{{Last}}",
])


@pytest.mark.parametrize("template,records,keywords,messages", rows("build"))
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


def test_objects_json_text_and_files_give_what_tarn_hl7_gives(tmp_path):
    template = tmp_path / "t.tmpl"
    template.write_text("\n".join([
        "MSH|^~\\&|A|{{ControlId}}|{{RecordNumber}}",
        "@each Orders:",
        "OBR|{{SetId}}|{{Code}}",
        "@each Notes: NTE|{{SetId}}|{{Value}}",
        "@end",
        "PID|{{FormatHL7DateTime Born}}",
        "ZSE|{{FormatHL7DateTime Seen, 0, , True, True, SeenOffset}}|"
        '{{Replace Name, "a" , "b"}}|{{?Big}}\n']), encoding="utf-8")
    objects = [
        {"Born": dt.date(1980, 5, 3), "Orders": [{"Code": "A", "Notes": ["x", "y"]},
                                                 {"Code": "B", "Notes": ["z"]}]},
        {"Born": "1980-05-03", "Orders": []},
        {"Born": "no date", "Orders": []},
        {"Born": "1980-05-03", "Orders": [], "Big": 1e20},  # a number HL7 cannot take
    ]
    objects = [dict(r, Seen="2024-07-01T10:00:00-04:00", Name="a") for r in objects]
    text = "".join(json.dumps(r, default=str) + "\n" for r in objects)
    records = tmp_path / "r.jsonl"
    records.write_text(text, encoding="utf-8")
    built = [tarnintr.hl7.build(template, given, dates=["Born", "Seen"], date_order="dmy",
                                control_id="C")
             for given in (records, objects, text)]
    assert built[1] == built[0] and built[2] == built[0]
    messages, rejects = built[0]
    assert messages == ["MSH|^~\\&|A|C1|1\rOBR|1|A\rNTE|1|x\rNTE|2|y\rOBR|2|B\rNTE|1|z\r"
                        "PID|19800503\rZSE|20240701100000-0400|b|\r",
                        "MSH|^~\\&|A|C2|2\rPID|19800503\rZSE|20240701100000-0400|b|\r"]
    assert [r["record"] for r in rejects] == [3, 4]
    assert "is no date" in rejects[0]["reason"]

    tool = os.path.join(os.path.dirname(tarnintr.__file__), "..", "..", "tools", "tarn-hl7")
    if not os.path.exists(tool):
        pytest.skip("tarn-hl7 is not built beside the package")
    rejected = tmp_path / "rejects.jsonl"
    run = subprocess.run([tool, "--template", str(template), "--records", str(records),
                          "--dates", "Born,Seen", "--date-order", "dmy", "--control-id", "C",
                          "--framing", "lf", "--rejects", str(rejected)],
                         capture_output=True, check=False)
    assert [m + "\r" for m in run.stdout.decode().split("\r\n") if m] == messages
    assert [json.loads(line) for line in rejected.read_text().splitlines()] == rejects

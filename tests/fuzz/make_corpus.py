#!/usr/bin/env python3
"""Regenerates tests/fuzz/corpus: every u"..." literal of the tests and their helpers,
the example expressions and templates, and hand-written IF blocks and long
texts. Files are named by the SHA-1 of their content, as libFuzzer names them.

    python3 tests/fuzz/make_corpus.py
"""
import hashlib
import pathlib
import re

root = pathlib.Path(__file__).resolve().parents[2]
out = root / "tests/fuzz/corpus"
seeds = set()

literal = re.compile(r'u"((?:[^"\\\n]|\\.)*)"')
escapes = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "0": "\0"}
for src in sorted([*(root / "tests").glob("*_test.cc"), *(root / "tests/support").glob("*.h")]):
    for m in literal.finditer(src.read_text(encoding="utf-8")):
        text = re.sub(r"\\(.)", lambda e: escapes.get(e.group(1), e.group(0)), m.group(1))
        if text.strip():
            seeds.add(text.encode("utf-8"))

for line in (root / "examples/expressions.txt").read_text().splitlines():
    if line.strip() and not line.startswith("#"):
        seeds.add(line.encode())
for tmpl in (root / "examples/hl7").glob("*.tmpl"):
    for m in re.finditer(r"\{\{(.*?)\}\}", tmpl.read_text(), re.S):
        seeds.add(m.group(1).encode())

hand = [
    'IF Age > 17 THEN\r\n  "A"\r\nELSEIF Age > 12 THEN\r\n  "T"\r\nELSE\r\n  "C"\r\nEND IF',
    'IF Flag THEN\n IF Age > 17 THEN "A" ELSE "C" END IF\nELSE\n "none"\nEND IF',
    'IF Name = "banana" THEN Format AdmitDate, "yyyymmdd" ELSE Replace Phone, "-", "" END IF',
    'IF Nul THEN 1 ELSE 2 END IF', 'IF Blank = "" THEN Int ELSE Dbl END IF',
    'Int + Dbl * Sng - Field1 \\ 2', 'Custom & Blank & Nul', 'Again & Again',
    'Broken + 1', 'Format Broken, "0"', 'IF Broken THEN 1 END IF',
    'FormatHL7DateTime AdmitDate, 0, , True, True, -500',
    'FormatHL7DateTime "20240105", "1345", "/", True, True, "-0500"',
    'Format Sng, "0.000" & Format Int, "000"', '#12/31/1899# + Dbl', '"\u00e9\u4e2d\U0001f600" & Name',
    "1+1+" * 100 + "1", '"' + "x" * 5000 + '"', "(" * 300 + "1" + ")" * 300,
    "Field1 + \0 Age * 2\0IF 1 THEN 2 END IF", '"abc', "#1/2/2003", "1 2 3 ) ( ,,",
    # Generated names held by the host, and literals that cannot become fields.
    "1 + 2 + 3", '"a" & "b" & "c"', "(1 + 2) * (3 - 4)", 'IF 1 < 2 THEN "y" ELSE "n" END IF',
    'Replace "a-b", "-", "" & 1.5', "Autodf1 + 1 + 2", "99999999999", "1e309", "#not a date#",
    "#;-#", "1 + 2147483648",
]
seeds.update(h.encode("utf-8") for h in hand)
for h in ["Field1 + 1", 'Name & "\u00e9"', "IF Age > 17 THEN 1 ELSE 2 END IF", "\ud800 + 1"]:
    seeds.add(b"\xff\xfe" + h.encode("utf-16-le", "surrogatepass"))

out.mkdir(parents=True, exist_ok=True)
for old in out.iterdir():
    old.unlink()
for s in seeds:
    (out / hashlib.sha1(s).hexdigest()).write_bytes(s)
print(len(seeds), "seeds")

"""Cases as rows of tests/data/python.tsv, shared by the Python tests."""
import datetime as dt
import os

import pytest

import tarnintr
from tarnintr import Field, Interpreter

ROOT = os.environ.get("TARN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
NAMES = {"dt": dt, "tarnintr": tarnintr, "Field": Field, "Interpreter": Interpreter}


def rows(kind):
    """The rows of one kind, their columns evaluated as Python; each named by
    its place and text so that a failure shows which row it was."""
    found = []
    with open(os.path.join(ROOT, "tests", "data", "python.tsv"), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            first, *columns = line.rstrip("\n").split("\t")
            if first == kind:
                found.append(pytest.param(*[eval(c, NAMES) for c in columns],
                                          id=f"python.tsv:{number}: {' | '.join(columns)}"))
    return found

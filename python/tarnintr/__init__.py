"""Evaluates tarnintr expressions against a mapping of Python values.

    >>> import tarnintr
    >>> tarnintr.Interpreter({"Field1": 41}).evaluate("Field1 + 1").value
    42
"""
from collections.abc import MutableMapping as _MutableMapping

from ._tarnintr import Field, Fields, Interpreter, Report, Result, __version__
from . import hl7

_MutableMapping.register(Fields)

__all__ = ["Field", "Fields", "Interpreter", "Report", "Result", "hl7", "__version__"]

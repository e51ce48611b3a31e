"""HL7 v2 messages from a template and records, built by tarn-hl7's own
pipeline: the same records give the same messages and rejects."""
import datetime as _dt
import json as _json
import os as _os
from typing import List, NamedTuple

from ._tarnintr import Field, _Pipeline

# How deep a record may nest (the record itself is level 1), as in tarn-hl7.
_MAX_DEPTH = 64


class BuildResult(NamedTuple):
    messages: List[str]  # one per accepted record, segments ending in CR
    rejects: List[dict]  # one per rejected record, as tarn-hl7 writes --rejects


class _TooDeep(Exception):
    pass


def _plain(value, name, dates, types, path, depth):
    """A record's value as JSON values; dates become ISO texts whose member
    names go into `dates`, Field type words into `types`."""
    if isinstance(value, Field):
        if value.type is not None:
            types[name] = value.type
        value = value.value
    if isinstance(value, (dict, list, tuple)):
        if depth >= _MAX_DEPTH:
            raise _TooDeep()
        if id(value) in path:
            raise ValueError("a record contains itself (member '%s')" % name)
        path.add(id(value))
        try:
            if isinstance(value, dict):
                out = {}
                for k, v in value.items():
                    if not isinstance(k, str):
                        raise TypeError("a member name is a str, not %r" % (k,))
                    inner = k if depth == 0 or not name else name + "_" + k
                    out[k] = _plain(v, inner, dates, types, path, depth + 1)
                return out
            return [_element(v, name, dates, path, depth + 1) for v in value]
        finally:
            path.discard(id(value))
    if isinstance(value, _dt.datetime):
        dates.add(name)
        return value.isoformat(timespec="seconds")
    if isinstance(value, _dt.date):
        dates.add(name)
        return value.isoformat()
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    raise TypeError("a value of type '%s' cannot be a field" % type(value).__name__)


def _element(value, name, dates, path, depth):
    # A list element's members are named by themselves, with types of their own.
    if isinstance(value, dict) and not isinstance(value, Field):
        types = {}
        out = _plain(value, "", dates, types, path, depth)
        if types and "types" not in out:
            out["types"] = types
        return out
    return _plain(value, "Value", dates, {}, path, depth)


def _record_json(record):
    if not isinstance(record, dict):
        raise TypeError("a record is a dict, not %s" % type(record).__name__)
    dates, types = set(), {}
    try:
        plain = _plain(record, "", dates, types, set(), 0)
    except _TooDeep:
        return (_json.dumps({}), sorted(dates),
                "the record nests deeper than %d levels" % _MAX_DEPTH)
    if types and "types" not in plain:
        plain["types"] = types
    return _json.dumps(plain), sorted(dates), ""


def build(template_text, records, dates=None, *, date_order="mdy", control_id="",
          lenient=False, format="auto"):
    """Builds one message per record, as tarn-hl7 does with the same options.

    `template_text` is a template's text, or a path (os.PathLike) to read it
    from, which the rejects then name as tarn-hl7 does; `records` may be a
    path too.

    `records` is the text of JSON Lines, a JSON array or CSV records, or a
    list of dicts (nested dicts flatten to Outer_Inner, lists feed @each
    segments, datetime and date values are dates). `dates` names members
    whose texts are dates, read in `date_order` (mdy, dmy or ymd);
    `control_id` is the ControlId field's prefix; `lenient` evaluates as the
    library does by default instead of strictly. Every record that cannot
    become a message is one reject, in tarn-hl7's --rejects format. A
    template that cannot be read, an unknown option word or a record that
    contains itself raises ValueError; a value that cannot be a field
    raises TypeError.
    """
    template_file = "template"
    if isinstance(template_text, _os.PathLike):
        template_file = _os.fspath(template_text)
        with open(template_file, encoding="utf-8") as f:
            template_text = f.read()
    pipeline = _Pipeline(template_text, template_file, list(dates or []), date_order,
                         control_id, bool(lenient), format)
    if isinstance(records, _os.PathLike):
        path = _os.fspath(records)
        with open(path, encoding="utf-8", newline="") as f:
            results = pipeline.build_text(f.read(), path)
    elif isinstance(records, str):
        results = pipeline.build_text(records, "")
    else:
        results = []
        for number, record in enumerate(records, 1):
            text, record_dates, error = _record_json(record)
            results.append(pipeline.build_json(text, number, number, record_dates, error))
    messages = [text for ok, text in results if ok]
    rejects = [_json.loads(text) for ok, text in results if not ok]
    return BuildResult(messages, rejects)

"""HL7 v2 messages from a template and records, as tarn-hl7 builds them."""
from typing import List, NamedTuple

from ._tarnintr import _build_hl7


class BuildResult(NamedTuple):
    messages: List[str]  # one per accepted record, segments ending in CR
    rejects: List[dict]  # one per rejected record, as tarn-hl7 writes --rejects


def build(template_text, records, dates=None):
    """Builds one message per record.

    `records` is a list of dicts (values as Interpreter takes them, nested
    dicts flatten to Outer_Inner, lists feed @each segments) or the text of
    JSON Lines or CSV records. `dates` names members whose texts are dates.
    A template that cannot be read raises ValueError.
    """
    messages, rejects = _build_hl7(template_text, records, dates)
    return BuildResult(messages, rejects)

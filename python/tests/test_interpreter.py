"""The Python face of tarnintr: values both ways, dates, errors and reports,
strict mode, text that UTF-8 cannot carry, large collections and threads."""
import collections.abc
from concurrent.futures import ThreadPoolExecutor

import pytest

import tarnintr
from datarows import rows
from tarnintr import Field, Interpreter


@pytest.mark.parametrize("given,type_word,value", rows("field"))
def test_every_kind_both_ways(given, type_word, value):
    interp = Interpreter({"X": given})
    r = interp.evaluate("X")
    assert (r.type, r.value, r.is_error) == (type_word, value, False)
    assert type(r.value) is type(value)
    assert interp.fields["X"] == value
    assert interp.fields.type_of("x") == type_word
    if type_word == "String":
        assert interp.evaluate('X & "!"').value == value + "!"
    if type_word == "Date":
        text = interp.evaluate('Format X, "yyyy-mm-dd hh:nn:ss"').value
        assert text == "%d-%02d-%02d %02d:%02d:%02d" % (
            value.year, value.month, value.day, value.hour, value.minute, value.second)


@pytest.mark.parametrize("text,is_error,value,type_word,reports", rows("evaluate"))
def test_errors_and_reports(text, is_error, value, type_word, reports):
    interp = Interpreter({"Error": 5})
    r = interp.evaluate(text)
    assert (r.is_error, r.value, r.type) == (is_error, value, type_word)
    assert type(r.is_error) is bool
    assert [(p.number, p.procedure) for p in r.reports] == reports
    for p in r.reports:
        assert p.message.startswith("Error: %d - " % p.number)
    assert list(interp.fields) == ["Error"]


def test_results_and_reports_are_plain_values():
    interp = Interpreter({})
    r = interp.evaluate('"abc" * 2')
    assert r == interp.evaluate('"abc" * 2')
    assert isinstance(r, tarnintr.Result) and isinstance(r.reports[0], tarnintr.Report)
    assert repr(r.reports[0]) == ("tarnintr.Report(number=13, procedure='EvaluateExpression', "
                                  "message='Error: 13 - Type mismatch')")
    with pytest.raises(AttributeError):
        r.value = 1
    assert interp.evaluate("1 + 1").reports == []  # reports belong to their own call


@pytest.mark.parametrize("value,error", rows("not-a-field"))
def test_values_that_cannot_be_fields(value, error):
    with pytest.raises(error):
        Interpreter({"X": value})
    interp = Interpreter({})
    with pytest.raises(error):
        interp.fields["X"] = value
    assert len(interp.fields) == 0


@pytest.mark.parametrize("call,error", rows("raises"))
def test_other_misuse(call, error):
    with pytest.raises(error):
        call()


def test_strict_mode():
    fields = {"Phone": "555-123-4567"}
    lenient, strict = Interpreter(fields), Interpreter(fields, strict=True)
    assert (Interpreter({}, strict=False).strict, lenient.strict, strict.strict) == (
        False, False, True)
    # The default reads the end of the text as the missing argument.
    assert lenient.evaluate('Replace Phone, "-"').is_error is False
    r = strict.evaluate('Replace Phone, "-"')
    assert r.is_error is True and r.reports


def test_fields_is_a_mutable_mapping_of_the_host_fields():
    interp = Interpreter({"Field1": 41})
    f = interp.fields
    assert isinstance(f, collections.abc.MutableMapping)
    f["Name"] = "Ann"
    f["FIELD1"] = 1  # the same field: names ignore letter case
    assert list(f) == ["Field1", "Name"]
    assert interp.evaluate("Field1 + 1").value == 2
    assert "field1" in f and "Other" not in f and 3 not in f
    del f["name"]
    assert interp.evaluate("Name").is_error
    with pytest.raises(KeyError):
        f["Name"]
    with pytest.raises(KeyError):
        del f["Name"]
    assert f.get("Name", 7) == 7
    f.update({"Alpha": 1, "Beta": Field("2", type="Integer")})
    assert dict(f.items()) == {"Field1": 1, "Alpha": 1, "Beta": 2}
    assert f.values() == [1, 1, 2]
    f.clear()
    assert len(f) == 0 and interp.evaluate("Alpha").is_error


def test_ten_thousand_fields():
    fields = {"F%d" % i: i for i in range(10000)}
    interp = Interpreter(fields)
    assert len(interp.fields) == 10000
    for text, value in [("F0 + F9999", 9999), ("F5000 * 2", 10000), ("f1234", 1234)]:
        assert interp.evaluate(text).value == value
    assert len(interp.fields) == 10000  # no temporary field is left behind
    assert interp.fields.keys()[:3] == ["F0", "F1", "F2"]


def test_four_threads_one_interpreter_each():
    def work(n):
        interp = Interpreter({"Field1": n, "Name": "T%d" % n})
        for i in range(2000):
            interp.fields["I"] = i
            assert interp.evaluate("I + Field1 * 1000").value == n * 1000 + i
            assert interp.evaluate('Name & "-" & I').value == "T%d-%d" % (n, i)

    with ThreadPoolExecutor(4) as pool:
        list(pool.map(work, range(4)))  # raises what a thread raised


def test_one_interpreter_shared_by_threads_stays_consistent():
    # Not the way to use it, but it must not break: calls take turns.
    interp = Interpreter({"Field1": 41})
    with ThreadPoolExecutor(3) as pool:
        results = pool.map(lambda _: [interp.evaluate("Field1 + 1").value for _ in range(500)],
                           range(3))
    assert list(results) == [[42] * 500] * 3
    assert list(interp.fields) == ["Field1"]

#!/usr/bin/env python3
"""The cost of one tarnintr evaluation from Python beside Python's own eval.

    PYTHONPATH=build/python python3 bench/python_bench.py [--check]

Both parse their text on every call: interp.evaluate("Field1 + 1") and
eval("F1 + 1", {"F1": 41}). The library's own cost for the same text (no
Python values made) shows what the binding adds per call. --check exits 1
unless evaluate costs at most half of eval.
"""
import argparse
import sys
import timeit

import tarnintr


def per_call(fn, number, repeat):
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--number", type=int, default=50000)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    interp = tarnintr.Interpreter({"Field1": 41})
    assert interp.evaluate("Field1 + 1").value == 42
    scope = {"F1": 41}
    assert eval("F1 + 1", scope) == 42

    evaluate = per_call(lambda: interp.evaluate("Field1 + 1"), args.number, args.repeat)
    python_eval = per_call(lambda: eval("F1 + 1", scope), args.number, args.repeat)
    library = min(interp._time_in_library("Field1 + 1", args.number)
                  for _ in range(args.repeat)) / args.number
    ratio = evaluate / python_eval
    print("tarnintr %s, Python %s" % (tarnintr.__version__, sys.version.split()[0]))
    print("interp.evaluate(\"Field1 + 1\")   %8.0f ns" % (evaluate * 1e9))
    print("eval(\"F1 + 1\", {\"F1\": 41})       %8.0f ns" % (python_eval * 1e9))
    print("the library alone               %8.0f ns" % (library * 1e9))
    print("binding overhead per call       %8.0f ns" % ((evaluate - library) * 1e9))
    print("evaluate / eval                 %8.2f (target <= 0.50)" % ratio)
    if args.check and ratio > 0.5:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

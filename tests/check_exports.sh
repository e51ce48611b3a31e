#!/bin/sh
# Checks that the shared library exports only its public symbols: the C
# entry points of tarn/exports.h, the C interface of tarn/tarn_c.h and the
# public C++ API of namespace tarn (with its type information and virtual
# tables), nothing of tarn::detail, of anonymous namespaces, of the standard
# library or of private dependencies. That the public ones are there, the
# programs linked to the library show (exports_test finds the entry points
# with dlsym).
#
#   check_exports.sh LIBRARY
set -eu
lib=${1:?usage: check_exports.sh LIBRARY}
syms=$(nm -DC --defined-only "$lib" | sed -E 's/^[0-9a-fA-F]+ [A-Za-z] //')

bad=$(printf '%s\n' "$syms" | grep -Ev \
  '^(DllRegisterServer|DllUnregisterServer|DllGetClassObject|DllCanUnloadNow|TarnCreateObject)$|^tarn_[a-z0-9_]+$|^tarn::|^(typeinfo|typeinfo name|vtable) for tarn::' || true)
internal=$(printf '%s\n' "$syms" | grep -E 'tarn::detail::|anonymous namespace' || true)
if [ -n "$bad$internal" ]; then
  echo "symbols exported that are not public:"
  printf '%s\n' "$bad" "$internal" | sed '/^$/d'
  exit 1
fi
echo "exports OK: $(printf '%s\n' "$syms" | wc -l) public symbols"

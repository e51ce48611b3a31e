#!/bin/sh
# Checks that the shared library exports only its public symbols: the C
# entry points of tarn/exports.h, the C interface of tarn/tarn_c.h and the public C++ API of namespace tarn
# (with its type information and virtual tables), nothing of tarn::detail,
# of anonymous namespaces, of the standard library or of private dependencies.
#
#   check_exports.sh LIBRARY
set -eu
lib=${1:?usage: check_exports.sh LIBRARY}
syms=$(nm -DC --defined-only "$lib" | sed -E 's/^[0-9a-fA-F]+ [A-Za-z] //')
status=0

for name in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow TarnCreateObject; do
  if ! printf '%s\n' "$syms" | grep -qx "$name"; then
    echo "missing export: $name"
    status=1
  fi
done
printf '%s\n' "$syms" | grep -q '^tarn::Interpreter::Invoke(' || { echo "missing: tarn::Interpreter"; status=1; }
for name in tarn_version tarn_fields_create tarn_interpreter_create tarn_evaluate tarn_result_free; do
  printf '%s\n' "$syms" | grep -qx "$name" || { echo "missing export: $name"; status=1; }
done

bad=$(printf '%s\n' "$syms" | grep -Ev \
  '^(DllRegisterServer|DllUnregisterServer|DllGetClassObject|DllCanUnloadNow|TarnCreateObject)$|^tarn_[a-z0-9_]+$|^tarn::|^(typeinfo|typeinfo name|vtable) for tarn::' || true)
internal=$(printf '%s\n' "$syms" | grep -E 'tarn::detail::|anonymous namespace' || true)
if [ -n "$bad$internal" ]; then
  echo "symbols exported that are not public:"
  printf '%s\n' "$bad" "$internal" | sed '/^$/d'
  status=1
fi
count=$(printf '%s\n' "$syms" | wc -l)
[ "$status" -eq 0 ] && echo "exports OK: $count public symbols"
exit "$status"

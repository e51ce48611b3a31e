#!/usr/bin/env bash
# Cross-builds tarnintr.dll, tarnhost.dll and the C++ test host with
# mingw-w64 and runs them under Wine in a fresh prefix: registration and
# what it writes, the shared expression table through IDispatch, the
# VBScript host, the debug log switched on through the registry, and
# unregistration. Skips (with a message) only off Debian x86_64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "$(uname -m)" != x86_64 ] || [ ! -f /etc/debian_version ]; then
  echo "run-wine-tests: skipped: the Windows build and Wine need Debian on x86_64"
  exit 0
fi
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-widl wine wineserver; do
  command -v "$tool" >/dev/null || { echo "run-wine-tests: $tool missing (scripts/deps.sh)"; exit 1; }
done

jobs=${TARN_JOBS:-$(nproc)}
build=${TARN_WIN_BUILD:-build-win64}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
cmake --build "$build" -j"$jobs"

echo "== exports of tarnintr.dll"
exports=$(x86_64-w64-mingw32-objdump -p "$build/tarnintr.dll")
for name in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow; do
  grep -q "\] $name\$" <<<"$exports" || { echo "FAIL: tarnintr.dll does not export $name"; exit 1; }
done

scratch=$(mktemp -d)
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
w() { timeout "${TARN_WINE_TIMEOUT:-120}" wine "$@"; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# `reg query` of a key; its output in $out.
query() { out=$(w reg query "$@" 2>&1 | tr -d '\r'); }

echo "== Wine prefix"
timeout 180 wineboot -i >/dev/null 2>&1

bin=$scratch/bin
mkdir -p "$bin"
cp "$build/tarnintr.dll" "$build/tarnhost.dll" "$build/com_host.exe" "$bin/"
cp tests/windows/*.vbs tests/data/expressions.tsv "$bin/"
winbin=$(winepath -w "$bin")
intr="$winbin\\tarnintr.dll"
host="$winbin\\tarnhost.dll"
clsid='{C6D2A4F3-CF54-4C47-8EC7-81FFD93D0B58}'
libid='{EDA121A2-65F6-42E3-A28F-3FAFBDAF7233}'
iid='{CC65DFEE-5711-44AF-902F-F9C1A5D87E0A}'
host_clsids=('{FD3DF161-6ABF-4E62-BDAB-C28D4111D791}' '{CA7B2B42-6BF6-46B3-8D34-B4EA560FF60C}'
  '{5B11C955-760F-4E99-A51E-66867DE040F8}' '{A30CC3D0-1270-45D0-86EF-B46E35F02DD4}')
host_progids=(ZellDFld.DataFields ZellDFld.DataField ZellLog.Log ZellErr.ErrorManager)

echo "== regsvr32 tarnintr.dll"
w regsvr32 /s "$intr" || fail "regsvr32 tarnintr.dll"
query 'HKCR\TarnIntr.Interpreter\CLSID'
grep -qF "$clsid" <<<"$out" || fail "TarnIntr.Interpreter\\CLSID: $out"
query "HKCR\\CLSID\\$clsid\\InprocServer32"
grep -qiF "$intr" <<<"$out" || fail "InprocServer32 does not hold the DLL's path: $out"
grep -q 'ThreadingModel.*Apartment' <<<"$out" || fail "ThreadingModel: $out"
query "HKCR\\CLSID\\$clsid\\TypeLib"
grep -qF "$libid" <<<"$out" || fail "TypeLib: $out"
query "HKCR\\CLSID\\$clsid\\Version"
grep -q 'REG_SZ *1\.0$' <<<"$out" || fail "Version: $out"
query "HKCR\\TypeLib\\$libid\\1.0\\0\\win64"
grep -qiF "$intr" <<<"$out" || fail "type library 1.0 not registered: $out"
query "HKCR\\Interface\\$iid"
grep -q '_Interpreter' <<<"$out" || fail "dispatch interface not registered: $out"

echo "== regsvr32 tarnhost.dll (a host's own error manager stays)"
own='{00000000-0000-0000-0000-0000000000AB}'
w reg add 'HKCR\ZellErr.ErrorManager\CLSID' /ve /d "$own" /f >/dev/null
w regsvr32 /s "$host" || fail "regsvr32 tarnhost.dll"
query 'HKCR\ZellErr.ErrorManager\CLSID'
grep -qF "$own" <<<"$out" || fail "registration replaced a host's own ZellErr.ErrorManager: $out"
w reg delete 'HKCR\ZellErr.ErrorManager' /f >/dev/null
w regsvr32 /s "$host" || fail "regsvr32 tarnhost.dll"
for i in "${!host_progids[@]}"; do
  query "HKCR\\${host_progids[$i]}\\CLSID"
  grep -qF "${host_clsids[$i]}" <<<"$out" || fail "${host_progids[$i]}: $out"
  query "HKCR\\CLSID\\${host_clsids[$i]}\\InprocServer32"
  grep -qiF "$host" <<<"$out" || fail "${host_progids[$i]} does not point at tarnhost.dll: $out"
done

echo "== C++ host: the shared expression table through IDispatch"
(cd "$bin" && w ./com_host.exe "$winbin\\expressions.tsv") || fail "com_host.exe"

echo "== VBScript host"
# cscript under Wine ends silently on a script error: the summary line
# must be there.
vbs=$(cd "$bin" && w cscript //nologo "$winbin\\host.vbs" 2>&1 | tr -d '\r') || true
echo "$vbs"
grep -q '^host.vbs: [0-9]* checks, 0 failed$' <<<"$vbs" || fail "host.vbs"

echo "== debug log through the registry and ZellLog.Log"
key='HKLM\SOFTWARE\Quillmont\Interfaces\Upload\Debug'
w reg add "$key" /v WriteDebugLog /t REG_SZ /d 1 /f >/dev/null
w reg add "$key" /v DebugLogPath /t REG_SZ /d 'C:\tarnlog' /f >/dev/null
# A value longer than the reader's 256-byte buffer counts as missing: the
# default separator is written.
w reg add "$key" /v Separator /t REG_SZ /d "$(printf '%0300d' 0)" /f >/dev/null
(cd "$bin" && w cscript //nologo "$winbin\\debug_log.vbs" >/dev/null 2>&1) || true
log=$WINEPREFIX/drive_c/tarnlog/Log.log
if [ -f "$log" ] && grep -q ' Interpreter - Init' "$log" &&
  grep -q 'Interpreter Version: 01.01.0009<END OF ENTRY>' "$log"; then
  :
else
  fail "no banner in C:\\tarnlog\\Log.log"
fi

echo "== regsvr32 /u"
w regsvr32 /u /s "$intr" || fail "regsvr32 /u tarnintr.dll"
w regsvr32 /u /s "$host" || fail "regsvr32 /u tarnhost.dll"
for k in 'HKCR\TarnIntr.Interpreter' "HKCR\\CLSID\\$clsid" "HKCR\\TypeLib\\$libid" "HKCR\\Interface\\$iid" \
  "${host_progids[@]/#/HKCR\\}" "${host_clsids[@]/#/HKCR\\CLSID\\}"; do
  if w reg query "$k" >/dev/null 2>&1; then fail "$k is left behind"; fi
done

if [ "$failures" -ne 0 ]; then
  echo "run-wine-tests: $failures failed"
  exit 1
fi
echo "run-wine-tests: all passed"

#!/usr/bin/env bash
# Cross-builds tarnintr.dll, tarnhost.dll and the C++ test host with
# mingw-w64 and runs them under Wine in a fresh prefix: registration and
# what it writes, the shared expression table through IDispatch, the
# VBScript host, the debug log switched on through the registry,
# unregistration, and the GoogleTest suites built as Windows programs. Skips (with a message) only off Debian x86_64.
#
# TARN_WINE_ARCHES chooses the builds: "x86_64" (the default), "i686", or
# both; the 32-bit one needs g++-mingw-w64-i686-posix and wine32:i386
# (docs/windows.md).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(uname -m)" != x86_64 ] || [ ! -f /etc/debian_version ]; then
  echo "run-wine-tests: skipped: the Windows build and Wine need Debian on x86_64"
  exit 0
fi

jobs=${TARN_JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

scratch=$(mktemp -d)
cleanup() {
  for prefix in "$scratch"/*/prefix; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1 || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

# ---- Hostile hosts and both widths side by side -------------------------
# hostile_host.exe attacks the servers of one build in its prefix: re-entry
# from the host's callbacks, collections that lose or rename fields, texts
# beyond the readable limit, by-reference variables, dispatch identifiers
# across threads; then, in a process of its own, worker threads that are
# the first to use the servers and end their apartments. Every run must
# end within its time limit.
hostile_checks() {
  local loader=$1 bin=$2 out
  for mode in "" threads; do
    if out=$(cd "$bin" && timeout 300 "$loader" ./hostile_host.exe $mode 2>&1 | tr -d '\r'); then
      grep -E '^hostile_host:' <<<"$out"
    else
      echo "$out" | grep -E '^FAIL|^hostile_host' | head -20
      fail "hostile_host.exe $mode"
    fi
  done
}

# Both widths registered in one prefix: unregistering one leaves the other
# usable, and the shared programmatic identifiers stay until the last one
# goes. Needs the x86_64 and i686 builds.
side_by_side() {
  local b64=${TARN_WIN_BUILD_PREFIX:-build-win}-x86_64 b32=${TARN_WIN_BUILD_PREFIX:-build-win}-i686
  local w64=/usr/lib/wine/wine64 w32=/usr/lib/wine/wine dir=$scratch/both
  [ -f "$b64/hostile_host.exe" ] && [ -f "$b32/hostile_host.exe" ] || return 0
  echo "== both widths side by side"
  export WINEPREFIX=$dir/prefix
  mkdir -p "$dir/b64" "$dir/b32"
  timeout 180 wineboot -i >/dev/null 2>&1
  for pair in "$b64:$dir/b64" "$b32:$dir/b32"; do
    cp "${pair%%:*}"/{tarnintr.dll,tarnhost.dll,hostile_host.exe} "${pair#*:}/"
  done
  local win64 win32
  win64=$(winepath -w "$dir/b64") win32=$(winepath -w "$dir/b32")
  reg2() { timeout 120 "$1" regsvr32 /s $2 "$3\\tarnintr.dll" && timeout 120 "$1" regsvr32 /s $2 "$3\\tarnhost.dll"; }
  usable() { (cd "$2" && timeout 120 "$1" ./hostile_host.exe create >/dev/null 2>&1); }
  progid() { timeout 60 "$w64" reg query 'HKCR\TarnIntr.Interpreter\CLSID' >/dev/null 2>&1; }
  reg2 "$w64" "" "$win64" || fail "regsvr32 of the 64-bit servers"
  reg2 "$w32" "" "$win32" || fail "regsvr32 of the 32-bit servers"
  usable "$w64" "$dir/b64" || fail "64-bit host with both widths registered"
  usable "$w32" "$dir/b32" || fail "32-bit host with both widths registered"
  reg2 "$w32" /u "$win32" || fail "regsvr32 /u of the 32-bit servers"
  usable "$w64" "$dir/b64" || fail "64-bit host after the 32-bit servers were unregistered"
  if usable "$w32" "$dir/b32"; then fail "32-bit host still creates after its unregistration"; fi
  reg2 "$w32" "" "$win32" || fail "regsvr32 of the 32-bit servers again"
  reg2 "$w64" /u "$win64" || fail "regsvr32 /u of the 64-bit servers"
  usable "$w32" "$dir/b32" || fail "32-bit host after the 64-bit servers were unregistered"
  progid || fail "the shared ProgID went with the 64-bit servers"
  reg2 "$w32" /u "$win32" || fail "regsvr32 /u of the 32-bit servers"
  if progid; then fail "TarnIntr.Interpreter is left behind after both were unregistered"; fi
  timeout 30 wineserver -k >/dev/null 2>&1 || true
}
# ---- end of hostile hosts and side by side -------------------------------

# Builds and tests one architecture.
run_arch() {
  local arch=$1 mingw build sys loader
  # Wine's loader of the build's width: with wine32 installed, `wine` is
  # the 32-bit one, whose regsvr32, reg and cscript see the 32-bit view of
  # the registry.
  case $arch in
    x86_64) mingw=x86_64-w64-mingw32 sys=win64 loader=/usr/lib/wine/wine64 ;;
    i686) mingw=i686-w64-mingw32 sys=win32 loader=/usr/lib/wine/wine ;;
    *) echo "run-wine-tests: unknown architecture $arch"; return 1 ;;
  esac
  [ -x "$loader" ] || { echo "run-wine-tests: $loader missing (scripts/deps.sh)"; return 1; }
  for tool in "$mingw-g++-posix" "$mingw-widl" wineboot wineserver; do
    command -v "$tool" >/dev/null || { echo "run-wine-tests: $tool missing (scripts/deps.sh)"; return 1; }
  done
  build=${TARN_WIN_BUILD_PREFIX:-build-win}-$arch
  echo "== $arch: build ($build)"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE="${TARN_WIN_BUILD_TYPE:-Release}" "${launcher[@]}"
  cmake --build "$build" -j"$jobs"

  w() { timeout "${TARN_WINE_TIMEOUT:-120}" "$loader" "$@"; }
  regsvr32() { w regsvr32 "$@"; }
  reg() { w reg "$@"; }
  cscript() { w cscript "$@"; }
  # `reg query` of a key; its output in $out.
  query() { out=$(reg query "$@" 2>&1 | tr -d '\r') || true; }

  echo "== $arch: exports of tarnintr.dll"
  exports=$("$mingw-objdump" -p "$build/tarnintr.dll")
  for name in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow; do
    grep -q "\] $name\$" <<<"$exports" || { echo "FAIL: tarnintr.dll does not export $name"; exit 1; }
  done

  echo "== $arch: a fresh Wine prefix"
  export WINEPREFIX=$scratch/$arch/prefix
  mkdir -p "$scratch/$arch"
  timeout 180 wineboot -i >/dev/null 2>&1

  bin=$scratch/$arch/bin
  mkdir -p "$bin"
  cp "$build/tarnintr.dll" "$build/tarnhost.dll" "$build/com_host.exe" "$build/hostile_host.exe" "$bin/"
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

  echo "== $arch: regsvr32 tarnintr.dll"
  regsvr32 /s "$intr" || fail "regsvr32 tarnintr.dll"
  query 'HKCR\TarnIntr.Interpreter\CLSID'
  grep -qF "$clsid" <<<"$out" || fail "TarnIntr.Interpreter\\CLSID: $out"
  query "HKCR\\CLSID\\$clsid\\InprocServer32"
  grep -qiF "$intr" <<<"$out" || fail "InprocServer32 does not hold the DLL's path: $out"
  grep -q 'ThreadingModel.*Apartment' <<<"$out" || fail "ThreadingModel: $out"
  query "HKCR\\CLSID\\$clsid\\TypeLib"
  grep -qF "$libid" <<<"$out" || fail "TypeLib: $out"
  query "HKCR\\CLSID\\$clsid\\Version"
  grep -q 'REG_SZ *1\.0$' <<<"$out" || fail "Version: $out"
  query "HKCR\\TypeLib\\$libid\\1.0\\0\\$sys"
  grep -qiF "$intr" <<<"$out" || fail "type library 1.0 not registered: $out"
  query "HKCR\\Interface\\$iid"
  grep -q '_Interpreter' <<<"$out" || fail "dispatch interface not registered: $out"

  echo "== $arch: regsvr32 tarnhost.dll (a host's own error manager stays)"
  own='{00000000-0000-0000-0000-0000000000AB}'
  reg add 'HKCR\ZellErr.ErrorManager\CLSID' /ve /d "$own" /f >/dev/null
  regsvr32 /s "$host" || fail "regsvr32 tarnhost.dll"
  query 'HKCR\ZellErr.ErrorManager\CLSID'
  grep -qF "$own" <<<"$out" || fail "registration replaced a host's own ZellErr.ErrorManager: $out"
  reg delete 'HKCR\ZellErr.ErrorManager' /f >/dev/null
  regsvr32 /s "$host" || fail "regsvr32 tarnhost.dll"
  for i in "${!host_progids[@]}"; do
    query "HKCR\\${host_progids[$i]}\\CLSID"
    grep -qF "${host_clsids[$i]}" <<<"$out" || fail "${host_progids[$i]}: $out"
    query "HKCR\\CLSID\\${host_clsids[$i]}\\InprocServer32"
    grep -qiF "$host" <<<"$out" || fail "${host_progids[$i]} does not point at tarnhost.dll: $out"
  done

  echo "== $arch: the GoogleTest suites"
  for suite in "$build"/*_test.exe; do
    [ -e "$suite" ] || continue
    if result=$(w "$suite" 2>&1 | tr -d '\r'); then
      grep -E '^\[  PASSED  \]' <<<"$result" | sed "s|^|$(basename "$suite"): |"
    else
      echo "$result" | grep -E '^\[  FAILED  \]|Failure|error' | head -20
      fail "$(basename "$suite")"
    fi
  done

  echo "== $arch: C++ host: the shared expression table through IDispatch"
  (cd "$bin" && w ./com_host.exe "$winbin\\expressions.tsv") || fail "com_host.exe"

  echo "== $arch: hostile host"
  hostile_checks "$loader" "$bin"

  echo "== $arch: VBScript host"
  # cscript under Wine ends silently on a script error: the summary line
  # must be there.
  vbs=$(cd "$bin" && cscript //nologo "$winbin\\host.vbs" 2>&1 | tr -d '\r') || true
  echo "$vbs"
  grep -q '^host.vbs: [0-9]* checks, 0 failed$' <<<"$vbs" || fail "host.vbs"

  echo "== $arch: debug log through the registry and ZellLog.Log"
  key='HKLM\SOFTWARE\Quillmont\Interfaces\Upload\Debug'
  reg add "$key" /v WriteDebugLog /t REG_SZ /d 1 /f >/dev/null
  reg add "$key" /v DebugLogPath /t REG_SZ /d 'C:\tarnlog' /f >/dev/null
  # A value longer than the reader's 256-byte buffer counts as missing: the
  # default separator is written.
  reg add "$key" /v Separator /t REG_SZ /d "$(printf '%0300d' 0)" /f >/dev/null
  (cd "$bin" && cscript //nologo "$winbin\\debug_log.vbs" >/dev/null 2>&1) || true
  log=$WINEPREFIX/drive_c/tarnlog/Log.log
  if [ -f "$log" ] && grep -q ' Interpreter - Init' "$log" &&
    grep -q 'Interpreter Version: 01.01.0009<END OF ENTRY>' "$log"; then
    :
  else
    fail "no banner in C:\\tarnlog\\Log.log"
  fi

  echo "== $arch: regsvr32 /u"
  regsvr32 /u /s "$intr" || fail "regsvr32 /u tarnintr.dll"
  regsvr32 /u /s "$host" || fail "regsvr32 /u tarnhost.dll"
  for k in 'HKCR\TarnIntr.Interpreter' "HKCR\\CLSID\\$clsid" "HKCR\\TypeLib\\$libid" "HKCR\\Interface\\$iid" \
    "${host_progids[@]/#/HKCR\\}" "${host_clsids[@]/#/HKCR\\CLSID\\}"; do
    if reg query "$k" >/dev/null 2>&1; then fail "$k is left behind"; fi
  done
}

for arch in ${TARN_WINE_ARCHES:-x86_64}; do
  run_arch "$arch"
done
case " ${TARN_WINE_ARCHES:-x86_64} " in
  *" x86_64 "*) case " ${TARN_WINE_ARCHES:-x86_64} " in *" i686 "*) side_by_side ;; esac ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "run-wine-tests: $failures failed"
  exit 1
fi
echo "run-wine-tests: all passed"

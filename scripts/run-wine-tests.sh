#!/usr/bin/env bash
# Cross-builds tarnintr.dll, tarnhost.dll, their installer and the test
# programs with mingw-w64 for each width (i686 and x86_64), and runs them
# under Wine, each width in fresh prefixes of its own width:
#   - the GoogleTest suites built as Windows programs;
#   - registration with regsvr32 and what it writes, the shared expression
#     table through IDispatch, the VBScript and JScript hosts, the debug log
#     switched on through the registry, unregistration;
#   - the MSI: the keys it writes against regsvr32's, install, the VBScript
#     host against the installed component, reinstall, major upgrade,
#     uninstall with nothing left;
# and then, in a 64-bit prefix with both widths installed, which registry
# view the debug-log switches are read from. Skips (with a message) only off
# Debian x86_64.
#
# Each part is a function: step_* runs in the current width's prefix (its
# variables are set by use_width and new_prefix); a new step is a function
# added to one of the lists below.
#
# TARN_WINE_ARCHES chooses the widths (default "i686 x86_64"); the views
# test needs both.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(uname -m)" != x86_64 ] || [ ! -f /etc/debian_version ]; then
  echo "run-wine-tests: skipped: the Windows build and Wine need Debian on x86_64"
  exit 0
fi

width_steps=(exports suites register com_host hostile vbscript jscript debug_log unregister)
msi_steps=(msi_keys msi_host msi_reinstall msi_upgrade)
both_steps=(registry_view side_by_side)

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

clsid='{C6D2A4F3-CF54-4C47-8EC7-81FFD93D0B58}'
libid='{EDA121A2-65F6-42E3-A28F-3FAFBDAF7233}'
iid='{CC65DFEE-5711-44AF-902F-F9C1A5D87E0A}'
host_clsids=('{FD3DF161-6ABF-4E62-BDAB-C28D4111D791}' '{CA7B2B42-6BF6-46B3-8D34-B4EA560FF60C}'
  '{5B11C955-760F-4E99-A51E-66867DE040F8}' '{A30CC3D0-1270-45D0-86EF-B46E35F02DD4}')
host_progids=(ZellDFld.DataFields ZellDFld.DataField ZellLog.Log ZellErr.ErrorManager)
# Every key either DLL's registration writes.
all_keys=('HKCR\TarnIntr.Interpreter' "HKCR\\CLSID\\$clsid" "HKCR\\TypeLib\\$libid"
  "HKCR\\Interface\\$iid" "${host_progids[@]/#/HKCR\\}" "${host_clsids[@]/#/HKCR\\CLSID\\}")
debug_key='HKLM\SOFTWARE\Quillmont\Interfaces\Upload\Debug'
version=$(sed -n 's/^project(tarnintr VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Wine's loaders: with wine32 installed, `wine` is the 32-bit one, whose
# regsvr32, reg, cscript and msiexec see the 32-bit view of the registry.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64

# The width's tools, build and Wine loader: arch, mingw, sys, msi_arch,
# build, loader.
use_width() {
  arch=$1
  case $arch in
    x86_64) mingw=x86_64-w64-mingw32 sys=win64 msi_arch=x64 loader=$wine64 ;;
    i686) mingw=i686-w64-mingw32 sys=win32 msi_arch=x86 loader=$wine32 ;;
    *) echo "run-wine-tests: unknown architecture $arch"; return 1 ;;
  esac
  build=${TARN_WIN_BUILD_PREFIX:-build-win}-$arch
  msi=$build/tarnintr-$version-$msi_arch.msi
}

w() { timeout "${TARN_WINE_TIMEOUT:-120}" "$loader" "$@"; }
regsvr32() { w regsvr32 "$@"; }
reg() { w reg "$@"; }
cscript() { w cscript "$@"; }
msiexec() { w msiexec "$@"; }
# `reg query` of a key; its output in $out.
query() { out=$(reg query "$@" 2>&1 | tr -d '\r') || true; }
# Every key and value of both DLLs' registration, in one text.
dump_keys() {
  local k
  for k in "${all_keys[@]}"; do reg query "$k" /s 2>&1 | tr -d '\r' || true; done
}
left_keys() {
  local k
  for k in "${all_keys[@]}"; do
    if reg query "$k" >/dev/null 2>&1; then echo "$k"; fi
  done
}

# A fresh prefix NAME of the given WINEARCH, with the test files in its
# C:\tarn (bin, winbin).
new_prefix() {
  local name=$1 winearch=$2
  export WINEPREFIX=$scratch/$name/prefix
  mkdir -p "$scratch/$name"
  echo "== $name: a fresh $winearch prefix"
  WINEARCH=$winearch timeout 180 wineboot -i >/dev/null 2>&1 || fail "wineboot $name"
  bin=$WINEPREFIX/drive_c/tarn
  mkdir -p "$bin"
  cp tests/windows/*.vbs tests/windows/*.js tests/data/expressions.tsv tests/data/script_hosts.tsv \
    tests/data/hostile_calls.tsv "$bin/"
  winbin='C:\tarn'
}
stop_prefix() { timeout 30 wineserver -k >/dev/null 2>&1 || true; }

# The installation folder of the width's MSI in the current prefix.
install_dir() {
  if [ "$arch" = i686 ] && [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ]; then
    echo 'C:\Program Files (x86)\TarnIntr'
  else
    echo 'C:\Program Files\TarnIntr'
  fi
}
unix_path() { echo "$WINEPREFIX/drive_c/$(echo "${1#C:\\}" | tr '\\' /)"; }

# Runs a script host; its summary line must be there, since cscript under
# Wine ends silently on a script error.
run_script() {
  local script=$1 out
  out=$(cd "$bin" && cscript //nologo "$winbin\\$script" 2>&1 | tr -d '\r') || true
  echo "$out"
  grep -q "^$script: [0-9]* checks, 0 failed\$" <<<"$out" || fail "$arch: $script"
}

step_build() {
  local tool
  [ -x "$loader" ] || { echo "run-wine-tests: $loader missing (scripts/deps.sh)"; return 1; }
  for tool in "$mingw-g++-posix" "$mingw-widl" wineboot wineserver wixl msibuild; do
    command -v "$tool" >/dev/null || { echo "run-wine-tests: $tool missing (scripts/deps.sh)"; return 1; }
  done
  echo "== $arch: build ($build)"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE="${TARN_WIN_BUILD_TYPE:-Release}" "${launcher[@]}" >/dev/null
  cmake --build "$build" -j"$jobs"
  [ -f "$msi" ] || { echo "run-wine-tests: $msi was not made"; return 1; }
}

step_exports() {
  echo "== $arch: exports of tarnintr.dll"
  local exports name
  exports=$("$mingw-objdump" -p "$build/tarnintr.dll")
  for name in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow; do
    grep -q "\] $name\$" <<<"$exports" || fail "$arch: tarnintr.dll does not export $name"
  done
}

# Before any registration: the suites test the library with its own class
# table, not with components the system would hand out.
step_suites() {
  echo "== $arch: the GoogleTest suites"
  local suite result debug
  for suite in "$build"/*_test.exe; do
    [ -e "$suite" ] || continue
    # The suites that end threads run with Wine's heap checks, which fill
    # freed memory, so that an object used after its thread's storage was
    # freed fails at once.
    debug=-all
    case $(basename "$suite") in debug_log_test.exe | threads_test.exe) debug=warn+heap ;; esac
    if result=$(WINEDEBUG=$debug w "$suite" 2>&1 | tr -d '\r') && ! grep -q 'warn:heap' <<<"$result"; then
      grep -E '^\[  PASSED  \]' <<<"$result" | sed "s|^|$(basename "$suite"): |"
    else
      echo "$result" | grep -E '^\[  FAILED  \]|Failure|error|fault|warn:heap' | head -20
      fail "$arch: $(basename "$suite")"
    fi
  done
}

step_register() {
  cp "$build/tarnintr.dll" "$build/tarnhost.dll" "$build/com_host.exe" "$bin/"
  intr="$winbin\\tarnintr.dll" host="$winbin\\tarnhost.dll"
  echo "== $arch: regsvr32 tarnintr.dll"
  regsvr32 /s "$intr" || fail "$arch: regsvr32 tarnintr.dll"
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
  local own='{00000000-0000-0000-0000-0000000000AB}' i
  reg add 'HKCR\ZellErr.ErrorManager\CLSID' /ve /d "$own" /f >/dev/null
  regsvr32 /s "$host" || fail "$arch: regsvr32 tarnhost.dll"
  query 'HKCR\ZellErr.ErrorManager\CLSID'
  grep -qF "$own" <<<"$out" || fail "registration replaced a host's own ZellErr.ErrorManager: $out"
  reg delete 'HKCR\ZellErr.ErrorManager' /f >/dev/null
  regsvr32 /s "$host" || fail "$arch: regsvr32 tarnhost.dll"
  for i in "${!host_progids[@]}"; do
    query "HKCR\\${host_progids[$i]}\\CLSID"
    grep -qF "${host_clsids[$i]}" <<<"$out" || fail "${host_progids[$i]}: $out"
    query "HKCR\\CLSID\\${host_clsids[$i]}\\InprocServer32"
    grep -qiF "$host" <<<"$out" || fail "${host_progids[$i]} does not point at tarnhost.dll: $out"
  done
}

step_com_host() {
  echo "== $arch: C++ host: the shared expression table through IDispatch"
  (cd "$bin" && w ./com_host.exe "$winbin\\expressions.tsv") || fail "$arch: com_host.exe"
}

# ---- Hostile hosts and both widths side by side -------------------------
# hostile_host.exe attacks the width's servers: re-entry from the host's
# callbacks, collections that lose or rename temporary fields, texts beyond
# the readable limit, the arguments of hostile_calls.tsv, dispatch ids across
# threads; then, in a process of its own, worker threads that are the first
# to use the servers and end their apartments. Every run must end within
# its time limit.
step_hostile() {
  echo "== $arch: hostile host"
  cp "$build/hostile_host.exe" "$bin/"
  local mode result
  for mode in "" threads; do
    if result=$(cd "$bin" && timeout 300 "$loader" ./hostile_host.exe $mode 2>&1 | tr -d '\r'); then
      grep -E '^hostile_host:' <<<"$result"
    else
      echo "$result" | grep -E '^FAIL|^hostile_host' | head -20
      fail "$arch: hostile_host.exe $mode"
    fi
  done
}

# Both widths registered with regsvr32 in one 64-bit prefix: unregistering
# one leaves the other usable, and the shared programmatic identifiers stay
# until the last one goes.
step_side_by_side() {
  echo "== both widths: registered side by side"
  local a dir
  for a in x86_64 i686; do
    use_width "$a"
    dir=$bin/$a
    mkdir -p "$dir"
    cp "$build"/{tarnintr.dll,tarnhost.dll,hostile_host.exe} "$dir/"
  done
  both_reg() {  # width, regsvr32 option ("" or /u)
    use_width "$1"
    regsvr32 /s $2 "$winbin\\$1\\tarnintr.dll" && regsvr32 /s $2 "$winbin\\$1\\tarnhost.dll"
  }
  usable() { use_width "$1" && (cd "$bin/$1" && w ./hostile_host.exe create >/dev/null 2>&1); }
  progid() { loader=$wine64 && reg query 'HKCR\TarnIntr.Interpreter\CLSID' >/dev/null 2>&1; }
  both_reg x86_64 "" || fail "regsvr32 of the 64-bit servers"
  both_reg i686 "" || fail "regsvr32 of the 32-bit servers"
  usable x86_64 || fail "64-bit host with both widths registered"
  usable i686 || fail "32-bit host with both widths registered"
  both_reg i686 /u || fail "regsvr32 /u of the 32-bit servers"
  usable x86_64 || fail "64-bit host after the 32-bit servers were unregistered"
  if usable i686; then fail "32-bit host still creates after its unregistration"; fi
  both_reg i686 "" || fail "regsvr32 of the 32-bit servers again"
  both_reg x86_64 /u || fail "regsvr32 /u of the 64-bit servers"
  usable i686 || fail "32-bit host after the 64-bit servers were unregistered"
  progid || fail "the shared ProgID went with the 64-bit servers"
  both_reg i686 /u || fail "regsvr32 /u of the 32-bit servers"
  if progid; then fail "TarnIntr.Interpreter is left behind after both were unregistered"; fi
}
# ---- end of hostile hosts and side by side -------------------------------

step_vbscript() {
  echo "== $arch: VBScript host"
  run_script host.vbs
}

step_jscript() {
  echo "== $arch: JScript host"
  run_script host.js
}

# Runs debug_log.vbs once; the number of banners in C:\DIR\Log.log in $banners.
count_banners() {
  local dir=$1 log
  log=$WINEPREFIX/drive_c/$dir/Log.log
  banners=0
  [ -f "$log" ] && banners=$(grep -c 'Interpreter Version: 01.01.0009<END OF ENTRY>' "$log" || true)
}
log_once() { (cd "$bin" && cscript //nologo "$winbin\\debug_log.vbs" >/dev/null 2>&1) || true; }

step_debug_log() {
  echo "== $arch: debug log through the registry and ZellLog.Log"
  reg add "$debug_key" /v WriteDebugLog /t REG_SZ /d 1 /f >/dev/null
  reg add "$debug_key" /v DebugLogPath /t REG_SZ /d 'C:\tarnlog' /f >/dev/null
  # A value longer than the reader's 256-byte buffer counts as missing: the
  # default separator is written.
  reg add "$debug_key" /v Separator /t REG_SZ /d "$(printf '%0300d' 0)" /f >/dev/null
  log_once
  count_banners tarnlog
  [ "$banners" = 1 ] && grep -q ' Interpreter - Init' "$WINEPREFIX/drive_c/tarnlog/Log.log" ||
    fail "$arch: no banner in C:\\tarnlog\\Log.log"
  # A folder whose name is not ASCII (Wine's cscript
  # answers 0 whatever the script does: its words are what counts).
  local said
  said=$(cd "$bin" && cscript //nologo "$winbin\\debug_log_folder.js" "$debug_key" 2>&1 | tr -d '\r')
  [[ $said == *"debug_log_folder.js: logged"* ]] || fail "$arch: no log in a folder whose name is not ASCII: $said"
  reg delete "$debug_key" /f >/dev/null
}

step_unregister() {
  echo "== $arch: regsvr32 /u"
  regsvr32 /u /s "$intr" || fail "$arch: regsvr32 /u tarnintr.dll"
  regsvr32 /u /s "$host" || fail "$arch: regsvr32 /u tarnhost.dll"
  local left
  left=$(left_keys)
  [ -z "$left" ] || fail "$arch: regsvr32 /u left $left"
}

# The installer writes what regsvr32 writes for DLLs in the same folder.
step_msi_keys() {
  echo "== $arch: the MSI's registration against regsvr32's"
  local dir unix
  dir=$(install_dir)
  unix=$(unix_path "$dir")
  cp "$msi" "$bin/"
  mkdir -p "$unix"
  cp "$build/tarnintr.dll" "$build/tarnhost.dll" "$unix/"
  regsvr32 /s "$dir\\tarnintr.dll" || fail "$arch: regsvr32 in $dir"
  regsvr32 /s "$dir\\tarnhost.dll" || fail "$arch: regsvr32 in $dir"
  dump_keys >"$scratch/$arch-regsvr32.txt"
  regsvr32 /u /s "$dir\\tarnintr.dll" || fail "$arch: regsvr32 /u in $dir"
  regsvr32 /u /s "$dir\\tarnhost.dll" || fail "$arch: regsvr32 /u in $dir"
  rm -rf "$unix"
  msiexec /i "$winbin\\$(basename "$msi")" /qn || fail "$arch: msiexec /i"
  [ -f "$unix/tarnintr.dll" ] && [ -f "$unix/tarnhost.dll" ] || fail "$arch: the MSI installed no DLLs in $dir"
  dump_keys >"$scratch/$arch-msi.txt"
  # RegisterTypeLib writes HELPDIR without the final separator that a
  # folder has in an installer.
  sed -i 's/\\$//' "$scratch/$arch-regsvr32.txt" "$scratch/$arch-msi.txt"
  diff "$scratch/$arch-regsvr32.txt" "$scratch/$arch-msi.txt" ||
    fail "$arch: the MSI's registration differs from regsvr32's (< regsvr32, > MSI)"
}

# Uninstalls the width's product and checks that nothing is left (no key
# either, unless a second argument says the other width is installed).
msi_uninstall() {
  local package=$1 other=${2:-} dir left
  dir=$(unix_path "$(install_dir)")
  msiexec /x "$package" /qn || fail "$arch: msiexec /x"
  left=$(left_keys)
  [ -n "$other" ] || [ -z "$left" ] || fail "$arch: uninstalling left $left"
  [ ! -e "$dir" ] || fail "$arch: uninstalling left $(ls -A "$dir") in $dir"
}

step_msi_host() {
  echo "== $arch: the VBScript host against the installed component"
  query "HKCR\\CLSID\\$clsid\\InprocServer32"
  grep -qiF "$(install_dir)\\tarnintr.dll" <<<"$out" || fail "$arch: InprocServer32 after install: $out"
  run_script host.vbs
  msi_uninstall "$winbin\\$(basename "$msi")"
}

# Installing the same package twice is harmless.
step_msi_reinstall() {
  echo "== $arch: the MSI installed twice"
  local package
  package="$winbin\\$(basename "$msi")"
  msiexec /i "$package" /qn || fail "$arch: msiexec /i"
  msiexec /i "$package" /qn || fail "$arch: msiexec /i a second time"
  run_script host.vbs
  msi_uninstall "$package"
}

# Products of the width's name entered for uninstalling, and their versions.
products() {
  reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk -v name="TarnIntr expression interpreter ($msi_arch)" '
      /^HKEY/ { if (found) print version; found = 0; version = "" }
      /DisplayName/ && index($0, name) { found = 1 }
      /DisplayVersion/ { version = $NF }
      END { if (found) print version }' || true
}

# A newer version replaces the older one: one product, one registration.
step_msi_upgrade() {
  echo "== $arch: a newer version over the older one"
  local newer=$bin/tarnintr-newer-$msi_arch.msi wxs=$PWD/installer/tarnintr.wxs query_line
  (cd "$build" && wixl -a "$msi_arch" -D Arch="$msi_arch" -D Version=1.1.65535 -o "$newer" "$wxs")
  while IFS= read -r query_line; do
    msibuild "$newer" -q "$query_line" </dev/null
  done <installer/progid-conditions.sql
  msiexec /i "$winbin\\$(basename "$msi")" /qn || fail "$arch: msiexec /i"
  msiexec /i "$winbin\\$(basename "$newer")" /qn || fail "$arch: msiexec /i the newer version"
  local list
  list=$(products)
  [ "$list" = 1.1.65535 ] ||
    fail "$arch: after the upgrade the products are: $list"
  query "HKCR\\CLSID\\$clsid\\InprocServer32"
  grep -qiF "$(install_dir)\\tarnintr.dll" <<<"$out" || fail "$arch: InprocServer32 after the upgrade: $out"
  run_script host.vbs
  msi_uninstall "$winbin\\$(basename "$newer")"
  [ -z "$(products)" ] || fail "$arch: a product is left: $(products)"
}

# Both widths in one 64-bit prefix: the 32-bit view's switches hold for
# both, whichever is installed; the 64-bit view's only when the 32-bit view
# has none.
step_registry_view() {
  echo "== both widths: the registry view of the debug-log switches"
  local x86 x64
  use_width i686
  cp "$msi" "$bin/"
  x86="$winbin\\$(basename "$msi")"
  use_width x86_64
  cp "$msi" "$bin/"
  x64="$winbin\\$(basename "$msi")"
  loader=$wine64
  reg add "$debug_key" /v WriteDebugLog /t REG_SZ /d 1 /f /reg:32 >/dev/null
  reg add "$debug_key" /v DebugLogPath /t REG_SZ /d 'C:\log32' /f /reg:32 >/dev/null

  use_width i686
  msiexec /i "$x86" /qn || fail "msiexec /i the x86 MSI"
  log_once
  count_banners log32
  [ "$banners" = 1 ] || fail "the 32-bit component did not log to the 32-bit view's folder ($banners)"

  use_width x86_64
  msiexec /i "$x64" /qn || fail "msiexec /i the x64 MSI beside the x86 one"
  log_once
  count_banners log32
  [ "$banners" = 2 ] || fail "the 64-bit component beside the 32-bit one ignored the 32-bit view ($banners)"
  reg add "$debug_key" /v WriteDebugLog /t REG_SZ /d 1 /f /reg:64 >/dev/null
  reg add "$debug_key" /v DebugLogPath /t REG_SZ /d 'C:\log64' /f /reg:64 >/dev/null
  log_once
  count_banners log32
  [ "$banners" = 3 ] || fail "with both views set, the 64-bit component did not follow the 32-bit view"

  use_width i686
  msi_uninstall "$x86" x64
  use_width x86_64
  log_once
  count_banners log32
  [ "$banners" = 4 ] || fail "the 64-bit component instead of the 32-bit one lost its setting ($banners)"
  reg delete "$debug_key" /f /reg:32 >/dev/null
  log_once
  count_banners log64
  [ "$banners" = 1 ] || fail "without a 32-bit view key, the 64-bit view's switches did not hold ($banners)"
  reg delete "$debug_key" /f /reg:64 >/dev/null
  msi_uninstall "$x64"
  loader=$wine32
  local left
  left=$(left_keys)
  [ -z "$left" ] || fail "both widths removed, the 32-bit view keeps $left"
}

run_width() {
  local step winearch=win64
  use_width "$1"
  [ "$arch" = i686 ] && winearch=win32
  step_build
  new_prefix "$arch" "$winearch"
  for step in "${width_steps[@]}"; do "step_$step"; done
  stop_prefix
  new_prefix "$arch-msi" "$winearch"
  for step in "${msi_steps[@]}"; do "step_$step"; done
  stop_prefix
}

arches=${TARN_WINE_ARCHES:-i686 x86_64}
for a in $arches; do
  start=$SECONDS
  run_width "$a"
  echo "== $a: $((SECONDS - start)) s"
done
if [[ " $arches " == *" i686 "* && " $arches " == *" x86_64 "* ]]; then
  start=$SECONDS
  new_prefix both win64
  for step in "${both_steps[@]}"; do "step_$step"; done
  stop_prefix
  echo "== both widths: $((SECONDS - start)) s"
fi

if [ "$failures" -ne 0 ]; then
  echo "run-wine-tests: $failures failed"
  exit 1
fi
echo "run-wine-tests: all passed"

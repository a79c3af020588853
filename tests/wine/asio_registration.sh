#!/usr/bin/env bash
# Windows smoke test of the driver module under Wine: Wine's own regsvr32 registers and
# unregisters the x64 DLL, which must leave exactly the driver's registry keys and values;
# and asio_smoke_host, a small Windows host, activates the registered class through
# CoCreateInstance, which reaches the driver's class factory and fails with E_FAIL because
# no device is present. The x86 DLL is checked the same way where the kernel can run
# 32-bit programs; elsewhere it is only built, and the test says so. Both DLLs must export
# exactly the five entry points, by their plain names.
#
# T32_SMOKE_DLL64 / T32_SMOKE_DLL32 name other DLLs to check (the built ones by default).
set -uo pipefail
cd "$(dirname "$0")/../.."
dll64=${T32_SMOKE_DLL64:-build/win64/bin/Ternix32ASIO.dll}
dll32=${T32_SMOKE_DLL32:-build/win32/bin/Ternix32ASIO.dll}
host64=build/win64/bin/asio_smoke_host.exe
host32=build/win32/bin/asio_smoke_host.exe
e_fail=0x80004005
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if [ ! -f "$dll64" ]; then
  echo "asio registration: skipped, $dll64 is not built (the driver module is not in this tree yet)"
  exit 0
fi

# check_arch ARCH WINE DLL HOST REGVIEW: the whole round for one architecture. Keys are
# read in the view that architecture's programs see (a 32-bit regsvr32 writes below
# Wow6432Node on 64-bit Windows).
check_arch() {
  local arch=$1 wine=$2 dll=$3 host=$4 view=$5
  local asio='HKLM\Software\ASIO\Ternix32' user='HKCU\Software\ASIO\Ternix32'
  q() { "$wine" reg query "$@" "$view" 2>/dev/null | tr -d '\r'; }
  has_key() { "$wine" reg query "$1" "$view" >/dev/null 2>&1; }
  # value KEY NAME: "TYPE<TAB>DATA" of a value ("" for the default value)
  value() {
    local out
    if [ -z "$2" ]; then out=$(q "$1" /ve); else out=$(q "$1" /v "$2"); fi
    echo "$out" | sed -n 's/^    .*    \(REG_[A-Z_]*\)    \(.*\)$/\1\t\2/p' | head -1
  }
  expect_value() {  # expect_value KEY NAME TYPE DATA
    local got
    got=$(value "$1" "$2")
    [ "${got,,}" = "$(printf '%s\t%s' "$3" "$4" | tr '[:upper:]' '[:lower:]')" ] ||
      fail "$arch: $1 \"${2:-(Default)}\" is '$got', expected $3 '$4'"
  }
  clsid_of() { value "$asio" CLSID | cut -f2; }

  local path
  path=$("$wine" winepath -w "$(realpath "$dll")" 2>/dev/null | tr -d '\r')
  "$wine" reg delete "$asio" /f "$view" >/dev/null 2>&1
  "$wine" reg delete "$user" /f "$view" >/dev/null 2>&1

  "$wine" regsvr32 /s "$path" >/dev/null 2>&1 || fail "$arch: regsvr32 /s failed ($?)"
  local first
  first=$(clsid_of)
  [[ "$first" =~ ^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$ ]] || fail "$arch: CLSID '$first' is not a registry-form class identifier"
  expect_value "$asio" CLSID REG_SZ "$first"
  expect_value "$asio" Driver REG_SZ "$path"
  expect_value "HKCR\\CLSID\\$first" FriendlyName REG_SZ Ternix32
  expect_value "HKCR\\CLSID\\$first\\InprocServer32" "" REG_SZ "$path"
  expect_value "HKCR\\CLSID\\$first\\InprocServer32" ThreadingModel REG_SZ Apartment

  # A host activates the class: the factory is reached and, with no device, refuses.
  local out
  out=$("$wine" "$host" --expect $e_fail 2>&1 | tr -d '\r')
  if ! echo "$out" | grep -q '^as expected'; then
    fail "$arch: the smoke host did not get E_FAIL from the driver:"
    echo "$out" | sed 's/^/    /'
  fi

  # Registering again makes a new class key and points the ASIO key at it alone;
  # unregistering removes that one, the driver's key and the user's settings.
  "$wine" reg add "$user" /v BufferSize /t REG_DWORD /d 100 /f "$view" >/dev/null 2>&1
  "$wine" regsvr32 /s "$path" >/dev/null 2>&1 || fail "$arch: the second regsvr32 /s failed"
  local second
  second=$(clsid_of)
  [ -n "$second" ] && [ "$second" != "$first" ] || fail "$arch: a second registration kept the class identifier $first"
  has_key "HKCR\\CLSID\\$first" || fail "$arch: the second registration removed the first class key"
  has_key "HKCR\\CLSID\\$second\\InprocServer32" || fail "$arch: the second class key is missing"

  "$wine" regsvr32 /u /s "$path" >/dev/null 2>&1 || fail "$arch: regsvr32 /u /s failed ($?)"
  has_key "$asio" && fail "$arch: $asio is still there after unregistration"
  has_key "HKCR\\CLSID\\$second" && fail "$arch: the class key $second is still there after unregistration"
  has_key "HKCR\\CLSID\\$first" || fail "$arch: unregistration removed the older class key $first too"
  has_key "$user" && fail "$arch: the user's settings key is still there after unregistration"
  "$wine" reg delete "HKCR\\CLSID\\$first" /f "$view" >/dev/null 2>&1

  # Unregistering with nothing registered still succeeds.
  "$wine" regsvr32 /u /s "$path" >/dev/null 2>&1 || fail "$arch: regsvr32 /u with nothing registered failed ($?)"
  echo "asio registration ($arch): regsvr32 register, re-register and unregister; CoCreateInstance gave E_FAIL through the factory"
}

# exports OBJDUMP DLL: the DLL's export names, one a line. RegSvr32 and COM find the
# entry points by these undecorated names, on x86 too.
exports() { "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p'; }
expected_exports=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllMain DllRegisterServer DllUnregisterServer)
for pair in "x86_64-w64-mingw32-objdump:$dll64" "i686-w64-mingw32-objdump:$dll32"; do
  objdump=${pair%%:*} dll=${pair#*:}
  [ -f "$dll" ] || continue
  got=$(exports "$objdump" "$dll")
  [ "$got" = "$expected_exports" ] ||
    fail "$dll exports $(echo "$got" | wc -l) names ($(echo $got | cut -c1-160)...), not the five entry points alone"
done

check_arch x64 scripts/wine-run "$dll64" "$host64" /reg:64

if [ ! -f "$dll32" ]; then
  fail "x86: $dll32 is not built"
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine32() { WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}" WINEDEBUG=-all /usr/lib/wine/wine "$@"; }
  check_arch x86 wine32 "$dll32" "$host32" /reg:32
else
  echo "asio registration (x86): $dll32 is built; not run, because this kernel runs no 32-bit programs"
fi

[ "$failures" = 0 ] || { echo "asio registration: $failures failure(s)"; exit 1; }

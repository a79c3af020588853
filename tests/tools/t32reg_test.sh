#!/usr/bin/env bash
# t32reg against a fresh root folder: add of each type, query with reg.exe's layout,
# delete of values and trees, and the errors a user meets.
set -u
tool="$1"
export TERNIX32_ROOT="$(mktemp -d)"
trap 'rm -rf "$TERNIX32_ROOT"' EXIT
failures=0

expect() {  # expect NAME EXPECTED_EXIT EXPECTED_OUTPUT -- ARGS...
  local name="$1" want_rc="$2" want="$3"
  shift 4
  local got rc
  got="$("$tool" "$@" 2>&1 </dev/null)"
  rc=$?
  if [ "$rc" != "$want_rc" ] || [ "$got" != "$want" ]; then
    echo "FAIL: $name (exit $rc, wanted $want_rc)"
    diff <(printf '%s\n' "$want") <(printf '%s\n' "$got")
    failures=$((failures + 1))
  fi
}

ok="The operation completed successfully."
missing="ERROR: The system was unable to find the specified registry key or value."
key='HKCU\Software\ASIO\Ternix32'

expect "add REG_DWORD" 0 "$ok" -- add "$key" /v BufferSize /t REG_DWORD /d 100
expect "add REG_SZ" 0 "$ok" -- add "$key" /v ASIOCPL /d 'C:\Program Files\Ternix32\'
expect "add REG_BINARY" 0 "$ok" -- add "$key" /v SupporBitsPerSample /t reg_binary /d 0e000000
expect "add REG_MULTI_SZ" 0 "$ok" -- add "$key" /v List /t REG_MULTI_SZ /d 'a\0b\0é'
expect "add default" 0 "$ok" -- add "$key" /ve /d default
expect "add subkey" 0 "$ok" -- add "$key\\Sub" /v Q /t REG_QWORD /d 0x100000000
expect "bad DWORD" 1 'ERROR: Invalid data "x1" for REG_DWORD.' -- add "$key" /v Bad /t REG_DWORD /d x1
expect "existing value without /f asks, no answer keeps it" 1 \
  "Value BufferSize exists, overwrite (Yes/No)? The operation was cancelled by the user." -- \
  add "$key" /v BufferSize /t REG_DWORD /d 250
expect "overwrite with /f" 0 "$ok" -- add "$key" /v BufferSize /t REG_DWORD /d 0x19 /f

expect "query key" 0 "
HKEY_CURRENT_USER\\Software\\ASIO\\Ternix32
    BufferSize    REG_DWORD    0x19
    ASIOCPL    REG_SZ    C:\\Program Files\\Ternix32\\
    SupporBitsPerSample    REG_BINARY    0E000000
    List    REG_MULTI_SZ    a\\0b\\0é
    (Default)    REG_SZ    default

HKEY_CURRENT_USER\\Software\\ASIO\\Ternix32\\Sub" -- query "$key"

expect "query value, any case, long root name" 0 "
HKEY_CURRENT_USER\\software\\asio\\ternix32
    bUFFERsIZE    REG_DWORD    0x19" -- query 'HKEY_CURRENT_USER\software\asio\ternix32' /v bUFFERsIZE

expect "query /s" 0 "
HKEY_CURRENT_USER\\Software\\ASIO

HKEY_CURRENT_USER\\Software\\ASIO\\Ternix32
    BufferSize    REG_DWORD    0x19
    ASIOCPL    REG_SZ    C:\\Program Files\\Ternix32\\
    SupporBitsPerSample    REG_BINARY    0E000000
    List    REG_MULTI_SZ    a\\0b\\0é
    (Default)    REG_SZ    default

HKEY_CURRENT_USER\\Software\\ASIO\\Ternix32\\Sub
    Q    REG_QWORD    0x100000000

End of search: 6 match(es) found." -- query 'HKCU\Software\ASIO' /s

expect "missing key" 1 "$missing" -- query 'HKLM\Software\Nothing'
expect "missing value" 1 "$missing" -- query "$key" /v Nothing
expect "bad root" 1 "ERROR: Invalid key name.
Type \"t32reg /?\" for usage." -- query 'HKXX\Software'

expect "delete value" 0 "$ok" -- delete "$key" /v ASIOCPL /f
expect "deleted value is gone" 1 "$missing" -- query "$key" /v ASIOCPL
expect "delete tree" 0 "$ok" -- delete 'HKCU\Software\ASIO' /f
expect "deleted tree is gone" 1 "$missing" -- query "$key\\Sub"
expect "a root is not deleted" 1 "ERROR: Access is denied." -- delete HKLM /f

if [ "$failures" -ne 0 ]; then
  echo "t32reg: $failures check(s) failed"
  exit 1
fi
echo "t32reg: all checks passed"

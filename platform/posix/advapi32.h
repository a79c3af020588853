// advapi32 for Linux builds: the registry. Hives live in the root folder and are shared
// by every process that uses it; each write is atomic, so a crash never leaves a half-
// written value, and a damaged store reads as missing keys.
#pragma once

#include "win_types.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

// Returned for a subkey path that starts with a backslash.
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif

// Every function returns a Win32 error code and leaves GetLastError alone. Common rules:
// - Handles: the four predefined roots are always valid (HKEY_CLASSES_ROOT is
//   HKEY_LOCAL_MACHINE\Software\Classes, HKEY_CURRENT_USER a key below HKEY_USERS); a
//   handle that was never opened or is already closed gives ERROR_INVALID_HANDLE; a handle
//   to a key deleted since gives ERROR_KEY_DELETED.
// - Names: compared without regard to case, kept with the case first written; subkey
//   paths are backslash-separated and may not start with a backslash (ERROR_BAD_PATHNAME).
//   A NULL or empty value name is the key's default value.
// - Text data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is kept as UTF-16: the A forms convert
//   it from and to one byte per character, the W forms from and to WCHAR, whose size the
//   byte counts of the W forms use. Other types are kept byte for byte.
// - Rights: values are read with KEY_QUERY_VALUE, written and deleted with KEY_SET_VALUE,
//   subkeys listed with KEY_ENUMERATE_SUB_KEYS and created with KEY_CREATE_SUB_KEY, all
//   checked against the access a handle was opened with (ERROR_ACCESS_DENIED).
// - A damaged store reads as missing keys (ERROR_FILE_NOT_FOUND); writes to it fail with
//   ERROR_BADDB. Nothing crashes.
extern "C" {
// Opens an existing key (ERROR_FILE_NOT_FOUND when a component is missing). An empty or
// NULL subkey opens hKey itself again. *phkResult is NULL on failure.
LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Opens a key, creating it and any missing parents; *lpdwDisposition tells which
// (REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY). Class, options and security are
// ignored: every key is non-volatile.
LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES sa, PHKEY phkResult,
                               LPDWORD lpdwDisposition);
LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES sa, PHKEY phkResult,
                               LPDWORD lpdwDisposition);
// Reads a value of any type (no type check). With lpData NULL and lpcbData set, reports
// the type and size. When the buffer is too small, returns ERROR_MORE_DATA with the needed
// size in *lpcbData and writes nothing into the buffer. A missing value gives
// ERROR_FILE_NOT_FOUND; lpData without lpcbData gives ERROR_INVALID_PARAMETER.
// Text read through the A form is counted in bytes of its one-byte characters, through
// the W form in bytes of WCHAR; either includes the terminating zero when one was stored.
LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData);
LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData);
// Creates or replaces a value with exactly cbData bytes: the terminating zero of text is
// stored only when cbData counts it (Windows also stores a zero that lies just past the
// counted text; reading past the caller's count is left out here). Atomic: a reader in any
// process sees the old value or the new one. NULL data with a non-zero size gives
// ERROR_NOACCESS.
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData);
LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData);
// Deletes a key and its values. A key that has subkeys is refused with
// ERROR_ACCESS_DENIED, as are the roots; an empty subkey deletes hKey's own key; a missing
// one gives ERROR_FILE_NOT_FOUND. Handles still open on the key then give ERROR_KEY_DELETED.
LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
// Deletes a value (ERROR_FILE_NOT_FOUND when there is none).
LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// The dwIndex-th subkey in case-insensitive name order; ERROR_NO_MORE_ITEMS past the last.
// *lpcchName is the buffer's size in characters on entry and the name's length without its
// zero on return; a name that does not fit gives ERROR_MORE_DATA.
LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
// The dwIndex-th value in the order values were first written; ERROR_NO_MORE_ITEMS past
// the last. Name as for RegEnumKeyExA; data as for RegQueryValueExA (ERROR_MORE_DATA with
// the needed size when it does not fit).
LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Closes an opened key; closing a predefined root does nothing and succeeds.
LSTATUS WINAPI RegCloseKey(HKEY hKey);
}

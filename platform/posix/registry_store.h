// The registry's storage: one SQLite database per root folder (<root>/registry/registry.db)
// holding a tree of keys and their values. Every write runs in its own IMMEDIATE
// transaction, so another process sees either the old or the new value and a crash in the
// middle leaves the old one; WAL journaling lets readers go on while one process writes.
//
// The store knows nothing of A and W forms: names arrive as UTF-8 together with their
// case-folded form (lookups use the folded form, listings the name as first written), and
// data arrives as the bytes to keep (strings already in the canonical UTF-16LE).
//
// Not thread-safe by itself: the registry functions call it under one lock.
// Results are Win32 error codes. A damaged or unreadable database gives ERROR_FILE_NOT_FOUND
// to readers (it reads as missing keys) and ERROR_BADDB to writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "advapi32.h"

namespace t32posix {

// Keys are named by their row id; ids are never reused, so a handle to a deleted key stays
// recognisably dead.
typedef int64_t RegKeyId;

// The keys that stand behind the predefined handles.
enum class RegRoot { kLocalMachine, kUsers, kCurrentUser, kClassesRoot };

struct RegValueData {
  DWORD dwType = 0;
  std::vector<uint8_t> data;
};

struct RegNamedValue {
  std::string name;  // UTF-8, case as first written
  RegValueData value;
};

struct RegSubkey {
  std::string name;       // UTF-8
  int64_t llWritten = 0;  // FILETIME ticks of its last change
};

// One path component: the name as given and its case-folded form.
struct RegName {
  std::string name;
  std::string folded;
};

// The database file of the current root folder (follows TERNIX32_ROOT).
std::string CurrentRegistryFile();

// Resolves a predefined root in the database at path; bWrite says which error a damaged
// database gives.
LONG RegStoreRoot(const std::string& path, RegRoot root, bool bWrite, RegKeyId* pId);

// Walks (and with bCreate, creates) the components below a key. *pdwDisposition tells
// whether the last key was created. With no components the key itself is opened (after a
// check that it still exists).
LONG RegStoreOpen(const std::string& path, RegKeyId from, const std::vector<RegName>& components, bool bCreate,
                  RegKeyId* pId, DWORD* pdwDisposition);
// ERROR_SUCCESS while the key exists, ERROR_KEY_DELETED after it was deleted.
LONG RegStoreKeyAlive(const std::string& path, RegKeyId id);

LONG RegStoreQueryValue(const std::string& path, RegKeyId id, const std::string& folded, RegValueData* pValue);
LONG RegStoreSetValue(const std::string& path, RegKeyId id, const RegName& name, DWORD dwType, const uint8_t* pData,
                      size_t cbData);
LONG RegStoreDeleteValue(const std::string& path, RegKeyId id, const std::string& folded);
// Deletes a key without subkeys, together with its values. Roots and the keys behind
// HKEY_CURRENT_USER and HKEY_CLASSES_ROOT cannot be deleted (ERROR_ACCESS_DENIED).
LONG RegStoreDeleteKey(const std::string& path, RegKeyId id);

// Subkeys in case-insensitive name order; values in the order they were first written. A
// value whose contents are damaged is listed as REG_NONE without data (and reads as
// missing through RegStoreQueryValue).
LONG RegStoreEnumKey(const std::string& path, RegKeyId id, DWORD dwIndex, RegSubkey* pSubkey);
LONG RegStoreEnumValue(const std::string& path, RegKeyId id, DWORD dwIndex, RegNamedValue* pValue);

}  // namespace t32posix

// The registry functions over the SQLite store (registry_store.h).
//
// Names: key and value names are compared without regard to case and keep the case they
// were first written with; paths are split at backslashes (a trailing one and doubled ones
// are ignored, a leading one is a bad path). ANSI text is one byte per character
// (Latin-1), wide text is wchar_t; both are kept as UTF-8 in the store.
//
// Data: REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ are stored as UTF-16LE, as Windows keeps
// them, whichever form wrote them. The W forms convert to and from wchar_t (four bytes on
// Linux: sizes reported to W callers count bytes of wchar_t), the A forms to and from one
// byte per character (characters above 0xFF read as '?'). Other types are kept as given.
//
// Handles: predefined roots are always valid and closing them does nothing; opened keys
// get handle values from a counter that is never reused, so a closed handle stays
// invalid. Each handle remembers its database file and the access it was opened with.
//
// Thread safety: one lock serialises every call in the process; other processes are kept
// apart by the store's transactions.

#include <locale.h>
#include <pthread.h>
#include <wctype.h>

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "advapi32.h"
#include "registry_store.h"

namespace t32posix {

namespace {

constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kGenericWrite = 0x40000000u;
constexpr DWORD kGenericExecute = 0x20000000u;
constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kMaximumAllowed = 0x02000000u;

struct CKeyHandle {
  std::string path;  // database file the key lives in
  RegKeyId id = 0;
  DWORD dwAccess = 0;
};

std::mutex g_lock;
std::unordered_map<ULONG_PTR, CKeyHandle> g_handles;
ULONG_PTR g_nextHandle = 0x40000000;

// fork() while another thread is inside a registry call would hand the child a held lock;
// holding the lock across fork keeps the child's copy consistent.
void InstallForkHandlers() {
  static std::once_flag s_once;
  std::call_once(s_once, [] {
    pthread_atfork([] { g_lock.lock(); }, [] { g_lock.unlock(); }, [] { g_lock.unlock(); });
  });
}

std::unique_lock<std::mutex> Lock() {
  InstallForkHandlers();
  return std::unique_lock<std::mutex>(g_lock);
}

// ---- text ----

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes UTF-8 from the store; a malformed byte (only a damaged store has them) reads
// as U+FFFD.
std::u32string DecodeUtf8(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || s.size() - i <= static_cast<size_t>(extra)) {
      out += U'\xFFFD';
      ++i;
      continue;
    }
    char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok) {
      out += U'\xFFFD';
      ++i;
      continue;
    }
    out += c;
    i += extra + 1;
  }
  return out;
}

std::string AnsiToUtf8(const char* psz) {
  std::string out;
  for (; *psz; ++psz) AppendUtf8(out, static_cast<unsigned char>(*psz));
  return out;
}

std::string WideToUtf8(const wchar_t* psz) {
  std::string out;
  for (; *psz; ++psz) {
    char32_t c = static_cast<char32_t>(*psz);
    AppendUtf8(out, c <= 0x10FFFF ? c : U'\xFFFD');
  }
  return out;
}

std::string Utf8ToAnsi(const std::string& s) {
  std::string out;
  for (char32_t c : DecodeUtf8(s)) out += c <= 0xFF ? static_cast<char>(c) : '?';
  return out;
}

// Upper case as the registry compares names. ASCII and Latin-1 are folded here so the
// common names never depend on the C library's tables.
char32_t UpperCase(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  static locale_t s_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (!s_locale || c > 0x10FFFF) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), s_locale));
}

std::string Fold(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  bool ascii = true;
  for (char ch : utf8) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
  if (ascii) {
    for (char ch : utf8) out += ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch;
    return out;
  }
  for (char32_t c : DecodeUtf8(utf8)) AppendUtf8(out, UpperCase(c));
  return out;
}

RegName MakeName(std::string utf8) {
  RegName name;
  name.folded = Fold(utf8);
  name.name = std::move(utf8);
  return name;
}

// Splits a subkey path. An empty or missing path names the key itself.
LONG SplitPath(const std::string& path, std::vector<RegName>* pComponents) {
  pComponents->clear();
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) pComponents->push_back(MakeName(path.substr(start, end - start)));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

// ---- data ----

bool IsStringType(DWORD dwType) { return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ; }

void PutUnit(std::vector<uint8_t>& out, uint32_t unit) {
  out.push_back(static_cast<uint8_t>(unit & 0xFF));
  out.push_back(static_cast<uint8_t>(unit >> 8));
}

std::vector<uint8_t> AnsiToStored(const BYTE* p, DWORD cb) {
  std::vector<uint8_t> out;
  out.reserve(cb * 2u);
  for (DWORD i = 0; i < cb; ++i) PutUnit(out, p[i]);
  return out;
}

// A trailing partial wchar_t is dropped.
std::vector<uint8_t> WideToStored(const BYTE* p, DWORD cb) {
  std::vector<uint8_t> out;
  size_t count = cb / sizeof(wchar_t);
  out.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    wchar_t wc;
    std::memcpy(&wc, p + i * sizeof(wchar_t), sizeof(wchar_t));  // the caller's data may be unaligned
    uint32_t c = static_cast<uint32_t>(wc);
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      PutUnit(out, 0xD800 | (c >> 10));
      PutUnit(out, 0xDC00 | (c & 0x3FF));
    } else {
      PutUnit(out, c);
    }
  }
  return out;
}

// Calls f for each character of stored UTF-16LE text; a surrogate pair is one character.
template <class F>
void ForEachStoredChar(const std::vector<uint8_t>& data, F f) {
  size_t units = data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = data[2 * i] | (data[2 * i + 1] << 8);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      uint32_t v = data[2 * i + 2] | (data[2 * i + 3] << 8);
      if (v >= 0xDC00 && v < 0xE000) {
        f(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    f(u);
  }
}

std::vector<uint8_t> StoredToAnsi(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  out.reserve(data.size() / 2);
  ForEachStoredChar(data, [&](uint32_t c) { out.push_back(c <= 0xFF ? static_cast<uint8_t>(c) : '?'); });
  return out;
}

std::vector<uint8_t> StoredToWide(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  out.reserve(data.size() / 2 * sizeof(wchar_t));
  ForEachStoredChar(data, [&](uint32_t c) {
    wchar_t wc = static_cast<wchar_t>(c);
    const auto* p = reinterpret_cast<const uint8_t*>(&wc);
    out.insert(out.end(), p, p + sizeof(wchar_t));
  });
  return out;
}

// Hands data to a caller the way RegQueryValueEx does: the type always, the size always,
// the bytes only when they fit (ERROR_MORE_DATA, nothing written, otherwise).
LONG Deliver(DWORD dwType, const std::vector<uint8_t>& bytes, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpType) *lpType = dwType;
  DWORD cb = static_cast<DWORD>(bytes.size());
  if (lpData) {
    if (cb > *lpcbData) {
      *lpcbData = cb;
      return ERROR_MORE_DATA;
    }
    if (cb) std::memcpy(lpData, bytes.data(), cb);
  }
  if (lpcbData) *lpcbData = cb;
  return ERROR_SUCCESS;
}

// ---- handles ----

DWORD EffectiveAccess(REGSAM sam) {
  DWORD access = sam & ~static_cast<DWORD>(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (access & (kMaximumAllowed | kGenericAll)) access |= KEY_ALL_ACCESS;
  if (access & (kGenericRead | kGenericExecute)) access |= KEY_READ;
  if (access & kGenericWrite) access |= KEY_WRITE;
  return access;
}

bool PredefinedRoot(HKEY hKey, RegRoot* pRoot) {
  if (hKey == HKEY_LOCAL_MACHINE) *pRoot = RegRoot::kLocalMachine;
  else if (hKey == HKEY_CURRENT_USER) *pRoot = RegRoot::kCurrentUser;
  else if (hKey == HKEY_CLASSES_ROOT) *pRoot = RegRoot::kClassesRoot;
  else if (hKey == HKEY_USERS) *pRoot = RegRoot::kUsers;
  else return false;
  return true;
}

// The key behind a handle. bWrite selects the error a damaged store gives.
LONG Resolve(HKEY hKey, bool bWrite, CKeyHandle* pKey) {
  RegRoot root;
  if (PredefinedRoot(hKey, &root)) {
    pKey->path = CurrentRegistryFile();
    pKey->dwAccess = KEY_ALL_ACCESS;
    return RegStoreRoot(pKey->path, root, bWrite, &pKey->id);
  }
  auto it = g_handles.find(reinterpret_cast<ULONG_PTR>(hKey));
  if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
  *pKey = it->second;
  return ERROR_SUCCESS;
}

HKEY NewHandle(const CKeyHandle& key) {
  ULONG_PTR value = g_nextHandle;
  g_nextHandle += 4;
  g_handles[value] = key;
  return reinterpret_cast<HKEY>(value);
}

// ---- the operations, on UTF-8 names ----

LONG OpenKey(HKEY hKey, const std::string& subKey, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  std::vector<RegName> components;
  if (LONG error = SplitPath(subKey, &components)) return error;
  auto lock = Lock();
  CKeyHandle parent;
  if (LONG error = Resolve(hKey, false, &parent)) return error;
  CKeyHandle key{parent.path, 0, EffectiveAccess(samDesired)};
  if (LONG error = RegStoreOpen(parent.path, parent.id, components, false, &key.id, nullptr)) return error;
  *phkResult = NewHandle(key);
  return ERROR_SUCCESS;
}

LONG CreateKey(HKEY hKey, const std::string& subKey, REGSAM samDesired, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  std::vector<RegName> components;
  if (LONG error = SplitPath(subKey, &components)) return error;
  auto lock = Lock();
  CKeyHandle parent;
  if (LONG error = Resolve(hKey, true, &parent)) return error;
  CKeyHandle key{parent.path, 0, EffectiveAccess(samDesired)};
  DWORD dwDisposition = REG_OPENED_EXISTING_KEY;
  LONG error = RegStoreOpen(parent.path, parent.id, components, false, &key.id, nullptr);
  if (error == ERROR_FILE_NOT_FOUND) {
    // Creating a key takes the right to create subkeys; opening an existing one does not.
    if (!(parent.dwAccess & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    error = RegStoreOpen(parent.path, parent.id, components, true, &key.id, &dwDisposition);
  }
  if (error) return error;
  *phkResult = NewHandle(key);
  if (lpdwDisposition) *lpdwDisposition = dwDisposition;
  return ERROR_SUCCESS;
}

enum class Form { kAnsi, kWide };

LONG QueryValue(HKEY hKey, const std::string& name, Form form, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  auto lock = Lock();
  CKeyHandle key;
  if (LONG error = Resolve(hKey, false, &key)) return error;
  if (!(key.dwAccess & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegValueData value;
  if (LONG error = RegStoreQueryValue(key.path, key.id, Fold(name), &value)) return error;
  if (IsStringType(value.dwType))
    value.data = form == Form::kAnsi ? StoredToAnsi(value.data) : StoredToWide(value.data);
  return Deliver(value.dwType, value.data, lpType, lpData, lpcbData);
}

LONG SetValue(HKEY hKey, const std::string& name, Form form, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (!lpData && cbData) return ERROR_NOACCESS;
  std::vector<uint8_t> converted;
  const uint8_t* pData = lpData;
  size_t cb = cbData;
  if (IsStringType(dwType) && cbData) {
    converted = form == Form::kAnsi ? AnsiToStored(lpData, cbData) : WideToStored(lpData, cbData);
    pData = converted.data();
    cb = converted.size();
  }
  auto lock = Lock();
  CKeyHandle key;
  if (LONG error = Resolve(hKey, true, &key)) return error;
  if (!(key.dwAccess & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return RegStoreSetValue(key.path, key.id, MakeName(name), dwType, pData, cb);
}

LONG DeleteKey(HKEY hKey, const std::string& subKey) {
  std::vector<RegName> components;
  if (LONG error = SplitPath(subKey, &components)) return error;
  auto lock = Lock();
  CKeyHandle parent;
  if (LONG error = Resolve(hKey, true, &parent)) return error;
  // The handle's own rights do not matter: deleting needs only the right on the key
  // deleted, which every caller has here.
  RegKeyId id = 0;
  if (LONG error = RegStoreOpen(parent.path, parent.id, components, false, &id, nullptr)) return error;
  return RegStoreDeleteKey(parent.path, id);
}

LONG DeleteValue(HKEY hKey, const std::string& name) {
  auto lock = Lock();
  CKeyHandle key;
  if (LONG error = Resolve(hKey, true, &key)) return error;
  if (!(key.dwAccess & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return RegStoreDeleteValue(key.path, key.id, Fold(name));
}

std::string Utf8(LPCSTR psz) { return psz ? AnsiToUtf8(psz) : std::string(); }
std::string Utf8(LPCWSTR psz) { return psz ? WideToUtf8(psz) : std::string(); }

void ToFileTime(int64_t ticks, PFILETIME pft) {
  pft->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  pft->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

}  // namespace

}  // namespace t32posix

using namespace t32posix;

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  return OpenKey(hKey, Utf8(lpSubKey), samDesired, phkResult);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  return OpenKey(hKey, Utf8(lpSubKey), samDesired, phkResult);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES sa, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  return CreateKey(hKey, Utf8(lpSubKey), samDesired, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES sa, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  return CreateKey(hKey, Utf8(lpSubKey), samDesired, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  return QueryValue(hKey, Utf8(lpValueName), Form::kAnsi, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  return QueryValue(hKey, Utf8(lpValueName), Form::kWide, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
  return SetValue(hKey, Utf8(lpValueName), Form::kAnsi, dwType, lpData, cbData);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
  return SetValue(hKey, Utf8(lpValueName), Form::kWide, dwType, lpData, cbData);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, Utf8(lpSubKey));
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, Utf8(lpSubKey));
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) { return DeleteValue(hKey, Utf8(lpValueName)); }

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) { return DeleteValue(hKey, Utf8(lpValueName)); }

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  auto lock = Lock();
  CKeyHandle key;
  if (LONG error = Resolve(hKey, false, &key)) return error;
  if (!(key.dwAccess & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  RegSubkey subkey;
  if (LONG error = RegStoreEnumKey(key.path, key.id, dwIndex, &subkey)) return error;
  std::string name = Utf8ToAnsi(subkey.name);
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass) {
    if (*lpcchClass < 1) return ERROR_MORE_DATA;
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) ToFileTime(subkey.llWritten, lpftLastWriteTime);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  auto lock = Lock();
  CKeyHandle key;
  if (LONG error = Resolve(hKey, false, &key)) return error;
  if (!(key.dwAccess & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegNamedValue value;
  if (LONG error = RegStoreEnumValue(key.path, key.id, dwIndex, &value)) return error;
  std::string name = Utf8ToAnsi(value.name);
  if (name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  if (IsStringType(value.value.dwType)) value.value.data = StoredToAnsi(value.value.data);
  LONG error = Deliver(value.value.dwType, value.value.data, lpType, lpData, lpcbData);
  if (error) return error;
  std::memcpy(lpValueName, name.c_str(), name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  RegRoot root;
  if (PredefinedRoot(hKey, &root)) return ERROR_SUCCESS;
  auto lock = Lock();
  return g_handles.erase(reinterpret_cast<ULONG_PTR>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"

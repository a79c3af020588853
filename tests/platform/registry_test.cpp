// The registry behaviour the system relies on: A and W forms meeting in one store, sizes
// and ERROR_MORE_DATA, 4-byte reads without type checks, deleting keys and values, the
// predefined roots, and, on Linux, a store that survives damage and concurrent writers.
// Built for Windows too and run under Wine, which holds our subset against a real one.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/fresh_root.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#endif

namespace {

// A 32-bit process on 64-bit Windows sees HKLM\Software (and parts of the classes) through
// the Wow6432Node redirection; the system's 64-bit programs, and our Linux subset, see the
// plain paths. Tests that touch those parts ask for the 64-bit view.
constexpr REGSAM kView64 = KEY_WOW64_64KEY;

// Deletes one key (ERROR_ACCESS_DENIED while it has subkeys), in the 64-bit view.
LONG DeleteKey64(HKEY hRoot, const std::string& path) {
  HKEY hKey = nullptr;
  if (LONG error = RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_ALL_ACCESS | kView64, &hKey)) return error;
  LONG error = RegDeleteKeyA(hKey, "");
  RegCloseKey(hKey);
  return error;
}

// Deletes a key and everything below it.
void DeleteTree(HKEY hRoot, const std::string& path) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_ALL_ACCESS | kView64, &hKey) != ERROR_SUCCESS) return;
  for (;;) {
    char name[256];
    DWORD cch = sizeof name;
    if (RegEnumKeyExA(hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DeleteTree(hKey, name);
  }
  RegDeleteKeyA(hKey, "");
  RegCloseKey(hKey);
}

LONG SetDword(HKEY hKey, const char* name, DWORD value) {
  return RegSetValueExA(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG SetAnsi(HKEY hKey, const char* name, const std::string& text, DWORD type = REG_SZ) {
  return RegSetValueExA(hKey, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG SetWide(HKEY hKey, const WCHAR* name, const std::wstring& text, DWORD type = REG_SZ) {
  return RegSetValueExW(hKey, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

// Each test works below its own key: a fresh root folder on Linux, a fresh key under
// HKCU\Software\Ternix32Test (and HKLM\Software\Ternix32Test where a test needs the
// machine hive) on Windows, removed afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string unique = ::testing::UnitTest::GetInstance()->current_test_info()->name();
#ifdef _WIN32
    unique += "_" + std::to_string(GetCurrentProcessId());
#endif
    for (char& c : unique)
      if (c == '/') c = '_';
    m_path = "Software\\Ternix32Test\\" + unique;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &m_hKey, &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  }

  void TearDown() override {
    if (m_hKey) RegCloseKey(m_hKey);
    for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      DeleteTree(hRoot, m_path);
      DeleteKey64(hRoot, "Software\\Ternix32Test");  // once no other test uses it
    }
    DeleteTree(HKEY_LOCAL_MACHINE, TwinPath());
    DeleteKey64(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Ternix32Test");
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey());
  }

  HKEY Create(HKEY hParent, const std::string& path, DWORD* pDisposition = nullptr, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(hParent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &hKey,
                              pDisposition),
              ERROR_SUCCESS)
        << path;
    return hKey;
  }

  std::string Leaf() const { return m_path.substr(m_path.rfind('\\') + 1); }
  std::string ClassKey() const { return "Ternix32Test." + Leaf(); }
  std::string TwinPath() const { return "SOFTWARE\\Wow6432Node\\Ternix32Test\\" + Leaf(); }

  t32test::FreshRoot m_root;  // Linux: a registry of this test's own
  HKEY m_hKey = nullptr;
  std::string m_path;
};

TEST_F(RegistryTest, CreateReportsDispositionAndMakesMissingParents) {
  DWORD disposition = 0;
  HKEY hDeep = Create(m_hKey, "a\\b\\c", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  HKEY hAgain = Create(m_hKey, "A\\B\\C", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  // Both handles name the same key: a value written through one is read through the other.
  ASSERT_EQ(SetDword(hDeep, "x", 7), ERROR_SUCCESS);
  DWORD value = 0, cb = sizeof value;
  EXPECT_EQ(RegQueryValueExA(hAgain, "X", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  RegCloseKey(hDeep);
  RegCloseKey(hAgain);

  struct Case {
    const char* path;
    LONG expected;
  } cases[] = {
      {"a\\b", ERROR_SUCCESS},           {"a\\B\\c\\", ERROR_SUCCESS},  // a trailing backslash is ignored
      {"a\\missing", ERROR_FILE_NOT_FOUND}, {"\\a", ERROR_BAD_PATHNAME},
      {"", ERROR_SUCCESS},  // the key itself
  };
  for (const Case& c : cases) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(m_hKey, c.path, 0, KEY_ALL_ACCESS, &hKey), c.expected) << c.path;
    if (c.expected == ERROR_SUCCESS) RegCloseKey(hKey);
  }
  HKEY hKey = nullptr;
  EXPECT_EQ(RegCreateKeyExA(m_hKey, "\\lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
            ERROR_BAD_PATHNAME);
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepTheFirstSpelling) {
  ASSERT_EQ(SetDword(m_hKey, "SupporBitsPerSample", 2), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(m_hKey, "SUPPORBITSPERSAMPLE", 14), ERROR_SUCCESS);
  DWORD value = 0, cb = sizeof value, type = 0;
  ASSERT_EQ(RegQueryValueExA(m_hKey, "supporbitspersample", nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 14u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(cb, 4u);

  char name[64];
  DWORD cch = sizeof name;
  ASSERT_EQ(RegEnumValueA(m_hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "SupporBitsPerSample");
  cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(m_hKey, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, DefaultValueIsTheEmptyOrNullName) {
  char text[32];
  DWORD cb = sizeof text;
  EXPECT_EQ(RegQueryValueExA(m_hKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(SetAnsi(m_hKey, "", "C:\\Drivers\\Ternix32ASIO.dll"), ERROR_SUCCESS);
  cb = sizeof text;
  ASSERT_EQ(RegQueryValueExA(m_hKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb), ERROR_SUCCESS);
  EXPECT_STREQ(text, "C:\\Drivers\\Ternix32ASIO.dll");

  WCHAR wide[32];
  cb = sizeof wide;
  ASSERT_EQ(RegQueryValueExW(m_hKey, L"", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &cb), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(wide), L"C:\\Drivers\\Ternix32ASIO.dll");
  EXPECT_EQ(RegDeleteValueW(m_hKey, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(m_hKey, "", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
}

// A value written through one form reads through the other with Windows' sizes: text is
// counted in the reader's characters, everything else byte for byte.
TEST_F(RegistryTest, AnsiAndWideFormsMeetInOneStore) {
  // Wide, with its terminating zero, as registration writes the class identifier.
  const std::wstring clsid = L"{5A0C31E4-77B2-4F1D-9C55-2B7E0A3D9F10}";
  ASSERT_EQ(SetWide(m_hKey, L"CLSID", clsid), ERROR_SUCCESS);
  char ansi[64];
  DWORD cb = sizeof ansi, type = 0;
  ASSERT_EQ(RegQueryValueExA(m_hKey, "CLSID", nullptr, &type, reinterpret_cast<BYTE*>(ansi), &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(cb, clsid.size() + 1);
  EXPECT_STREQ(ansi, "{5A0C31E4-77B2-4F1D-9C55-2B7E0A3D9F10}");
  WCHAR wide[64];
  cb = sizeof wide;
  ASSERT_EQ(RegQueryValueExW(m_hKey, L"clsid", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, (clsid.size() + 1) * sizeof(WCHAR));
  EXPECT_EQ(std::wstring(wide), clsid);

  struct Case {
    DWORD type;
    std::string ansi;  // as written through the A form, zeros included
    std::wstring wide; // as the W form reads it back
  } cases[] = {
      {REG_SZ, std::string("Apartment\0", 10), std::wstring(L"Apartment\0", 10)},
      {REG_EXPAND_SZ, std::string("%SystemRoot%\\inf\0", 17), std::wstring(L"%SystemRoot%\\inf\0", 17)},
      {REG_MULTI_SZ, std::string("one\0two\0\0", 9), std::wstring(L"one\0two\0\0", 9)},
      {REG_SZ, std::string("caf\xE9\0", 5), std::wstring(L"caf\u00E9\0", 5)},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExA(m_hKey, "v", 0, c.type, reinterpret_cast<const BYTE*>(c.ansi.data()),
                             static_cast<DWORD>(c.ansi.size())),
              ERROR_SUCCESS);
    cb = 0;
    ASSERT_EQ(RegQueryValueExW(m_hKey, L"v", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(cb, c.wide.size() * sizeof(WCHAR)) << c.ansi;
    std::vector<WCHAR> w(c.wide.size() + 1, L'#');
    cb = static_cast<DWORD>(w.size() * sizeof(WCHAR));
    ASSERT_EQ(RegQueryValueExW(m_hKey, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(w.data()), &cb), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(w.data(), cb / sizeof(WCHAR)), c.wide) << c.ansi;

    // And back: the A form gives the bytes that were written.
    std::vector<char> a(c.ansi.size() + 1, '#');
    cb = static_cast<DWORD>(a.size());
    ASSERT_EQ(RegQueryValueExA(m_hKey, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(a.data()), &cb), ERROR_SUCCESS);
    EXPECT_EQ(std::string(a.data(), cb), c.ansi);
  }

  // A character the one-byte form cannot hold reads as '?'.
  ASSERT_EQ(SetWide(m_hKey, L"name", L"\u0416ar"), ERROR_SUCCESS);
  cb = sizeof ansi;
  ASSERT_EQ(RegQueryValueExA(m_hKey, "name", nullptr, nullptr, reinterpret_cast<BYTE*>(ansi), &cb), ERROR_SUCCESS);
  EXPECT_STREQ(ansi, "?ar");

  // Binary data is not converted.
  const BYTE blob[6] = {0x10, 0x00, 0xFF, 0x7F, 0x00, 0x01};
  ASSERT_EQ(RegSetValueExW(m_hKey, L"blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  BYTE back[8] = {};
  cb = sizeof back;
  ASSERT_EQ(RegQueryValueExA(m_hKey, "blob", nullptr, &type, back, &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(cb, sizeof blob);
  EXPECT_EQ(std::memcmp(back, blob, sizeof blob), 0);
}

// The size query that precedes an allocation, and the too-small buffer: ERROR_MORE_DATA
// with the size needed, nothing written past the buffer, and the needed size then works.
TEST_F(RegistryTest, TooSmallBufferGivesMoreDataAndTheNeededSize) {
  const std::string path = "C:\\WINDOWS\\inf;C:\\Program Files\\HALVERON\\Ternix32\\Driver";
  ASSERT_EQ(SetAnsi(m_hKey, "DevicePath", path, REG_EXPAND_SZ), ERROR_SUCCESS);
  const BYTE qword[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(RegSetValueExA(m_hKey, "Q", 0, REG_QWORD, qword, sizeof qword), ERROR_SUCCESS);

  struct Case {
    const char* name;
    bool bWide;
    DWORD cbNeeded;
  } cases[] = {
      {"DevicePath", false, static_cast<DWORD>(path.size() + 1)},
      {"DevicePath", true, static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR))},
      {"Q", false, 8},
      {"Q", true, 8},
  };
  const BYTE kGuard = 0xCD;
  for (const Case& c : cases) {
    const std::wstring wideName(c.name, c.name + std::strlen(c.name));
    auto query = [&](BYTE* data, DWORD* cb, DWORD* type) {
      return c.bWide ? RegQueryValueExW(m_hKey, wideName.c_str(), nullptr, type, data, cb)
                     : RegQueryValueExA(m_hKey, c.name, nullptr, type, data, cb);
    };
    SCOPED_TRACE(std::string(c.name) + (c.bWide ? " W" : " A"));

    DWORD cb = 0, type = 0;
    ASSERT_EQ(query(nullptr, &cb, &type), ERROR_SUCCESS);
    // Windows may ask for more than the text needs when the A form converts; never less.
    if (c.bWide || std::strcmp(c.name, "Q") == 0)
      EXPECT_EQ(cb, c.cbNeeded);
    else
      EXPECT_GE(cb, c.cbNeeded);

    std::vector<BYTE> buffer(4 + 16, kGuard);
    cb = 4;
    ASSERT_EQ(query(buffer.data(), &cb, &type), ERROR_MORE_DATA);
    EXPECT_GE(cb, c.cbNeeded);
    for (size_t i = 4; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kGuard) << "byte " << i;

    buffer.assign(cb + 16, kGuard);
    DWORD cbGiven = cb;
    ASSERT_EQ(query(buffer.data(), &cb, &type), ERROR_SUCCESS);
    EXPECT_EQ(cb, c.cbNeeded);
    for (size_t i = cbGiven; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], kGuard) << "byte " << i;
  }
}

// Settings are read into 4-byte buffers without looking at the type: four bytes of any
// type are taken, anything longer fails with ERROR_MORE_DATA and leaves the default alone.
TEST_F(RegistryTest, FourByteReadsTakeAnyTypeThatFits) {
  const BYTE four[4] = {0x0E, 0, 0, 0};
  const BYTE two[2] = {0x34, 0x12};
  const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  struct Case {
    const char* name;
    DWORD type;
    const BYTE* data;
    DWORD cb;
    LONG expected;
    DWORD cbAfter;
    DWORD valueAfter;  // the buffer starts as 0xAAAAAAAA
  } cases[] = {
      {"dword", REG_DWORD, four, 4, ERROR_SUCCESS, 4, 14},
      {"binary4", REG_BINARY, four, 4, ERROR_SUCCESS, 4, 14},
      {"binary2", REG_BINARY, two, 2, ERROR_SUCCESS, 2, 0xAAAA1234},
      {"qword", REG_QWORD, eight, 8, ERROR_MORE_DATA, 8, 0xAAAAAAAA},
      {"text", REG_SZ, reinterpret_cast<const BYTE*>("44100"), 6, ERROR_MORE_DATA, 6, 0xAAAAAAAA},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExA(m_hKey, c.name, 0, c.type, c.data, c.cb), ERROR_SUCCESS);
    DWORD value = 0xAAAAAAAA, cb = sizeof value;
    EXPECT_EQ(RegQueryValueExA(m_hKey, c.name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb), c.expected)
        << c.name;
    EXPECT_EQ(cb, c.cbAfter) << c.name;
    EXPECT_EQ(value, c.valueAfter) << c.name;
  }
}

TEST_F(RegistryTest, DeletingValuesAndKeys) {
  ASSERT_EQ(SetDword(m_hKey, "CoInstallStatus", 0x50), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(m_hKey, "coinstallstatus"), ERROR_SUCCESS);
  DWORD cb = 4;
  EXPECT_EQ(RegQueryValueExA(m_hKey, "CoInstallStatus", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(m_hKey, "CoInstallStatus"), ERROR_FILE_NOT_FOUND);

  HKEY hChild = Create(m_hKey, "Ternix32\\InprocServer32");
  ASSERT_EQ(SetAnsi(hChild, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(m_hKey, "Ternix32"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyA(m_hKey, "ternix32\\inprocserver32"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(m_hKey, "Ternix32\\InprocServer32"), ERROR_FILE_NOT_FOUND);

  // The handle still open on the deleted key is dead for every use but closing.
  DWORD value = 1;
  char name[32];
  DWORD cch = sizeof name;
  HKEY hKey = nullptr;
  EXPECT_EQ(SetDword(hChild, "x", value), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(hChild, "ThreadingModel", nullptr, nullptr, nullptr, &cb), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueA(hChild, "ThreadingModel"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExA(hChild, "sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExA(hChild, nullptr, 0, KEY_ALL_ACCESS, &hKey), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumKeyExA(hChild, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(hChild), ERROR_SUCCESS);

  // A key made again under the same name starts empty.
  hChild = Create(m_hKey, "Ternix32\\InprocServer32");
  EXPECT_EQ(RegQueryValueExA(hChild, "ThreadingModel", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  RegCloseKey(hChild);

  // An empty subkey name deletes the handle's own key; roots are never deleted.
  HKEY hLeaf = Create(m_hKey, "leaf");
  EXPECT_EQ(RegDeleteKeyA(hLeaf, ""), ERROR_SUCCESS);
  RegCloseKey(hLeaf);
  EXPECT_EQ(RegOpenKeyExA(m_hKey, "leaf", 0, KEY_READ, &hKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software"), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, HandlesAreCheckedAndRootsNeedNoClosing) {
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  HKEY hKey = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_ALL_ACCESS, &hKey), ERROR_SUCCESS);

  HKEY hClosed = Create(m_hKey, "closed");
  ASSERT_EQ(RegCloseKey(hClosed), ERROR_SUCCESS);
  HKEY hBogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
  for (HKEY h : {hClosed, hBogus}) {
    DWORD cb = 4;
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(h, "x", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(h, "x", 1), ERROR_INVALID_HANDLE);
  }

  // Bad arguments.
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(hKey, "x", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(hKey, "x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  ASSERT_EQ(RegSetValueExA(hKey, "empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  // Both pointers NULL only asks whether the value exists.
  EXPECT_EQ(RegQueryValueExA(hKey, "empty", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(hKey, "none", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(hKey);
}

TEST_F(RegistryTest, HandleRightsLimitWhatItMayDo) {
  ASSERT_EQ(SetDword(m_hKey, "BufferSize", 100), ERROR_SUCCESS);
  HKEY hRead = nullptr, hWrite = nullptr;
  ASSERT_EQ(RegOpenKeyExA(m_hKey, nullptr, 0, KEY_READ, &hRead), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(m_hKey, nullptr, 0, KEY_SET_VALUE, &hWrite), ERROR_SUCCESS);
  DWORD value = 0, cb = sizeof value;
  char name[32];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegQueryValueExA(hRead, "BufferSize", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(SetDword(hRead, "BufferSize", 250), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(hRead, "BufferSize"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExA(hWrite, "BufferSize", nullptr, nullptr, nullptr, &cb), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegEnumKeyExA(hWrite, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(hWrite, "BufferSize", 250), ERROR_SUCCESS);
  RegCloseKey(hRead);
  RegCloseKey(hWrite);
}

// Registration writes class keys through HKEY_CLASSES_ROOT with the W form; they are the
// machine's classes, HKEY_LOCAL_MACHINE\Software\Classes.
TEST_F(RegistryTest, ClassesRootIsTheMachineClassesKey) {
  const std::string classKey = ClassKey();
  const std::wstring wideClassKey(classKey.begin(), classKey.end());
  HKEY hClass = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (wideClassKey + L"\\InprocServer32").c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | kView64, nullptr, &hClass, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(SetWide(hClass, nullptr, L"C:\\x64\\Ternix32ASIO.dll"), ERROR_SUCCESS);
  RegCloseKey(hClass);

  HKEY hMachine = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Classes\\" + classKey + "\\InprocServer32").c_str(), 0,
                          KEY_ALL_ACCESS | kView64, &hMachine),
            ERROR_SUCCESS);
  char text[64];
  DWORD cb = sizeof text;
  ASSERT_EQ(RegQueryValueExA(hMachine, "", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb), ERROR_SUCCESS);
  EXPECT_STREQ(text, "C:\\x64\\Ternix32ASIO.dll");
  ASSERT_EQ(SetAnsi(hMachine, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
  RegCloseKey(hMachine);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str(), 0, KEY_READ | kView64, &hClass),
            ERROR_SUCCESS);
  cb = sizeof text;
  EXPECT_EQ(RegQueryValueExA(hClass, "ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb),
            ERROR_SUCCESS);
  RegCloseKey(hClass);
  // Deleted through either root, the key is gone from both.
  EXPECT_EQ(DeleteKey64(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteKey64(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + classKey), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ | kView64, &hClass), ERROR_FILE_NOT_FOUND);
}

// The package key is read first from its main path, then from its Wow6432Node twin; the
// two are independent keys reached by plain paths.
TEST_F(RegistryTest, Wow6432NodeTwinIsAPlainPath) {
  HKEY hMain = Create(HKEY_LOCAL_MACHINE, m_path, nullptr, KEY_ALL_ACCESS | kView64);
  HKEY hTwin = Create(HKEY_LOCAL_MACHINE, TwinPath(), nullptr, KEY_ALL_ACCESS | kView64);
  ASSERT_EQ(SetAnsi(hMain, "InstallPath", "C:\\Main\\"), ERROR_SUCCESS);
  ASSERT_EQ(SetAnsi(hTwin, "InstallPath", "C:\\Twin\\"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(hTwin, "CoInstallFlags", 0x0C), ERROR_SUCCESS);
  char text[32];
  DWORD cb = sizeof text;
  ASSERT_EQ(RegQueryValueExA(hMain, "InstallPath", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "C:\\Main\\");
  EXPECT_EQ(RegQueryValueExA(hMain, "CoInstallFlags", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  DWORD flags = 0;
  cb = sizeof flags;
  ASSERT_EQ(RegQueryValueExA(hTwin, "CoInstallFlags", nullptr, nullptr, reinterpret_cast<BYTE*>(&flags), &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(flags, 0x0Cu);
  RegCloseKey(hMain);
  RegCloseKey(hTwin);
}

TEST_F(RegistryTest, EnumerationListsSubkeysAndValues) {
  for (const char* name : {"Beta", "alpha", "Gamma"}) RegCloseKey(Create(m_hKey, name));
  // Subkeys come in name order, without regard to case.
  std::vector<std::string> keys;
  for (DWORD i = 0;; ++i) {
    char name[32];
    DWORD cch = sizeof name;
    FILETIME written = {};
    LONG error = RegEnumKeyExA(m_hKey, i, name, &cch, nullptr, nullptr, nullptr, &written);
    if (error == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(error, ERROR_SUCCESS);
    EXPECT_EQ(cch, std::strlen(name));
    EXPECT_NE(written.dwHighDateTime, 0u);
    keys.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
  char small[3];
  DWORD cch = sizeof small;
  EXPECT_EQ(RegEnumKeyExA(m_hKey, 0, small, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

  ASSERT_EQ(SetAnsi(m_hKey, "UsbAudioHwID", "USB\\VID_1D6B&PID_0A32&MI_00"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(m_hKey, "CoInstallFlags", 0x3F), ERROR_SUCCESS);
  // Windows keeps values in the order written, Wine sorts them: compare as sets.
  std::vector<std::string> values;
  DWORD textIndex = 0;
  for (DWORD i = 0;; ++i) {
    char name[32];
    BYTE data[64];
    DWORD cchName = sizeof name, cb = sizeof data, type = 0;
    LONG error = RegEnumValueA(m_hKey, i, name, &cchName, nullptr, &type, data, &cb);
    if (error == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(error, ERROR_SUCCESS);
    if (std::strcmp(name, "UsbAudioHwID") == 0) {
      textIndex = i;
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_STREQ(reinterpret_cast<char*>(data), "USB\\VID_1D6B&PID_0A32&MI_00");
    } else {
      EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(cb, 4u);
    }
    values.push_back(name);
  }
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::string>{"CoInstallFlags", "UsbAudioHwID"}));

  // Data that does not fit: ERROR_MORE_DATA with the size it needs.
  char name[32];
  BYTE data[4];
  DWORD cchName = sizeof name, cb = sizeof data;
  EXPECT_EQ(RegEnumValueA(m_hKey, textIndex, name, &cchName, nullptr, nullptr, data, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, std::strlen("USB\\VID_1D6B&PID_0A32&MI_00") + 1);
}

// Several threads of one process writing and reading at once.
TEST_F(RegistryTest, ThreadsUseTheRegistryAtOnce) {
  constexpr int kThreads = 4;
  constexpr DWORD kRounds = 100;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      HKEY hKey = nullptr;
      std::string sub = "thread" + std::to_string(t);
      if (RegCreateKeyExA(m_hKey, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr)) {
        ++failures[t];
        return;
      }
      for (DWORD i = 0; i < kRounds; ++i) {
        DWORD value = 0, cb = sizeof value;
        if (SetDword(hKey, "SampleRate", i) != ERROR_SUCCESS ||
            RegQueryValueExA(hKey, "SampleRate", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb) !=
                ERROR_SUCCESS ||
            value != i)
          ++failures[t];
      }
      RegCloseKey(hKey);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

#ifndef _WIN32

// The registry of one root folder is not seen from another, and a handle keeps the key of
// the root it was opened in.
TEST_F(RegistryTest, StoreFollowsTheRootFolder) {
  ASSERT_EQ(SetDword(m_hKey, "SampleRate", 48000), ERROR_SUCCESS);
  char other[] = "/tmp/t32-registry-XXXXXX";
  ASSERT_NE(mkdtemp(other), nullptr);
  setenv("TERNIX32_ROOT", other, 1);
  HKEY hKey = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &hKey), ERROR_FILE_NOT_FOUND);
  DWORD value = 0, cb = sizeof value;
  EXPECT_EQ(RegQueryValueExA(m_hKey, "SampleRate", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 48000u);
  setenv("TERNIX32_ROOT", m_root.Path().c_str(), 1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &hKey), ERROR_SUCCESS);
  RegCloseKey(hKey);
  std::filesystem::remove_all(other);
}

// A damaged store reads as missing keys and refuses writes with an error; nothing crashes.
// Partly damaged, each value reads whole or not at all.
TEST_F(RegistryTest, DamagedStoreReadsAsMissingKeys) {
  constexpr int kKeys = 64;
  constexpr size_t kValueSize = 4096;
  auto keyName = [](int i) { return "k" + std::to_string(i); };
  for (int i = 0; i < kKeys; ++i) {
    HKEY hKey = Create(m_hKey, keyName(i));
    std::vector<BYTE> data(kValueSize, static_cast<BYTE>(i));
    ASSERT_EQ(RegSetValueExA(hKey, "Data", 0, REG_BINARY, data.data(), kValueSize), ERROR_SUCCESS);
    RegCloseKey(hKey);
  }
  RegCloseKey(m_hKey);
  m_hKey = nullptr;

  // The process lets go of a store when the root folder changes; switching away and back
  // makes the next call read what is on disk.
  auto reopen = [&] {
    char other[] = "/tmp/t32-registry-XXXXXX";
    ASSERT_NE(mkdtemp(other), nullptr);
    setenv("TERNIX32_ROOT", other, 1);
    HKEY hKey = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &hKey);
    RegCloseKey(hKey);
    std::filesystem::remove_all(other);
    setenv("TERNIX32_ROOT", m_root.Path().c_str(), 1);
  };
  reopen();
  const std::string file = m_root.Path() + "/registry/registry.db";
  std::string original;
  {
    std::ifstream in(file, std::ios::binary);
    original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(original.size(), kKeys * kValueSize);
  const size_t tenth = original.size() / 10;

  struct Damage {
    const char* what;
    std::string contents;
    bool bHeaderLost;  // the file no longer looks like a database at all
  } damages[] = {
      {"garbage", std::string(original.size(), 'X'), true},
      {"empty header", std::string(100, '\0') + original.substr(100), true},
      {"truncated", original.substr(0, original.size() / 2), false},
      {"middle overwritten",
       original.substr(0, 5 * tenth) + std::string(tenth, '\xA5') + original.substr(6 * tenth), false},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    reopen();
    std::filesystem::remove(file + "-wal");
    std::filesystem::remove(file + "-shm");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << d.contents;

    HKEY hKey = nullptr;
    if (d.bHeaderLost) {
      EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_ALL_ACCESS, &hKey), ERROR_FILE_NOT_FOUND);
      EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &hKey), ERROR_FILE_NOT_FOUND);
      DWORD cb = 0;
      EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "x", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
      EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ASIO", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                                nullptr),
                ERROR_SUCCESS);
      EXPECT_NE(SetDword(HKEY_CURRENT_USER, "x", 1), ERROR_SUCCESS);
      continue;
    }
    for (int i = 0; i < kKeys; ++i) {
      std::string path = m_path + "\\" + keyName(i);
      LONG error = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &hKey);
      if (error == ERROR_SUCCESS) {
        std::vector<BYTE> data(kValueSize);
        DWORD cb = kValueSize;
        error = RegQueryValueExA(hKey, "Data", nullptr, nullptr, data.data(), &cb);
        if (error == ERROR_SUCCESS) {
          EXPECT_EQ(cb, kValueSize);
          EXPECT_EQ(data, std::vector<BYTE>(kValueSize, static_cast<BYTE>(i))) << path;
        }
        SetDword(hKey, "x", 1);  // may fail; must not crash
        RegCloseKey(hKey);
      }
      EXPECT_TRUE(error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) << path << ": " << error;
    }
  }

  // A store removed altogether starts again empty.
  reopen();
  std::filesystem::remove(file);
  std::filesystem::remove(file + "-wal");
  std::filesystem::remove(file + "-shm");
  m_hKey = Create(HKEY_CURRENT_USER, m_path);
  EXPECT_EQ(SetDword(m_hKey, "x", 1), ERROR_SUCCESS);
}

// Two processes writing the same value at once, and a writer killed in the middle: every
// read sees one whole value, never a mix or a part. The two writers differ in type, size
// and contents, so a value put together from two writes shows.
TEST_F(RegistryTest, ConcurrentWritersNeverLeaveAHalfWrittenValue) {
  struct Writer {
    BYTE fill;
    DWORD type;
    size_t size;
  };
  const Writer kWriters[] = {{0x11, REG_BINARY, 64 * 1024}, {0x22, REG_NONE, 40 * 1024}};
  auto write = [&](HKEY hKey, const Writer& w, int round) {
    std::vector<BYTE> data(w.size, w.fill);
    data[0] = data[w.size - 1] = static_cast<BYTE>(round);  // each write differs from the one before
    return RegSetValueExA(hKey, "Blob", 0, w.type, data.data(), static_cast<DWORD>(data.size()));
  };
  auto writer = [&](const Writer& w, int rounds) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_ALL_ACCESS, &hKey)) _exit(2);
    for (int i = 0; rounds < 0 || i < rounds; ++i)
      if (write(hKey, w, i)) _exit(3);
    _exit(0);
  };
  auto checkWhole = [&] {
    std::vector<BYTE> data(64 * 1024 + 1);
    DWORD cb = static_cast<DWORD>(data.size()), type = 0;
    LONG error = RegQueryValueExA(m_hKey, "Blob", nullptr, &type, data.data(), &cb);
    if (error != ERROR_SUCCESS) {
      ADD_FAILURE() << "read failed: " << error;
      return false;
    }
    const Writer& w = data[1] == kWriters[0].fill ? kWriters[0] : kWriters[1];
    bool bWhole = type == w.type && cb == w.size && data[1] == w.fill && data[0] == data[cb - 1];
    for (size_t i = 1; bWhole && i + 1 < cb; ++i) bWhole = data[i] == w.fill;
    EXPECT_TRUE(bWhole) << "type " << type << ", " << cb << " bytes, first " << int(data[1]);
    return bWhole;
  };
  ASSERT_EQ(write(m_hKey, kWriters[0], 0), ERROR_SUCCESS);

  pid_t children[2];
  for (int c = 0; c < 2; ++c)
    if ((children[c] = fork()) == 0) writer(kWriters[c], 150);
  for (int i = 0; i < 300; ++i)
    if (!checkWhole()) break;
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  checkWhole();

  // Killed while writing, at several points: the value read afterwards is whole.
  for (int delayMs : {3, 11, 29}) {
    pid_t child = fork();
    if (child == 0) writer(kWriters[delayMs % 2], -1);
    usleep(delayMs * 1000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    checkWhole();
  }
}

#endif  // !_WIN32

}  // namespace

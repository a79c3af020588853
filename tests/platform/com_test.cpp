// GUIDs and their registry text form: every registration makes a new class identifier.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

TEST(Guids, CreatedGuidsAreUniqueAndRoundTripThroughText) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 100; ++i) {
    GUID g;
    ASSERT_EQ(CoCreateGuid(&g), S_OK);
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    EXPECT_EQ(std::wstring(text).size(), 38u);
    EXPECT_TRUE(seen.insert(text).second);
    GUID back;
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, back));
  }
}

TEST(Guids, TextFormIsBracedUpperCaseInMemoryFieldOrder) {
  const GUID g = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  WCHAR text[39];
  ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
  EXPECT_EQ(std::wstring(text), L"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  WCHAR small[38];
  EXPECT_EQ(StringFromGUID2(g, small, 38), 0);
}

TEST(Guids, MalformedTextIsRefused) {
  const wchar_t* bad[] = {L"", L"01234567-89AB-CDEF-0123-456789ABCDEF", L"{01234567-89AB-CDEF-0123-456789ABCDEG}",
                          L"{01234567-89AB-CDEF-0123-456789ABCDEF", L"{0123456789AB-CDEF-0123-456789ABCDEF-}"};
  for (const wchar_t* text : bad) {
    GUID g;
    EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING) << std::wstring(text).size();
  }
  GUID null = {1, 2, 3, {4}};
  EXPECT_EQ(CLSIDFromString(nullptr, &null), S_OK);
  EXPECT_TRUE(IsEqualGUID(null, GUID_NULL));
}

}  // namespace

namespace {

// In-process activation through the class registration, as hosts create drivers.
class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateGuid(&m_clsid), S_OK);
    StringFromGUID2(m_clsid, m_text, 39);
    m_module = LoadLibraryA("t32_module_fixture.dll");
    ASSERT_NE(m_module, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(m_module, path, MAX_PATH), 0u);
    std::wstring key = std::wstring(L"CLSID\\") + m_text + L"\\InprocServer32";
    HKEY hKey;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), DWORD(strlen(path) + 1));
    RegCloseKey(hKey);
  }
  void TearDown() override {
    std::wstring key = std::wstring(L"CLSID\\") + m_text;
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    if (m_module) FreeLibrary(m_module);
  }

  t32test::FreshRoot m_root;
  GUID m_clsid;
  WCHAR m_text[39];
  HMODULE m_module = nullptr;
};

TEST_F(Activation, RegisteredClassIsCreatedThroughItsModule) {
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(m_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CO_E_NOTINITIALIZED);
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ASSERT_EQ(CoCreateInstance(m_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            S_OK);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->Release(), 0u);

  GUID unknown;
  CoCreateGuid(&unknown);
  object = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  CoUninitialize();
}

}  // namespace

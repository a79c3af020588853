// The module as RegSvr32 and COM use it: registration keys, unregistration, the unload
// rule and the class object, loaded through LoadLibraryA like any host loads it.
#include <gtest/gtest.h>

#include <string>

#include "common/registry_names.h"
#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

typedef HRESULT(WINAPI* RegisterProc)();
typedef HRESULT(WINAPI* GetClassObjectProc)(REFCLSID, REFIID, void**);

#ifdef _WIN32
const char kModule[] = "Ternix32ASIO.dll";
#else
const char kModule[] = "libTernix32ASIO.so";
#endif

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hModule = LoadLibraryA(kModule);
    ASSERT_NE(m_hModule, nullptr) << GetLastError();
    m_pfnRegister = reinterpret_cast<RegisterProc>(GetProcAddress(m_hModule, "DllRegisterServer"));
    m_pfnUnregister = reinterpret_cast<RegisterProc>(GetProcAddress(m_hModule, "DllUnregisterServer"));
    m_pfnCanUnload = reinterpret_cast<RegisterProc>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
    m_pfnGetClassObject = reinterpret_cast<GetClassObjectProc>(GetProcAddress(m_hModule, "DllGetClassObject"));
    ASSERT_TRUE(m_pfnRegister && m_pfnUnregister && m_pfnCanUnload && m_pfnGetClassObject);
  }
  void TearDown() override {
    if (m_hModule) FreeLibrary(m_hModule);
  }

  static std::string RegisteredClsid() {
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, t32::kAsioDriverKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "";
    char text[64] = {0};
    DWORD cb = sizeof(text) - 1;
    DWORD type = 0;
    RegQueryValueExA(hKey, t32::kValueClsid, nullptr, &type, reinterpret_cast<BYTE*>(text), &cb);
    RegCloseKey(hKey);
    return text;
  }
  static std::string Value(HKEY hRoot, const std::string& key, const char* name) {
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "<no key>";
    char text[MAX_PATH] = {0};
    DWORD cb = sizeof(text) - 1;
    LONG status = RegQueryValueExA(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb);
    RegCloseKey(hKey);
    return status == ERROR_SUCCESS ? text : "<no value>";
  }
  static bool KeyExists(HKEY hRoot, const std::string& key) {
    HKEY hKey;
    if (RegOpenKeyExA(hRoot, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
  }

  t32test::FreshRoot m_root;
  HMODULE m_hModule = nullptr;
  RegisterProc m_pfnRegister = nullptr;
  RegisterProc m_pfnUnregister = nullptr;
  RegisterProc m_pfnCanUnload = nullptr;
  GetClassObjectProc m_pfnGetClassObject = nullptr;
};

TEST_F(Registration, EachRegistrationMakesANewClassAndUnregisterRemovesOnlyTheLast) {
  char modulePath[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(m_hModule, modulePath, MAX_PATH), 0u);
  ASSERT_EQ(m_pfnRegister(), S_OK);
  const std::string first = RegisteredClsid();
  ASSERT_EQ(first.size(), 38u);
  ASSERT_EQ(m_pfnRegister(), S_OK);
  const std::string second = RegisteredClsid();
  ASSERT_EQ(second.size(), 38u);
  EXPECT_NE(first, second);

  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, t32::kAsioDriverKey, t32::kValueDriver), modulePath);
  const std::string classKey = "CLSID\\" + second;
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey, t32::kValueFriendlyName), "Ternix32");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr), modulePath);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", t32::kValueThreadingModel), "Apartment");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + first));

  // The user's settings go with the registration.
  HKEY hUser;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, t32::kAsioDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hUser,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(hUser);
  EXPECT_EQ(m_pfnUnregister(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + first));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, t32::kAsioDriverKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, t32::kAsioDriverKey));
  EXPECT_EQ(m_pfnUnregister(), S_OK);  // nothing registered: still S_OK
}

TEST_F(Registration, AnyClassIdentifierGivesAFactoryAndTheUnloadRuleFollowsTheCounts) {
  EXPECT_EQ(m_pfnCanUnload(), S_OK);
  GUID never;
  CoCreateGuid(&never);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(m_pfnGetClassObject(never, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(m_pfnCanUnload(), S_FALSE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(m_pfnCanUnload(), S_FALSE);  // the lock holds it, with no object alive
  // Without the device the factory makes nothing.
  void* driver = reinterpret_cast<void*>(1);
  ASSERT_EQ(m_pfnGetClassObject(never, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, never, &driver), E_FAIL);
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(m_pfnCanUnload(), S_OK);

  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(m_pfnGetClassObject(never, IID_IUnknown, &other), S_OK);
  static_cast<IUnknown*>(other)->Release();
  EXPECT_EQ(m_pfnGetClassObject(never, never, &other), E_FAIL);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(m_pfnCanUnload(), S_OK);
}

}  // namespace

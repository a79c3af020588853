// Modules: the host loads the driver, the driver finds its own path and binds ksuser.
#include <gtest/gtest.h>

#include <cstring>

#include <string>

#include "platform/win32.h"

namespace {

typedef LONG (*AttachesProc)();
typedef HMODULE (*SelfProc)();
typedef void (*SetCounterProc)(LONG*);

const char kFixture[] = "t32_module_fixture.dll";

TEST(Modules, LoadCallsDllMainOnceAndFreeDetachesOnLastRelease) {
  HMODULE first = LoadLibraryA(kFixture);
  ASSERT_NE(first, nullptr) << GetLastError();
  HMODULE second = LoadLibraryA(kFixture);
  EXPECT_EQ(first, second);
  auto attaches = reinterpret_cast<AttachesProc>(GetProcAddress(first, "FixtureAttaches"));
  auto self = reinterpret_cast<SelfProc>(GetProcAddress(first, "FixtureSelf"));
  auto setCounter = reinterpret_cast<SetCounterProc>(GetProcAddress(first, "FixtureSetDetachCounter"));
  ASSERT_TRUE(attaches && self && setCounter);
  EXPECT_EQ(attaches(), 1);
  // The module handle DllMain received is the one LoadLibraryA returned.
  EXPECT_EQ(self(), first);

  static LONG detaches = 0;
  setCounter(&detaches);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(detaches, 0);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(detaches, 1);
}

TEST(Modules, ModuleFileNameIsTheFullPathAndCutsSafely) {
  HMODULE h = LoadLibraryA(kFixture);
  ASSERT_NE(h, nullptr);
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(h, path, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(n, std::string(path).size());
  EXPECT_NE(std::string(path).find("t32_module_fixture"), std::string::npos);
  char small[8];
  std::memset(small, 'x', sizeof(small));
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(h, small, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small[5], 'x');  // nothing written past the buffer
  char program[MAX_PATH] = {};
  EXPECT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
  FreeLibrary(h);
}

TEST(Modules, MissingModulesAndExportsFailCleanly) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("t32_no_such_module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE h = LoadLibraryA(kFixture);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetProcAddress(h, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  FreeLibrary(h);
}

}  // namespace

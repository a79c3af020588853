// Program starts: "RegSvr32.exe" registering and unregistering a module, "CMD.exe /C del",
// process handles that can be waited on and give the exit code. The same test runs under
// Wine, where the programs are Wine's own, which holds our stand-ins to their behaviour.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

const char kFixtureKey[] = "Software\\T32RegsvrFixture";

// Starts a program and waits for it; returns its exit code, or a value above 0xFFFF0000
// when it could not be started.
DWORD RunAndWait(const char* pszFile, const std::string& parameters, const char* pszVerb = "open") {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = pszVerb;
  info.lpFile = pszFile;
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExA(&info)) return 0xFFFF0000u | GetLastError();
  EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
  EXPECT_NE(info.hProcess, nullptr);
  if (!info.hProcess) return 0xFFFFFFFFu;
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  DWORD dwCode = 0xFFFFFFFFu;
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &dwCode));
  EXPECT_TRUE(CloseHandle(info.hProcess));
  return dwCode;
}

std::string FixtureModuleValue() {
  char value[MAX_PATH + 1] = {};
  DWORD cb = MAX_PATH;
  HKEY hKey;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kFixtureKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "(no key)";
  LONG status = RegQueryValueExA(hKey, "Module", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &cb);
  RegCloseKey(hKey);
  return status == ERROR_SUCCESS ? value : "(no value)";
}

std::string ModulePath(const char* pszName) {
  HMODULE h = LoadLibraryA(pszName);
  char path[MAX_PATH] = {};
  if (h) {
    GetModuleFileNameA(h, path, MAX_PATH);
    FreeLibrary(h);
  }
  return path;
}

bool FileExists(const char* pszPath) { return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES; }

class ProgramStart : public ::testing::Test {
 protected:
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kFixtureKey); }
  t32test::FreshRoot m_root;
};

TEST_F(ProgramStart, RegSvr32RegistersAndUnregistersAModuleAndReportsFailures) {
  std::string fixture = ModulePath("t32_regsvr_fixture.dll");
  ASSERT_FALSE(fixture.empty());
  const std::string quoted = "\"" + fixture + "\"";

  // The co-installer's two parameter texts: the path, then "/s"; "/u", the path, "/s".
  EXPECT_EQ(RunAndWait("RegSvr32.exe", quoted + " /s", "runas"), 0u);
  EXPECT_EQ(FixtureModuleValue(), fixture);
  EXPECT_EQ(RunAndWait("RegSvr32.exe", "/u " + quoted + " /s", "runas"), 0u);
  EXPECT_EQ(FixtureModuleValue(), "(no key)");

  // RegSvr32's exit codes: 3 the module does not load, 4 it has no such entry point.
  EXPECT_EQ(RunAndWait("regsvr32.exe", "/s \"C:\\t32-no-such-folder\\missing.dll\""), 3u);
  std::string noEntry = ModulePath("t32_module_fixture.dll");
  ASSERT_FALSE(noEntry.empty());
  EXPECT_EQ(RunAndWait("RegSvr32.exe", "/s \"" + noEntry + "\""), 4u);
}

TEST_F(ProgramStart, CmdDeletesAQuotedFileWithTheCoInstallersParameterText) {
  std::string folder = "C:\\t32-shell-" + std::to_string(GetCurrentProcessId());
  std::string file = folder + "\\New Cert.cer";
  CreateDirectoryA(folder.c_str(), nullptr);
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  ASSERT_TRUE(FileExists(file.c_str()));

  EXPECT_EQ(RunAndWait("CMD.exe", " /C del \"" + file + "\""), 0u);
  EXPECT_FALSE(FileExists(file.c_str()));
#ifdef _WIN32
  RemoveDirectoryA(folder.c_str());
#endif
}

}  // namespace

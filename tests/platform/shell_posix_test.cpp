// Program starts on Linux: how a parameter text becomes arguments, how file names find
// their programs, the start errors, process handles while the program runs and after it
// ended, and the launch log that tests of the system read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"
#include "platform/posix/test_hooks.h"
#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

using t32posix::LaunchLog;
using t32posix::SplitCommandLine;

TEST(CommandLine, SplitsAsWindowsProgramsDo) {
  struct Case {
    const char* pszText;
    std::vector<std::string> vArgs;
  } cases[] = {
      {nullptr, {}},
      {"  \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"\"C:\\Program Files\\T\\Ternix32ASIO.dll\" /s", {"C:\\Program Files\\T\\Ternix32ASIO.dll", "/s"}},
      {"/u \"C:\\x y\\a.dll\" /s", {"/u", "C:\\x y\\a.dll", "/s"}},
      {" /C del \"C:\\p\\NewCert.cer\"", {"/C", "del", "C:\\p\\NewCert.cer"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" x", {"", "x"}},
      {"C:\\dir\\ x", {"C:\\dir\\", "x"}},
      {"a\\\\\"b c\"", {"a\\b c"}},   // 2 backslashes and a quote: one backslash, quote groups
      {"a\\\\\\\"b", {"a\\\"b"}},     // 3 backslashes and a quote: one backslash, literal quote
      {"\"unterminated arg", {"unterminated arg"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.pszText), c.vArgs) << (c.pszText ? c.pszText : "(null)");
}

class PosixProgramStart : public ::testing::Test {
 protected:
  // Writes an executable shell script into a folder of the root.
  std::string Script(const std::string& relative, const std::string& body) {
    std::string path = m_root.Path() + "/" + relative;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
  }

  static HANDLE Start(const char* pszFile, const char* pszParameters, const char* pszDirectory = nullptr) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = pszFile;
    info.lpParameters = pszParameters;
    info.lpDirectory = pszDirectory;
    EXPECT_TRUE(ShellExecuteExA(&info)) << GetLastError();
    return info.hProcess;
  }

  static DWORD WaitForExit(HANDLE h) {
    EXPECT_EQ(WaitForSingleObject(h, 60000), WAIT_OBJECT_0);
    DWORD dwCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(h, &dwCode));
    CloseHandle(h);
    return dwCode;
  }

  t32test::FreshRoot m_root;
};

TEST_F(PosixProgramStart, ProcessHandleIsActiveUntilTheProgramEndsAndThenGivesItsExitCode) {
  std::string flag = m_root.Path() + "/go";
  std::string script = Script("waiter", "while [ ! -e \"$1\" ]; do sleep 0.01; done; exit 7");
  size_t nHandles = t32posix::OpenHandleCount();
  HANDLE h = Start(script.c_str(), ("\"" + flag + "\"").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(t32posix::OpenHandleCount(), nHandles + 1);
  DWORD dwCode = 0;
  EXPECT_TRUE(GetExitCodeProcess(h, &dwCode));
  EXPECT_EQ(dwCode, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  std::ofstream(flag) << "";
  EXPECT_EQ(WaitForExit(h), 7u);
  EXPECT_EQ(t32posix::OpenHandleCount(), nHandles);
}

TEST_F(PosixProgramStart, ExitCodesOfProgramsEndedBySignalsAreThoseWindowsWouldShow) {
  struct Case {
    const char* pszSignal;
    DWORD dwCode;
  } cases[] = {{"SEGV", 0xC0000005u}, {"ABRT", 3u}, {"TERM", 0xC000013Au}};
  for (const Case& c : cases) {
    std::string parameters = std::string("-c \"kill -") + c.pszSignal + " $$\"";
    HANDLE h = Start("/bin/sh", parameters.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(WaitForExit(h), c.dwCode) << c.pszSignal;
  }
}

TEST_F(PosixProgramStart, NamesFindProgramsAndDirectoriesMapBelowTheRoot) {
  // A bare "X.exe" is found as "X" in the module search folders; the directory is the
  // program's working folder.
  std::string folder = m_root.Path() + "/bin";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  Script("bin/whereami", "pwd > \"$1\"");
  setenv("T32_MODULE_PATH", folder.c_str(), 1);
  CreateDirectoryA("C:\\Work", nullptr);
  std::string out = m_root.Path() + "/c/Work/out.txt";
  EXPECT_EQ(WaitForExit(Start("C:\\Tools\\WhereAmI.exe", ("\"" + out + "\"").c_str(), "C:\\Work")), 0u);
  std::string line;
  std::getline(std::ifstream(out), line);
  EXPECT_EQ(line, m_root.Path() + "/c/Work");

  // A program file in the C: drive runs from there.
  CreateDirectoryA("C:\\Pkg", nullptr);
  Script("c/Pkg/Tool.exe", "exit 9");
  EXPECT_EQ(WaitForExit(Start("C:\\Pkg\\Tool.exe", nullptr)), 9u);
  unsetenv("T32_MODULE_PATH");
}

TEST_F(PosixProgramStart, StartsThatCannotHappenFailWithTheShellsErrors) {
  CreateDirectoryA("C:\\Pkg", nullptr);
  Script("c/Pkg/NotRunnable.exe", "exit 0");
  chmod((m_root.Path() + "/c/Pkg/NotRunnable.exe").c_str(), 0644);
  struct Case {
    const char* pszVerb;
    const char* pszFile;
    const char* pszDirectory;
    INT_PTR nShellError;
    DWORD dwError;
  } cases[] = {
      {"open", "t32-no-such-program.exe", nullptr, SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {nullptr, "", nullptr, SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {"open", "C:\\Pkg\\NotRunnable.exe", nullptr, SE_ERR_FNF, ERROR_FILE_NOT_FOUND},
      {"print", "/bin/true", nullptr, SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION},
      {"open", "/bin/true", "C:\\No Such Folder", SE_ERR_PNF, ERROR_DIRECTORY},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    HINSTANCE hResult = ShellExecuteA(nullptr, c.pszVerb, c.pszFile, nullptr, c.pszDirectory, SW_SHOWNORMAL);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(hResult), c.nShellError) << c.pszFile;
    EXPECT_EQ(GetLastError(), c.dwError) << c.pszFile;
  }
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info) - 1;
  info.lpFile = "/bin/true";
  EXPECT_FALSE(ShellExecuteExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(ShellExecuteExA(nullptr));

  // A started program's handle is not given out without SEE_MASK_NOCLOSEPROCESS.
  info.cbSize = sizeof(info);
  info.hProcess = reinterpret_cast<HANDLE>(1);
  EXPECT_TRUE(ShellExecuteExA(&info));
  EXPECT_EQ(info.hProcess, nullptr);
  EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
}

TEST_F(PosixProgramStart, CmdRunsOnlyDeleteAndFailsOtherCommandsOnceStarted) {
  EXPECT_EQ(WaitForExit(Start("cmd.exe", "/C del \"C:\\nothing here.txt\"")), 0u);
  EXPECT_EQ(WaitForExit(Start("CMD.exe", "/C copy a b")), 1u);
  EXPECT_EQ(WaitForExit(Start("C:\\Windows\\System32\\cmd.exe", nullptr)), 1u);
}

TEST_F(PosixProgramStart, EveryRequestIsLoggedWithWhatRanForIt) {
  t32posix::ClearLaunchLog();
  CreateDirectoryA("C:\\Work", nullptr);
  EXPECT_EQ(WaitForExit(Start("/bin/sh", "-c \"exit 0\"\t# tab\nand newline", "C:\\Work")), 0u);
  ShellExecuteA(nullptr, "runas", "t32-missing.exe", "\"x\" /s", nullptr, SW_SHOWNORMAL);
  std::vector<t32posix::LaunchRecord> vLog = LaunchLog();
  ASSERT_EQ(vLog.size(), 2u);
  EXPECT_EQ(vLog[0].strVerb, "");
  EXPECT_EQ(vLog[0].strFile, "/bin/sh");
  EXPECT_EQ(vLog[0].strParameters, "-c \"exit 0\"\t# tab\nand newline");
  EXPECT_EQ(vLog[0].strDirectory, "C:\\Work");
  EXPECT_EQ(vLog[0].strProgram, "/bin/sh");
  EXPECT_EQ(vLog[0].dwError, 0u);
  EXPECT_EQ(vLog[1].strVerb, "runas");
  EXPECT_EQ(vLog[1].strFile, "t32-missing.exe");
  EXPECT_EQ(vLog[1].strParameters, "\"x\" /s");
  EXPECT_EQ(vLog[1].strProgram, "");
  EXPECT_EQ(vLog[1].dwError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  t32posix::ClearLaunchLog();
  EXPECT_TRUE(LaunchLog().empty());
}

}  // namespace

// Top-level windows found by title and class across processes, as the driver finds the
// panel's window; and SetForegroundWindow's argument check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/posix/test_hooks.h"
#include "platform/posix/window_table.h"
#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

using t32posix::RegisterTestWindow;
using t32posix::UnregisterTestWindow;

const char kPanelTitle[] = "Ternix-32 Audio Control Panel";

class Windows : public ::testing::Test {
 protected:
  t32test::FreshRoot m_root;
};

TEST_F(Windows, FindsByTitleAndClassWithoutRegardToCaseNewestFirst) {
  HWND hOther = RegisterTestWindow("Other", "OtherClass");
  HWND hPanel = RegisterTestWindow(kPanelTitle, "#32770");
  ASSERT_NE(hOther, nullptr);
  ASSERT_NE(hPanel, nullptr);
  EXPECT_NE(hOther, hPanel);
  struct Case {
    const char* pszClass;
    const char* pszTitle;
    HWND hExpected;
  } cases[] = {
      {nullptr, kPanelTitle, hPanel},
      {nullptr, "TERNIX-32 AUDIO CONTROL PANEL", hPanel},
      {"#32770", nullptr, hPanel},
      {"otherclass", "other", hOther},
      {"OtherClass", kPanelTitle, nullptr},
      {nullptr, "Ternix-32 Audio Control", nullptr},
      {nullptr, nullptr, hPanel},  // the newest window is on top
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindWindowA(c.pszClass, c.pszTitle), c.hExpected)
        << (c.pszClass ? c.pszClass : "(any)") << " / " << (c.pszTitle ? c.pszTitle : "(any)");

  EXPECT_TRUE(t32posix::SetTopLevelWindowTitle(reinterpret_cast<uintptr_t>(hOther), "Renamed"));
  EXPECT_EQ(FindWindowA(nullptr, "Renamed"), hOther);
  EXPECT_TRUE(UnregisterTestWindow(hPanel));
  EXPECT_FALSE(UnregisterTestWindow(hPanel));
  EXPECT_EQ(FindWindowA(nullptr, kPanelTitle), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, nullptr), hOther);
  // Handle values are not reused, so a stale handle never names a new window.
  HWND hAgain = RegisterTestWindow(kPanelTitle);
  EXPECT_NE(hAgain, hPanel);
}

TEST_F(Windows, SetForegroundWindowAcceptsOnlyExistingWindowsAndAMissingWindowIsReported) {
  HWND hPanel = RegisterTestWindow(kPanelTitle);
  EXPECT_TRUE(SetForegroundWindow(hPanel));
  EXPECT_TRUE(IsWindow(hPanel));
  UnregisterTestWindow(hPanel);
  HWND aBad[] = {nullptr, hPanel, reinterpret_cast<HWND>(uintptr_t(0x1234)),
                 reinterpret_cast<HWND>(~uintptr_t(0))};
  for (HWND h : aBad) {
    EXPECT_FALSE(SetForegroundWindow(h)) << h;
    EXPECT_FALSE(IsWindow(h)) << h;
  }
  SetLastError(0);
  EXPECT_EQ(FindWindowA(nullptr, "No Such Window"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST_F(Windows, AnotherProcessesWindowIsFoundWhileItRunsAndGoneWhenItEnds) {
  std::string ready = m_root.Path() + "/ready";
  std::string quit = m_root.Path() + "/quit";
  std::string parameters = "\"Helper Window\" \"" + ready + "\" \"" + quit + "\"";
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = T32_WINDOW_HELPER;
  info.lpParameters = parameters.c_str();
  ASSERT_TRUE(ShellExecuteExA(&info));
  while (access(ready.c_str(), F_OK) != 0) {
    ASSERT_EQ(WaitForSingleObject(info.hProcess, 10), static_cast<DWORD>(WAIT_TIMEOUT)) << "the helper ended early";
  }
  HWND hHelper = FindWindowA(nullptr, "helper window");
  EXPECT_NE(hHelper, nullptr);
  EXPECT_TRUE(SetForegroundWindow(hHelper));

  std::ofstream(quit) << "";
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
  CloseHandle(info.hProcess);
  // The helper never took its window out: its end did.
  EXPECT_EQ(FindWindowA(nullptr, "Helper Window"), nullptr);
  EXPECT_FALSE(IsWindow(hHelper));
  HWND hMine = RegisterTestWindow("Mine");
  EXPECT_EQ(t32posix::TopLevelWindows().size(), 1u);
  EXPECT_EQ(FindWindowA(nullptr, nullptr), hMine);
}

}  // namespace

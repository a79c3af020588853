// Named file mappings: the shared status block lives in one.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/fresh_root.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

class Mappings : public ::testing::Test {
 protected:
  t32test::FreshRoot m_root;
  // Unique per test on Windows, where there is no fresh root to keep names apart.
  std::string Name(const char* suffix) {
    return std::string("T32Test_") + std::to_string(GetCurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix;
  }
};

TEST_F(Mappings, CreatedZeroFilledSharedBetweenHandlesAndGoneAfterLastClose) {
  std::string name = Name("");
  SetLastError(0);
  HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 328, name.c_str());
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  auto* a = static_cast<unsigned char*>(MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 328; ++i) ASSERT_EQ(a[i], 0) << i;

  HANDLE opened = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  auto* b = static_cast<unsigned char*>(MapViewOfFile(opened, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(b, nullptr);
  a[5] = 0x5A;
  b[327] = 0xA5;
  EXPECT_EQ(b[5], 0x5A);
  EXPECT_EQ(a[327], 0xA5);

  // Creating it again opens the existing one.
  HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 328, name.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(again);

  // The name lives while a handle does; views keep only the memory, not the name.
  EXPECT_TRUE(CloseHandle(created));
  HANDLE stillThere = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
  EXPECT_NE(stillThere, nullptr);
  CloseHandle(stillThere);
  EXPECT_TRUE(CloseHandle(opened));
  EXPECT_EQ(a[327], 0xA5);
  SetLastError(0);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(UnmapViewOfFile(a));
  EXPECT_TRUE(UnmapViewOfFile(b));
  // The next creator starts from zeros again.
  HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 328, name.c_str());
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  auto* c = static_cast<unsigned char*>(MapViewOfFile(fresh, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c[5], 0);
  UnmapViewOfFile(c);
  CloseHandle(fresh);
}

TEST_F(Mappings, BadRequestsFail) {
  SetLastError(0);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, Name("_missing").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, Name("_empty").c_str()), nullptr);
  int notAView = 0;
  EXPECT_FALSE(UnmapViewOfFile(&notAView));
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 328, Name("_small").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 4096 * 4), nullptr);  // larger than the section
  CloseHandle(h);
}

#ifndef _WIN32
TEST_F(Mappings, AnotherProcessSeesWhatThisOneWrote) {
  std::string name = Name("");
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 328, name.c_str());
  ASSERT_NE(h, nullptr);
  auto* view = static_cast<volatile DWORD*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  view[0] = 0x20120823;
  pid_t child = fork();
  if (child == 0) {
    HANDLE other = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
    auto* v = other ? static_cast<volatile DWORD*>(MapViewOfFile(other, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    int ok = v && v[0] == 0x20120823;
    if (v) v[1] = 4;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(view[1], 4u);
  UnmapViewOfFile(const_cast<DWORD*>(view));
  CloseHandle(h);
}

TEST_F(Mappings, RootFoldersKeepNamesApart) {
  HANDLE a = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 328, "Shared");
  ASSERT_NE(a, nullptr);
  t32test::FreshRoot other;
  SetLastError(0);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Shared"), nullptr);
  CloseHandle(a);
}
#endif

}  // namespace

// The shared status block: creation, the owner rule, claim and release.
#include <gtest/gtest.h>

#include <string>

#include "common/status_block_view.h"
#include "support/fresh_root.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using t32::CStatusBlockView;

const GUID kOwner = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
const GUID kOther = {0x55555555, 0x6666, 0x7777, {8, 8, 8, 8, 8, 8, 8, 8}};

class StatusBlockTest : public ::testing::Test {
 protected:
  t32test::FreshRoot m_root;
};

TEST_F(StatusBlockTest, FirstOpenerCreatesAZeroedBlockWithMagicLaterOnesOpenIt) {
  CStatusBlockView first, second;
  BOOL created = FALSE;
  ASSERT_TRUE(first.OpenOrCreate(&created));
  EXPECT_TRUE(created);
  EXPECT_TRUE(first.IsValid());
  EXPECT_EQ(first.Block()->DriverState, 0u);
  first.Block()->PreferredBits = 24;
  ASSERT_TRUE(second.OpenOrCreate(&created));
  EXPECT_FALSE(created);
  EXPECT_EQ(second.Block()->PreferredBits, 24u);
  first.Close();
  second.Close();
  // The last holder gone, the next opener starts from a fresh block.
  ASSERT_TRUE(first.OpenOrCreate(&created));
  EXPECT_TRUE(created);
  EXPECT_EQ(first.Block()->PreferredBits, 0u);
}

TEST_F(StatusBlockTest, OpenExistingNeverCreates) {
  CStatusBlockView view;
  EXPECT_FALSE(view.OpenExisting());
  EXPECT_FALSE(view.IsValid());
  EXPECT_EQ(view.Block(), nullptr);
}

TEST_F(StatusBlockTest, ClaimOnlyWhenFreeAndReleaseOnlyByTheOwner) {
  CStatusBlockView view;
  ASSERT_TRUE(view.OpenOrCreate(nullptr));
  ASSERT_TRUE(view.ClaimIfFree(kOwner));
  EXPECT_EQ(view.Block()->DriverState, 1u);
  EXPECT_EQ(view.Block()->Changed, 1u);
  EXPECT_TRUE(view.IsOwnedBy(kOwner));
  EXPECT_FALSE(view.IsOwnedBy(kOther));
  EXPECT_FALSE(view.ClaimIfFree(kOther));

  view.Block()->DriverState = 4;
  view.Block()->Changed = 0;
  view.ReleaseIfOwned(kOther);  // not the owner: nothing changes
  EXPECT_EQ(view.Block()->DriverState, 4u);
  EXPECT_EQ(view.Block()->Changed, 0u);
  view.ReleaseIfOwned(kOwner);
  EXPECT_EQ(view.Block()->DriverState, 0u);
  EXPECT_TRUE(IsEqualGUID(view.Block()->OwnerClsid, GUID_NULL));
  EXPECT_EQ(view.Block()->Changed, 1u);
  EXPECT_TRUE(view.ClaimIfFree(kOther));
}

TEST_F(StatusBlockTest, WrongMagicMakesTheBlockAbsentToEveryone) {
  CStatusBlockView view;
  ASSERT_TRUE(view.OpenOrCreate(nullptr));
  view.Block()->Magic = 0x12345678;
  EXPECT_FALSE(view.IsValid());
  EXPECT_FALSE(view.ClaimIfFree(kOwner));
  EXPECT_EQ(view.Block()->DriverState, 0u);
  view.Block()->OwnerClsid = kOwner;
  EXPECT_FALSE(view.IsOwnedBy(kOwner));
}

TEST_F(StatusBlockTest, LongDeviceNamesAreCutAndStayTerminated) {
  CStatusBlockView view;
  ASSERT_TRUE(view.OpenOrCreate(nullptr));
  const std::string longName(259, 'N');
  view.Block()->DsdMode = 0xAAAAAAAA;  // the field right after the name
  view.SetDeviceName(longName.c_str());
  EXPECT_EQ(std::string(view.Block()->DeviceName), std::string(255, 'N'));
  EXPECT_EQ(view.Block()->DsdMode, 0xAAAAAAAAu);
  view.SetDeviceName(nullptr);
  EXPECT_STREQ(view.Block()->DeviceName, "");
}

#ifndef _WIN32
TEST_F(StatusBlockTest, AnotherProcessSeesTheOwnersWrites) {
  CStatusBlockView view;
  ASSERT_TRUE(view.OpenOrCreate(nullptr));
  view.ClaimIfFree(kOwner);
  view.SetDeviceName("Ternix-32");
  pid_t child = fork();
  if (child == 0) {
    CStatusBlockView other;
    BOOL created = TRUE;
    bool ok = other.OpenOrCreate(&created) && !created && other.IsOwnedBy(kOwner) &&
              std::string(other.Block()->DeviceName) == "Ternix-32";
    if (ok) other.Block()->ShowPanel = 1;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(view.Block()->ShowPanel, 1u);
}
#endif

}  // namespace

// The trace facility: nothing at the shipped level, exact texts when raised.
#include "ks_test_support.h"

namespace kstest {
namespace {

class TraceTest : public KsTest {};

TEST_F(TraceTest, ShippedLevelEmitsNothing) {
  for (int nLevel = 1; nLevel <= 6; ++nLevel) TraceMessage(nLevel, "level %d", nLevel);
  PlugDevice();
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  CKsIrpTarget::SyncIoctl(NULL, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, nullptr);
  EXPECT_EQ(t32posix::DebugOutput(), "");
}

TEST_F(TraceTest, LevelGatesEachMessage) {
  TraceLevel = 3;
  for (int nLevel = 1; nLevel <= 6; ++nLevel) TraceMessage(nLevel, "<%d>", nLevel);
  EXPECT_EQ(t32posix::DebugOutput(), "<1><2><3>");
}

TEST_F(TraceTest, LongMessagesAreCutTo259Characters) {
  TraceLevel = 1;
  std::string strLong(400, 'a');
  TraceMessage(1, "%s", strLong.c_str());
  EXPECT_EQ(t32posix::DebugOutput(), std::string(259, 'a'));
}

TEST_F(TraceTest, EntryAndExitTexts) {
  TraceLevel = 6;
  CKsIrpTarget::SyncIoctl(INVALID_HANDLE_VALUE, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, nullptr);
  EXPECT_EQ(t32posix::DebugOutput(),
            "CKsIrpTarget::SyncIoctl() Enter"
            "CKsIrpTarget::IsValidHandle() Enter"
            "CKsIrpTarget::IsValidHandle() Leave"
            "CKsIrpTarget::SyncIoctl Invalid Handle"
            "CKsIrpTarget::SyncIoctl Leave, returning 0x80004005");

  t32posix::ClearDebugOutput();
  HRESULT hr = S_OK;
  delete new CKsAudRenFilter("\\\\?\\x", "", &hr);
  std::string strText = t32posix::DebugOutput();
  for (const char* psz : {"CKsIrpTarget::CKsIrpTarget() Enter", "CKsIrpTarget::CKsIrpTarget() Leave",
                          "CKsFilter::InternalInit() Enter", "CKsFilter::InternalInit Leave, returning 00000000",
                          "CKsAudFilter::CKsAudFilter() Enter", "CKsAudRenFilter::CKsAudRenFilter() Leave",
                          "CKsFilter::DestroyLists Leave, returning 00000000", "CKsAudRenFilter::~CKsAudRenFilter() Enter"})
    EXPECT_NE(strText.find(psz), std::string::npos) << psz;
  EXPECT_LT(strText.find("CKsAudFilter::CKsAudFilter() Enter"), strText.find("CKsAudRenFilter::CKsAudRenFilter() Enter"));

  // A node traces its construction with the result.
  t32posix::ClearDebugOutput();
  CKsNode node(KSNODETYPE_DAC, 0, &hr);
  EXPECT_EQ(t32posix::DebugOutput(), "CKsNode::CKsNode() EnterCKsNode::CKsNode Leave, returning 00000000");
}

}  // namespace
}  // namespace kstest

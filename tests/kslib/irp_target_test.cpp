// SyncIoctl and the property helpers against a device file that gives scripted answers.
#include <thread>

#include "ks_test_support.h"
#include "platform/posix/kernel_object.h"

namespace kstest {
namespace {

struct Script {
  DWORD dwError;      // 0: success
  DWORD cbReturned;   // what the device reports
  bool bPending;      // answer later through the event
};

class CScriptedFile : public t32posix::CFileObject {
 public:
  explicit CScriptedFile(Script script) : m_script(script) {}
  BOOL IoControl(DWORD dwCode, LPVOID, DWORD, LPVOID, DWORD cbOut, LPDWORD pcbReturned,
                 LPOVERLAPPED pOverlapped) override {
    ++m_nCalls;
    m_vdwCodes.push_back(dwCode);
    if (m_script.bPending) {
      t32posix::BeginOverlapped(pOverlapped);
      std::thread([pOverlapped, s = m_script] {
        t32posix::CompleteOverlapped(pOverlapped, s.dwError, s.cbReturned);
      }).detach();
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
    if (pcbReturned) *pcbReturned = m_script.cbReturned;
    if (m_script.dwError == 0) return TRUE;
    SetLastError(m_script.dwError);
    if (m_bFailOnce) m_script.dwError = 0;
    return FALSE;
  }
  Script m_script;
  bool m_bFailOnce = false;
  int m_nCalls = 0;
  std::vector<DWORD> m_vdwCodes;
};

class IrpTargetTest : public KsTest {
 protected:
  HANDLE Open(Script script, std::shared_ptr<CScriptedFile>* ppFile = nullptr) {
    auto file = std::make_shared<CScriptedFile>(script);
    if (ppFile) *ppFile = file;
    return t32posix::InsertHandle(file);
  }
};

TEST_F(IrpTargetTest, SyncIoctlOutcomes) {
  struct Case {
    const char* pszName;
    Script script;
    DWORD dwCode;
    ULONG cbOut;
    HRESULT hrExpected;
    ULONG cbExpected;
  } cases[] = {
      {"success", {0, 12, false}, IOCTL_KS_PROPERTY, 16, S_OK, 12},
      {"size query, more data", {ERROR_MORE_DATA, 96, false}, IOCTL_KS_PROPERTY, 0, S_OK, 96},
      {"size query, insufficient buffer", {ERROR_INSUFFICIENT_BUFFER, 40, false}, IOCTL_KS_PROPERTY, 0, S_OK, 40},
      {"more data with a buffer", {ERROR_MORE_DATA, 96, false}, IOCTL_KS_PROPERTY, 8, E_FAIL, 0},
      {"more data, other code", {ERROR_MORE_DATA, 96, false}, IOCTL_KS_RESET_STATE, 0, E_FAIL, 0},
      {"other error", {ERROR_GEN_FAILURE, 5, false}, IOCTL_KS_PROPERTY, 0, E_FAIL, 0},
      {"pending, completes", {0, 64, true}, IOCTL_KS_PROPERTY, 64, S_OK, 0},
      {"pending, completes with an error", {ERROR_MORE_DATA, 64, true}, IOCTL_KS_PROPERTY, 0, S_OK, 0},
  };
  for (const Case& c : cases) {
    HANDLE h = Open(c.script);
    size_t nHandles = t32posix::OpenHandleCount();
    BYTE abOut[64] = {};
    ULONG cbReturned = 0xDEAD;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, c.dwCode, abOut, 4, c.cbOut ? abOut : nullptr, c.cbOut, &cbReturned),
              c.hrExpected)
        << c.pszName;
    EXPECT_EQ(cbReturned, c.cbExpected) << c.pszName;
    EXPECT_EQ(t32posix::OpenHandleCount(), nHandles) << c.pszName << ": the event is closed";
    CloseHandle(h);
  }
}

TEST_F(IrpTargetTest, InvalidHandlesAreRefusedWithoutAnEvent) {
  size_t nHandles = t32posix::OpenHandleCount();
  ULONG cb = 7;
  for (HANDLE h : {(HANDLE)NULL, INVALID_HANDLE_VALUE}) {
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(h));
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, &cb), E_FAIL);
    HANDLE hCopy = h;
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(hCopy));
  }
  EXPECT_EQ(t32posix::OpenHandleCount(), nHandles);

  HANDLE h = Open({0, 0, false});
  EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(h));
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(h));  // a second close is harmless
}

// A size query answered late reports 0 bytes: the general getter allocates nothing, the
// pin getter refuses the answer.
TEST_F(IrpTargetTest, SizeQueryReportingZero) {
  HRESULT hr = E_FAIL;
  CKsFilter filter("\\\\?\\none", "", &hr);
  filter.m_hHandle = Open({ERROR_MORE_DATA, 0, false});
  PKSMULTIPLE_ITEM pItems = nullptr;
  EXPECT_EQ(filter.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pItems), S_OK);
  EXPECT_EQ(pItems, nullptr);
  EXPECT_EQ(filter.GetPinPropertyMulti(0, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, &pItems), E_FAIL);
  EXPECT_EQ(pItems, nullptr);
  EXPECT_EQ(filter.EnumerateNodes(), E_FAIL);
  EXPECT_EQ(LiveBlocks(), 0);
}

// Reset sends KSRESET_END even when KSRESET_BEGIN failed, and reports the second result.
TEST_F(IrpTargetTest, ResetSendsEndAfterAFailedBegin) {
  HRESULT hr = E_FAIL;
  CKsFilter filter("\\\\?\\none", "", &hr);
  CKsPin pin(&filter, 0, &hr);
  std::shared_ptr<CScriptedFile> file;
  pin.m_hHandle = Open({ERROR_GEN_FAILURE, 0, false}, &file);
  file->m_bFailOnce = true;
  TraceLevel = 1;
  EXPECT_EQ(pin.Reset(), S_OK);
  EXPECT_EQ(file->m_nCalls, 2);
  EXPECT_EQ(file->m_vdwCodes, (std::vector<DWORD>{IOCTL_KS_RESET_STATE, IOCTL_KS_RESET_STATE}));
  EXPECT_TRUE(Traced("IOCTL_KS_RESET_STATE failed"));
}

TEST(KsListTest, KeepsOrderAndNeverFreesItems) {
  int a = 1, b = 2, c = 3;
  CKsListOf<int> list;
  EXPECT_EQ(list.RemoveHead(), nullptr);
  list.AddTail(&a);
  list.AddTail(&b);
  list.AddTail(&c);
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(list.RemoveHead(), &a);
  EXPECT_EQ(list.m_pHead->pPrev, nullptr);
  EXPECT_EQ(list.RemoveHead(), &b);
  EXPECT_EQ(list.RemoveHead(), &c);
  EXPECT_EQ(list.m_pTail, nullptr);
  EXPECT_TRUE(list.IsEmpty());
}

}  // namespace
}  // namespace kstest

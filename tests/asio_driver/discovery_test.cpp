// Device discovery against emulated devices: the device ID match, the HID presence query
// with its faults, the KS filter search with its width probe and records flag, the claim
// of the status block, and allocation failures at every allocation.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "asio_driver/device_discovery.h"
#include "asio_driver/module_heap.h"
#include "common/device_table.h"
#include "emulator/emu_hid.h"
#include "emulator/emulated_device.h"
#include "kslib/kslib.h"
#include "platform/posix/test_hooks.h"
#include "support/fresh_root.h"

namespace {

using t32asio::CDeviceInfo;
using t32emu::DeviceDescription;

const GUID kClsid = {0x0E1D3A47, 0x5B2C, 0x4F61, {0x9A, 0x10, 0x3C, 0x77, 0x21, 0xD4, 0x08, 0xB5}};
const GUID kOtherClsid = {0x7F00A1C3, 0x1D2E, 0x4B3F, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

const WORD kVid = t32::kDeviceTable[0].wVendorId;
const WORD kPid = t32::kDeviceTable[0].wProductId;

std::string Path(const char* pszFormat, unsigned uVid, unsigned uPid) {
  char sz[200];
  snprintf(sz, sizeof(sz), pszFormat, uVid, uPid);
  return sz;
}

TEST(MatchDeviceIdTest, TableIdsWithAnInterfaceNumberMatch) {
  struct Case {
    std::string strPath;
    HRESULT hr;
  } aCases[] = {
      {Path("\\\\?\\usb#vid_%04x&pid_%04x&mi_00#7&2d1c3a1f&0&0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global",
            kVid, kPid),
       S_OK},
      {Path("\\\\?\\USB#VID_%04X&PID_%04X&MI_01#X", kVid, kPid), S_OK},
      {Path("\\\\?\\usb#vid_%04x&pid_%04x#7&2d1c3a1f&0&0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}", kVid, kPid),
       E_FAIL},                                                               // no MI_ part
      {Path("\\\\?\\usb#vid_%03x&pid_%04x&mi_00#x", kVid & 0xFFF, kPid), E_FAIL},  // three digits
      {Path("\\\\?\\usb#vid_%04x&pid_%03x", kVid, kPid & 0xFFF), E_FAIL},    // path ends early
      {Path("\\\\?\\usb#vid_%04x&pid_%04x&mi_00#x", kVid ^ 1, kPid), E_FAIL},     // another vendor
      {Path("\\\\?\\usb#vid_%04x&pid_%04x&mi_00#x", kVid, kPid ^ 1), E_FAIL},     // another product
      {Path("\\\\?\\usb#vid_%04x&mi_00#x", kVid, 0), E_FAIL},                     // no PID_
      {Path("\\\\?\\usb#vid_%04xg&pid_%04x&mi_00#x", kVid >> 4, kPid), E_FAIL},   // not hexadecimal
      {"", E_FAIL},
  };
  for (const Case& c : aCases) EXPECT_EQ(t32asio::MatchDeviceId(c.strPath.c_str()), c.hr) << c.strPath;
  EXPECT_EQ(t32asio::MatchDeviceId(nullptr), E_FAIL);
}

TEST(PresenceAnswerTest, FourBytesWithBit7OfByte3) {
  const BYTE abSet[20] = {0, 0, 0, 0xFC};
  const BYTE abClear[20] = {0, 0, 0, 0x7C, 0xFF};
  EXPECT_TRUE(t32asio::IsPresenceAnswer(abSet, 20));
  EXPECT_TRUE(t32asio::IsPresenceAnswer(abSet, 4));
  EXPECT_FALSE(t32asio::IsPresenceAnswer(abSet, 3));
  EXPECT_FALSE(t32asio::IsPresenceAnswer(abSet, 0));
  EXPECT_FALSE(t32asio::IsPresenceAnswer(abClear, 20));
  EXPECT_FALSE(t32asio::IsPresenceAnswer(nullptr, 20));
}

// A fresh root, the module heap with the KS layer allocating from it as inside the driver,
// and leak checks of handles and both heaps at the end.
class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t32asio::ModuleAttach(nullptr));
    KsSetAllocator(t32asio::ModuleAlloc, t32asio::ModuleFree);
    BOOL bCreated = FALSE;
    ASSERT_TRUE(m_block.OpenOrCreate(&bCreated));
    m_nHandles = t32posix::OpenHandleCount();
    m_nProcessBlocks = t32posix::HeapLiveBlocks(GetProcessHeap());
    m_nTimerPeriods = t32posix::TimerPeriodRequests();
    memset(&m_info, 0, sizeof(m_info));
  }
  void TearDown() override {
    m_vDevices.clear();
    EXPECT_EQ(t32posix::OpenHandleCount(), m_nHandles);
    m_block.Close();
    EXPECT_EQ(t32posix::HeapLiveBlocks(GetProcessHeap()), m_nProcessBlocks);
    EXPECT_EQ(t32posix::HeapLiveBlocks(t32asio::ModuleHeap()), 0u);
    while (t32posix::TimerPeriodRequests() > m_nTimerPeriods) timeEndPeriod(1);
    KsSetAllocator(NULL, NULL);
    t32asio::ModuleDetach();
  }

  t32emu::CEmulatedDevice* Plug(const DeviceDescription& desc = t32emu::Ternix32Description()) {
    m_vDevices.push_back(t32emu::Plug(desc));
    return m_vDevices.back().get();
  }
  HRESULT Discover() { return t32asio::DiscoverDevice(kClsid, &m_block, &m_info, &m_bLoaded); }
  int TimerPeriods() const { return t32posix::TimerPeriodRequests() - m_nTimerPeriods; }
  t32::StatusBlock* Block() { return m_block.Block(); }

  t32test::FreshRoot m_root;
  std::vector<std::unique_ptr<t32emu::CEmulatedDevice>> m_vDevices;
  t32::CStatusBlockView m_block;
  CDeviceInfo m_info;
  BOOL m_bLoaded = FALSE;
  size_t m_nHandles = 0;
  size_t m_nProcessBlocks = 0;
  int m_nTimerPeriods = 0;
};

// ---- the presence query ----

TEST_F(DiscoveryTest, PresenceQueryFollowsTheAnswers) {
  using Answers = std::vector<t32emu::HidAnswerDescription>;
  const t32emu::HidAnswerDescription kYes = {true, 20, 0}, kNo = {false, 20, 0};
  struct Case {
    const char* pszName;
    std::function<void(DeviceDescription&)> fnEdit;
    HRESULT hr;
    size_t nReports;  // output reports the device received: the query and the closing one
  } aCases[] = {
      {"answers", [](DeviceDescription&) {}, S_OK, 2},
      {"bit 7 clear three times", [&](DeviceDescription& d) { d.hid.vAnswers = Answers{kNo, kNo, kNo}; }, E_FAIL, 2},
      {"bit 7 on the third try", [&](DeviceDescription& d) { d.hid.vAnswers = Answers{kNo, kNo, kYes}; }, S_OK, 2},
      {"bit 7 only on a fourth answer",
       [&](DeviceDescription& d) { d.hid.vAnswers = Answers{kNo, kNo, kNo, kYes}; }, E_FAIL, 2},
      // Shorter than 4 bytes: bit 7 sits in the buffer past the count and must not count,
      // whether the read completes at once or after waiting.
      {"answers shorter than 4 bytes",
       [](DeviceDescription& d) { d.hid.vAnswers = Answers(3, {true, 3, 0}); }, E_FAIL, 2},
      {"late answers shorter than 4 bytes",
       [](DeviceDescription& d) { d.hid.vAnswers = Answers(3, {true, 3, 10}); }, E_FAIL, 2},
      {"empty answers then a full one",
       [&](DeviceDescription& d) { d.hid.vAnswers = Answers{{true, 0, 0}, kYes}; }, S_OK, 2},
      {"answer within the wait", [](DeviceDescription& d) { d.hid.vAnswers = Answers{{true, 20, 60}}; }, S_OK, 2},
      {"input reports of 19 bytes", [](DeviceDescription& d) { d.hid.wInputReportLength = 19; }, E_FAIL, 0},
      {"input reports of 21 bytes", [](DeviceDescription& d) { d.hid.wInputReportLength = 21; }, E_FAIL, 0},
      {"output reports of 28 bytes", [](DeviceDescription& d) { d.hid.wOutputReportLength = 28; }, E_FAIL, 0},
      {"output reports of 30 bytes", [](DeviceDescription& d) { d.hid.wOutputReportLength = 30; }, E_FAIL, 0},
      {"capabilities unreadable", [](DeviceDescription& d) { d.hid.bCapsReadable = false; }, E_FAIL, 0},
      {"no HID interface", [](DeviceDescription& d) { d.hid.bPresent = false; }, E_FAIL, 0},
      {"another product", [](DeviceDescription& d) { d.wProductId ^= 1; }, E_FAIL, 0},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.pszName);
    DeviceDescription desc = t32emu::Ternix32Description();
    c.fnEdit(desc);
    t32emu::CEmulatedDevice* pDevice = Plug(desc);
    EXPECT_EQ(t32asio::QueryHidPresence(), c.hr);
    std::vector<std::vector<BYTE>> vvbReports = pDevice->HidReportsWritten();
    EXPECT_EQ(vvbReports.size(), c.nReports);
    if (vvbReports.size() == 2) {
      EXPECT_EQ(vvbReports[0], t32emu::HidQueryReport());
      std::vector<BYTE> vbClosing(29, 0);
      vbClosing[3] = 0x7C;
      EXPECT_EQ(vvbReports[1], vbClosing);
    }
    m_vDevices.clear();
    EXPECT_EQ(t32posix::OpenHandleCount(), m_nHandles);
  }
  EXPECT_EQ(t32asio::QueryHidPresence(), E_FAIL);  // nothing plugged
}

// Other HID devices come first in the list: ones of another vendor, and ones of ours
// whose interface detail size lies (too small for the record's header, one byte short,
// absurdly large). Each is passed over and the device behind them is found. A size that
// is merely too large is harmless.
TEST_F(DiscoveryTest, PresenceQueryPassesOverOtherAndLyingInterfaces) {
  int nInstance = 0;
  auto Hid = [&](WORD wVendorId, LONG nSkew) {
    DeviceDescription desc = t32emu::Ternix32Description();
    desc.wVendorId = wVendorId;
    desc.vFilters.clear();
    desc.hid.nDetailSizeSkew = nSkew;
    desc.hid.strInstance = "8&" + std::to_string(10000000 + nInstance++) + "&0&0000";
    return Plug(desc);
  };
  std::vector<t32emu::CEmulatedDevice*> vSkipped;
  for (LONG nSkew : {-1000, -1, 0x7FFF0000}) {
    vSkipped.push_back(Hid(0x046D, 0));
    vSkipped.push_back(Hid(kVid, nSkew));
  }
  t32emu::CEmulatedDevice* pDevice = Hid(kVid, 0);
  EXPECT_EQ(t32asio::QueryHidPresence(), S_OK);
  EXPECT_EQ(pDevice->HidReportsWritten().size(), 2u);
  for (t32emu::CEmulatedDevice* pSkipped : vSkipped) EXPECT_TRUE(pSkipped->HidReportsWritten().empty());

  m_vDevices.clear();
  Hid(kVid, 100);
  EXPECT_EQ(t32asio::QueryHidPresence(), S_OK);
}

// ---- discovery ----

TEST_F(DiscoveryTest, PresentDeviceIsFoundAndClaimsTheBlock) {
  t32emu::CEmulatedDevice* pDevice = Plug();
  ASSERT_EQ(Discover(), S_OK);
  EXPECT_TRUE(m_bLoaded);
  EXPECT_EQ(m_info.m_bWidthMask, 0x0E);
  EXPECT_EQ(m_info.m_bRecords, 1);
  EXPECT_STREQ(m_info.m_szSymbolicLink, pDevice->InterfacePath(0, KSCATEGORY_AUDIO).c_str());
  EXPECT_STREQ(m_info.m_szDeviceName, "Ternix-32 Audio");
  EXPECT_EQ(Block()->DriverState, 1u);
  EXPECT_TRUE(IsEqualGUID(Block()->OwnerClsid, kClsid));
  EXPECT_EQ(Block()->Changed, 1u);
  EXPECT_STREQ(Block()->DeviceName, "Ternix-32 Audio");
  EXPECT_EQ(TimerPeriods(), 1);
}

TEST_F(DiscoveryTest, AbsentDeviceLeavesEverythingAlone) {
  ASSERT_EQ(Discover(), E_FAIL);
  EXPECT_FALSE(m_bLoaded);
  EXPECT_EQ(Block()->DriverState, 0u);
  EXPECT_TRUE(IsEqualGUID(Block()->OwnerClsid, GUID_NULL));
  EXPECT_EQ(Block()->Changed, 0u);
  EXPECT_EQ(TimerPeriods(), 0);
}

// The one test that costs the full waits: three reads of 5 s each that never complete.
TEST_F(DiscoveryTest, SilentHidInterfaceIsAbsent) {
  DeviceDescription desc = t32emu::Ternix32Description();
  desc.hid.vAnswers.clear();
  t32emu::CEmulatedDevice* pDevice = Plug(desc);
  ASSERT_EQ(Discover(), E_FAIL);
  EXPECT_FALSE(m_bLoaded);
  EXPECT_TRUE(IsEqualGUID(Block()->OwnerClsid, GUID_NULL));
  EXPECT_EQ(pDevice->HidReportsWritten().size(), 2u);  // the query and the closing report
  EXPECT_EQ(TimerPeriods(), 0);
}

// The HID interface answers but no KS filter qualifies: the object is LOADED and has
// claimed the block (its destruction gives it back), and discovery fails.
TEST_F(DiscoveryTest, AnsweringDeviceWithoutItsFilterFailsAfterTheClaim) {
  DeviceDescription desc = t32emu::Ternix32Description();
  desc.vFilters[0].vInterfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE}};  // no render alias
  Plug(desc);
  ASSERT_EQ(Discover(), E_FAIL);
  EXPECT_TRUE(m_bLoaded);
  EXPECT_TRUE(m_block.IsOwnedBy(kClsid));
  EXPECT_EQ(Block()->DeviceName[0], 0);
  EXPECT_EQ(TimerPeriods(), 0);
}

// Filters of one device, in enumeration order, and what discovery makes of them.
TEST_F(DiscoveryTest, FilterSearchAndWidthProbe) {
  auto Ranges = [](std::vector<ULONG> vBits) {
    std::vector<t32emu::RangeDescription> vRanges;
    for (ULONG ulBits : vBits) {
      t32emu::RangeDescription range;
      range.ulMinimumBits = range.ulMaximumBits = ulBits;
      vRanges.push_back(range);
    }
    return vRanges;
  };
  // A filter with a render pin of the given widths and, when vCaptureBits is not empty, a
  // capture pin of those.
  auto Filter = [&](const char* pszReference, const char* pszName, std::vector<ULONG> vRenderBits,
                    std::vector<ULONG> vCaptureBits) {
    t32emu::FilterDescription filter = t32emu::Ternix32Description().vFilters[0];
    filter.strReference = pszReference;
    filter.strFriendlyName = pszName;
    filter.vPins = {t32emu::StreamingPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK, Ranges(vRenderBits))};
    if (!vCaptureBits.empty())
      filter.vPins.push_back(t32emu::StreamingPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK, Ranges(vCaptureBits)));
    return filter;
  };
  t32emu::FilterDescription noPins = Filter("nopins", "No pins", {16}, {});
  noPins.vPins[0].ulCommunication = KSPIN_COMMUNICATION_NONE;
  const std::string kLongName(259, 'N');

  struct Case {
    const char* pszName;
    std::vector<t32emu::FilterDescription> vFilters;
    HRESULT hr;
    size_t nTaken;  // index of the filter discovery takes
    BYTE bWidthMask;
    LONG bRecords;
    std::string strName;
  } aCases[] = {
      {"two qualifying filters: the first",
       {Filter("one", "First", {16, 24, 32}, {16, 24, 32}), Filter("two", "Second", {16}, {16})},
       S_OK, 0, 0x0E, 1, "First"},
      {"render only", {Filter("one", "Player", {16, 24, 32}, {})}, S_OK, 0, 0x0E, 0, "Player"},
      {"24-bit render only", {Filter("one", "Player", {24}, {})}, S_OK, 0, 0x04, 0, "Player"},
      {"24-bit render, 16-bit capture", {Filter("one", "Odd", {24}, {16})}, E_FAIL, 0, 0, 0, ""},
      {"only the widths both directions carry", {Filter("one", "Both", {16, 24, 32}, {24, 32})}, S_OK, 0, 0x0C, 1,
       "Both"},
      // The first filter records but does not qualify; the second one does not record.
      {"records flag of the filter taken",
       {Filter("one", "Odd", {24}, {16}), Filter("two", "Player", {32}, {})}, S_OK, 1, 0x08, 0, "Player"},
      {"no usable pins, then a good filter", {noPins, Filter("two", "Good", {16}, {16})}, S_OK, 1, 0x02, 1, "Good"},
      {"no widths of the table", {Filter("one", "Eight", {8}, {8})}, E_FAIL, 0, 0, 0, ""},
      {"no friendly name", {Filter("one", "", {16}, {16})}, S_OK, 0, 0x02, 1, "Ternix32"},
      {"long friendly name", {Filter("one", kLongName.c_str(), {16}, {})}, S_OK, 0, 0x02, 0, kLongName},
  };
  int nInstance = 0;
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.pszName);
    DeviceDescription desc = t32emu::Ternix32Description();
    desc.strFriendlyName.clear();  // so a filter without a name of its own has none
    desc.strDeviceDesc.clear();
    // Interface keys outlive their device: each case is a device of its own.
    desc.strInstance = "7&" + std::to_string(10000000 + nInstance++) + "&0&0000";
    desc.vFilters = c.vFilters;
    t32emu::CEmulatedDevice* pDevice = Plug(desc);
    memset(&m_info, 0, sizeof(m_info));
    m_block.ReleaseIfOwned(kClsid);
    EXPECT_EQ(Discover(), c.hr);
    if (c.hr == S_OK) {
      EXPECT_STREQ(m_info.m_szSymbolicLink, pDevice->InterfacePath(c.nTaken, KSCATEGORY_AUDIO).c_str());
      EXPECT_EQ(m_info.m_bWidthMask, c.bWidthMask);
      EXPECT_EQ(m_info.m_bRecords, c.bRecords);
      EXPECT_EQ(m_info.m_szDeviceName, c.strName);
      // The block's name is cut to 255 characters and stays zero-terminated.
      EXPECT_EQ(std::string(Block()->DeviceName), c.strName.substr(0, 255));
      timeEndPeriod(1);
    }
    m_vDevices.clear();
  }
}

// A block that another registration owns, or that is no valid block, is left as it is;
// discovery still finds the device.
TEST_F(DiscoveryTest, BlockOfAnotherOwnerOrWithoutMagicIsLeftAlone) {
  Plug();
  ASSERT_TRUE(m_block.ClaimIfFree(kOtherClsid));
  Block()->Changed = 0;
  Block()->DriverState = 3;
  ASSERT_EQ(Discover(), S_OK);
  EXPECT_TRUE(m_block.IsOwnedBy(kOtherClsid));
  EXPECT_EQ(Block()->DriverState, 3u);
  EXPECT_EQ(Block()->Changed, 0u);
  EXPECT_EQ(Block()->DeviceName[0], 0);
  timeEndPeriod(1);

  memset(Block(), 0, t32::kStatusBlockSize);
  Block()->Magic = 0x12345678;
  ASSERT_EQ(Discover(), S_OK);
  EXPECT_TRUE(IsEqualGUID(Block()->OwnerClsid, GUID_NULL));
  EXPECT_EQ(Block()->DriverState, 0u);
  EXPECT_EQ(Block()->DeviceName[0], 0);
  timeEndPeriod(1);

  // Without a block at all.
  EXPECT_EQ(t32asio::DiscoverDevice(kClsid, nullptr, &m_info, nullptr), S_OK);
  EXPECT_EQ(m_info.m_bWidthMask, 0x0E);
}

// Each heap allocation of a discovery fails in turn (the module heap's, the KS layer's on
// it, the HID library's). Nothing crashes or leaks; the result is E_FAIL, or the device
// as far as it could be probed: all its widths, and playback only when the failure hit
// the capture side.
TEST_F(DiscoveryTest, EachAllocationFailureIsSurvived) {
  Plug();
  int nFailures = 0, nPlaybackOnly = 0;
  for (int nAfter = 0;; ++nAfter) {
    SCOPED_TRACE(nAfter);
    m_block.ReleaseIfOwned(kClsid);
    memset(&m_info, 0, sizeof(m_info));
    t32posix::FailHeapAllocationAfter(nAfter);
    HRESULT hr = Discover();
    if (t32posix::HeapFailurePending()) {
      t32posix::FailHeapAllocationAfter(-1);
      EXPECT_EQ(hr, S_OK);  // every allocation was made: a full discovery
      EXPECT_EQ(m_info.m_bRecords, 1);
      timeEndPeriod(1);
      break;
    }
    if (hr == E_FAIL) {
      ++nFailures;
      EXPECT_EQ(TimerPeriods(), 0);
    } else {
      // The failure hit something discovery can do without: a pin it does not probe,
      // or the capture side, which then makes the device playback only.
      ASSERT_EQ(hr, S_OK);
      if (m_info.m_bRecords == 0) ++nPlaybackOnly;
      EXPECT_EQ(m_info.m_bWidthMask, 0x0E);
      EXPECT_STREQ(Block()->DeviceName, "Ternix-32 Audio");
      timeEndPeriod(1);
    }
    EXPECT_EQ(t32posix::HeapLiveBlocks(t32asio::ModuleHeap()), 0u);
    EXPECT_EQ(t32posix::HeapLiveBlocks(GetProcessHeap()), m_nProcessBlocks);
    EXPECT_EQ(t32posix::OpenHandleCount(), m_nHandles);
  }
  EXPECT_GT(nFailures, 0);
  EXPECT_GT(nPlaybackOnly, 0);
}

}  // namespace

// Device answers that lie about counts and sizes, or arrive late: the layer drops what it
// cannot use, never loops on it and never reads past its buffer (run under ASan too).
#include "ks_test_support.h"

namespace kstest {
namespace {

std::vector<BYTE> RangesAnswer(ULONG ulCount, std::vector<KSDATARANGE_AUDIO> vRanges, ULONG ulSizeField = 0) {
  std::vector<BYTE> vb(sizeof(KSMULTIPLE_ITEM) + vRanges.size() * sizeof(KSDATARANGE_AUDIO));
  KSMULTIPLE_ITEM header = {ulSizeField ? ulSizeField : (ULONG)vb.size(), ulCount};
  memcpy(vb.data(), &header, sizeof(header));
  if (!vRanges.empty()) memcpy(vb.data() + sizeof(header), vRanges.data(), vRanges.size() * sizeof(KSDATARANGE_AUDIO));
  return vb;
}

KSDATARANGE_AUDIO PcmRange(ULONG ulFormatSize = sizeof(KSDATARANGE_AUDIO)) {
  KSDATARANGE_AUDIO r;
  memset(&r, 0, sizeof(r));
  r.DataRange.FormatSize = ulFormatSize;
  r.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  r.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  r.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
  r.MaximumChannels = 2;
  r.MinimumBitsPerSample = 16;
  r.MaximumBitsPerSample = 24;
  r.MinimumSampleFrequency = 44100;
  r.MaximumSampleFrequency = 48000;
  return r;
}

class DeviceAnswersTest : public KsTest {
 protected:
  // Enumerates an audio filter whose render pin answers KSPROPERTY_PIN_DATARANGES with vb.
  std::unique_ptr<CKsAudRenFilter> WithRangesAnswer(std::vector<BYTE> vb, HRESULT* phr) {
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.vFilters[0].vPins.resize(1);
    desc.vFilters[0].vPins[0].vbRawDataRanges = std::move(vb);
    PlugDevice(desc);
    return OpenFilter<CKsAudRenFilter>(0, phr);
  }
};

TEST_F(DeviceAnswersTest, BrokenDataRangesAreDropped) {
  std::vector<BYTE> vbPastEnd = RangesAnswer(2, {PcmRange(), PcmRange()});
  KSDATARANGE_AUDIO bad = PcmRange(4096);  // runs past the answer
  memcpy(vbPastEnd.data() + sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE_AUDIO), &bad, sizeof(bad));
  std::vector<BYTE> vbHeaderOnly(sizeof(KSMULTIPLE_ITEM) + 10, 0);
  KSMULTIPLE_ITEM lying = {(ULONG)vbHeaderOnly.size(), 1000};
  memcpy(vbHeaderOnly.data(), &lying, sizeof(lying));
  struct Case {
    const char* pszName;
    std::vector<BYTE> vbAnswer;
    HRESULT hrEnumerate;
    ULONG ulKept;
  } cases[] = {
      {"well formed", RangesAnswer(2, {PcmRange(), PcmRange()}), S_OK, 2},
      {"FormatSize 0", RangesAnswer(2, {PcmRange(), PcmRange(0)}), S_OK, 1},
      {"first range FormatSize 0", RangesAnswer(1, {PcmRange(0)}), E_FAIL, 0},
      {"a range past the end", vbPastEnd, S_OK, 1},
      {"count larger than the answer", RangesAnswer(50000, {PcmRange()}), S_OK, 1},
      {"Size field larger than the answer", RangesAnswer(1, {PcmRange()}, 0x7FFFFFFF), S_OK, 1},
      {"Size field cutting the ranges", RangesAnswer(2, {PcmRange(), PcmRange()}, 8 + 88), S_OK, 1},
      {"audio range shorter than its structure", RangesAnswer(1, {PcmRange(sizeof(KSDATARANGE))}), S_OK, 0},
      {"count with no bytes behind it", vbHeaderOnly, E_FAIL, 0},
      {"answer shorter than its header", std::vector<BYTE>(5, 0xFF), E_FAIL, 0},
  };
  for (Case& c : cases) {
    t32posix::ClearDebugOutput();
    TraceLevel = 1;
    HRESULT hr = S_OK;
    auto pFilter = WithRangesAnswer(c.vbAnswer, &hr);
    EXPECT_EQ(hr, c.hrEnumerate) << c.pszName;
    ULONG ulKept = 0;
    if (!pFilter->m_listRenderSinkPins.IsEmpty())
      ulKept = static_cast<CKsAudPin*>(CKsListOf<CKsPin>::Item(pFilter->m_listRenderSinkPins.GetHead()))
                   ->m_listDataRanges.GetCount();
    EXPECT_EQ(ulKept, c.ulKept) << c.pszName;
    pFilter.reset();
    m_pDevice.reset();
  }
}

TEST_F(DeviceAnswersTest, InterfaceAndNodeCountsBeyondTheAnswerAreRefused) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  KSPIN_INTERFACE iface = desc.vFilters[0].vPins[0].vInterfaces[0];
  std::vector<BYTE> vbInterfaces(sizeof(KSMULTIPLE_ITEM) + sizeof(iface));
  KSMULTIPLE_ITEM header = {(ULONG)vbInterfaces.size(), 0x10000000};
  memcpy(vbInterfaces.data(), &header, sizeof(header));
  memcpy(vbInterfaces.data() + sizeof(header), &iface, sizeof(iface));
  desc.vFilters[0].vPins[0].vbRawInterfaces = vbInterfaces;
  std::vector<BYTE> vbNodes(sizeof(KSMULTIPLE_ITEM) + sizeof(GUID));
  header = {(ULONG)vbNodes.size(), 3};
  memcpy(vbNodes.data(), &header, sizeof(header));
  desc.vFilters[0].vbRawNodes = vbNodes;
  PlugDevice(desc);
  TraceLevel = 1;
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  CKsPin* pPin = CKsListOf<CKsPin>::Item(pFilter->m_listRenderSinkPins.GetHead());
  EXPECT_EQ(pPin->m_ulInterfaceCount, 1u);
  EXPECT_TRUE(Traced("count 268435456 exceeds the answer"));
  EXPECT_EQ(pFilter->EnumerateNodes(), E_FAIL);
  EXPECT_TRUE(pFilter->m_listNodes.IsEmpty());
}

// Size queries that report 0 bytes leave no item buffer: pins cannot be described, the
// filter is not viable, and nothing crashes or leaks.
TEST_F(DeviceAnswersTest, ZeroSizeQueriesAreRefused) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.bZeroSizeQuery = true;
  PlugDevice(desc);
  {
    HRESULT hr = S_OK;
    auto pFilter = OpenFilter<CKsAudRenFilter>(0, &hr);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(pFilter->EnumerateNodes(), E_FAIL);
  }
  EXPECT_EQ(LiveBlocks(), 0);
}

// Property requests that complete through the event: fixed-size reads and state changes
// work; multiple-item reads, whose size arrives as 0, are refused.
TEST_F(DeviceAnswersTest, PendingPropertyRequests) {
  PlugDevice();
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  CKsAudPin* pPin = static_cast<CKsAudPin*>(CKsListOf<CKsPin>::Item(pFilter->m_listRenderSinkPins.GetHead()));
  WAVEFORMATEXTENSIBLE wfx = Extensible(48000, 16, 2);
  ASSERT_EQ(pPin->SetFormat(&wfx.Format), S_OK);
  ASSERT_EQ(pPin->Instantiate(FALSE), S_OK);

  m_pDevice->SetPendingProperties(true);
  EXPECT_EQ(pPin->SetState(KSSTATE_ACQUIRE), S_OK);
  EXPECT_EQ(m_pDevice->PinState(0, 0), KSSTATE_ACQUIRE);
  ULONG ulCount = 0;
  EXPECT_EQ(pFilter->GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &ulCount, sizeof(ulCount)), S_OK);
  EXPECT_EQ(ulCount, 2u);
  PKSMULTIPLE_ITEM pItems = nullptr;
  EXPECT_EQ(pFilter->GetPinPropertyMulti(0, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, &pItems), E_FAIL);
  EXPECT_EQ(pItems, nullptr);
  HRESULT hr = S_OK;
  auto pSecond = OpenFilter<CKsAudCapFilter>(0, &hr);
  EXPECT_EQ(hr, E_FAIL);
}

}  // namespace
}  // namespace kstest

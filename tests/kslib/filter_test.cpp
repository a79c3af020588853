// Filters: construction, pin classification by data flow and communication, topology.
#include "ks_test_support.h"

namespace kstest {
namespace {

using t32emu::StreamingPin;
using t32emu::Ternix32Ranges;

// One filter with a pin of every communication kind in both directions.
t32emu::DeviceDescription MixedPins() {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  std::vector<t32emu::PinDescription>& pins = desc.vFilters[0].vPins;
  pins.clear();
  pins.push_back(StreamingPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK, Ternix32Ranges()));    // 0
  pins.push_back(StreamingPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK, Ternix32Ranges()));   // 1
  pins.push_back(StreamingPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SOURCE, Ternix32Ranges()));  // 2
  pins.push_back(StreamingPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_BOTH, Ternix32Ranges()));    // 3
  pins.push_back(StreamingPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_NONE, Ternix32Ranges()));    // 4
  pins.push_back(StreamingPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_BOTH, Ternix32Ranges()));   // 5
  return desc;
}

std::vector<ULONG> PinIds(const CKsListOf<CKsPin>& list) {
  std::vector<ULONG> v;
  for (KSLISTLINK* p = list.GetHead(); p; p = p->pNext) v.push_back(CKsListOf<CKsPin>::Item(p)->m_ulPinId);
  return v;
}

class FilterTest : public KsTest {};

TEST_F(FilterTest, ClassifiesPinsByDataFlowAndCommunication) {
  PlugDevice(MixedPins());
  struct Expect {
    std::vector<ULONG> vAll, vRenderSink, vCaptureSource, vCaptureSink, vRenderSource, vNone;
  };
  {
    auto pPlain = OpenFilter<CKsFilter>();
    Expect e{{0, 1, 2, 3, 4, 5}, {0, 3}, {5}, {1, 5}, {2, 3}, {4}};
    EXPECT_EQ(PinIds(pPlain->m_listPins), e.vAll);
    EXPECT_EQ(PinIds(pPlain->m_listRenderSinkPins), e.vRenderSink);
    EXPECT_EQ(PinIds(pPlain->m_listCaptureSourcePins), e.vCaptureSource);
    EXPECT_EQ(PinIds(pPlain->m_listCaptureSinkPins), e.vCaptureSink);
    EXPECT_EQ(PinIds(pPlain->m_listRenderSourcePins), e.vRenderSource);
    EXPECT_EQ(PinIds(pPlain->m_listNoCommunicationPins), e.vNone);
  }
  EXPECT_EQ(LiveBlocks(), 0) << "a pin in two class lists is deleted once, and everything is freed";

  TraceLevel = 1;
  auto pRender = OpenFilter<CKsAudRenFilter>();
  EXPECT_TRUE(Traced("Pin communication value doesn't make sense"));
  EXPECT_EQ(PinIds(pRender->m_listPins), (std::vector<ULONG>{0, 1, 2, 3, 5}));
  EXPECT_EQ(pRender->m_ulFilterType, (ULONG)KSFILTER_TYPE_RENDER);
  // Sink pins get the direction's class; every other combination is a plain audio pin.
  std::vector<ULONG> vTypes;
  for (KSLISTLINK* p = pRender->m_listPins.GetHead(); p; p = p->pNext)
    vTypes.push_back(CKsListOf<CKsPin>::Item(p)->m_ulPinType);
  EXPECT_EQ(vTypes, (std::vector<ULONG>{KSPIN_TYPE_RENDER, KSPIN_TYPE_CAPTURE, KSPIN_TYPE_PLAIN, KSPIN_TYPE_PLAIN,
                                        KSPIN_TYPE_PLAIN}));
  // The source pin with data flow in is never a render candidate.
  WAVEFORMATEX wfx = Pcm(48000, 24, 2);
  CKsAudPin* pViable = pRender->FindViablePin(&wfx, KSAUDPIN_CHECK_ALL);
  ASSERT_NE(pViable, nullptr);
  EXPECT_EQ(pViable->m_ulPinId, 0u);
}

TEST_F(FilterTest, AudioFilterWithOnlyUnconnectablePinsIsNotViable) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  for (auto& pin : desc.vFilters[0].vPins) pin.ulCommunication = KSPIN_COMMUNICATION_NONE;
  PlugDevice(desc);
  TraceLevel = 1;
  HRESULT hr = S_OK;
  auto pFilter = OpenFilter<CKsAudCapFilter>(0, &hr);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_TRUE(Traced("No valid pins found on the filter"));
  EXPECT_TRUE(pFilter->m_listCaptureSinkPins.IsEmpty());
}

TEST_F(FilterTest, EnumeratesTopologyNodes) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  PlugDevice(desc);
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  ASSERT_EQ(pFilter->EnumerateNodes(), S_OK);
  ASSERT_EQ(pFilter->m_listNodes.GetCount(), desc.vFilters[0].vNodes.size());
  ULONG i = 0;
  for (KSLISTLINK* p = pFilter->m_listNodes.GetHead(); p; p = p->pNext, ++i) {
    CKsNode* pNode = CKsListOf<CKsNode>::Item(p);
    EXPECT_EQ(pNode->m_ulNodeId, i);
    EXPECT_EQ(pNode->m_ulTag, 0x454E4F4Eu);
    EXPECT_TRUE(IsEqualGUID(pNode->m_guidType, desc.vFilters[0].vNodes[i]));
  }
  // Enumerating again replaces the list rather than adding to it.
  ASSERT_EQ(pFilter->EnumerateNodes(), S_OK);
  EXPECT_EQ(pFilter->m_listNodes.GetCount(), desc.vFilters[0].vNodes.size());
}

TEST_F(FilterTest, FilterWithoutNodesHasAnEmptyList) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.vFilters[0].vNodes.clear();
  PlugDevice(desc);
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  EXPECT_EQ(pFilter->EnumerateNodes(), S_OK);
  EXPECT_TRUE(pFilter->m_listNodes.IsEmpty());
}

TEST_F(FilterTest, ConstructorArguments) {
  TraceLevel = 1;
  HRESULT hr = S_OK;
  {
    CKsAudRenFilter filter(nullptr, nullptr, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
  }
  EXPECT_TRUE(Traced("pszSymbolicLink cannot be NULL"));
  EXPECT_TRUE(Traced("pszFriendlyName cannot be NULL"));

  std::string strLong(MAX_PATH, 'x');
  CKsFilter tooLong(strLong.c_str(), "name", &hr);
  EXPECT_EQ(hr, E_INVALIDARG);
  CKsFilter longName("\\\\?\\path", strLong.c_str(), &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(strlen(longName.m_szFriendlyName), (size_t)MAX_PATH - 1);

  CKsFilter missing("\\\\?\\usb#nothing#{00000000-0000-0000-0000-000000000000}\\global", "", &hr);
  EXPECT_EQ(missing.Instantiate(), E_FAIL);
  EXPECT_TRUE(Traced("CKsFilter::Instantiate: CreateFile failed for device \\\\?\\usb#nothing"));
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(missing.m_hHandle));
}

}  // namespace
}  // namespace kstest

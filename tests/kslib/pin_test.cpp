// Audio pins: what their data ranges admit, the connect request, opening and states.
#include "ks_test_support.h"

namespace kstest {
namespace {

using t32emu::RangeDescription;

class PinTest : public KsTest {
 protected:
  // A device whose render pin carries exactly these ranges; returns that pin.
  CKsAudPin* RenderPinWith(std::vector<RangeDescription> vRanges) {
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.vFilters[0].vPins[0].vRanges = std::move(vRanges);
    PlugDevice(desc);
    m_pFilter = OpenFilter<CKsAudRenFilter>();
    return m_pFilter->m_listRenderSinkPins.IsEmpty()
               ? nullptr
               : static_cast<CKsAudPin*>(CKsListOf<CKsPin>::Item(m_pFilter->m_listRenderSinkPins.GetHead()));
  }
  std::unique_ptr<CKsAudRenFilter> m_pFilter;
};

RangeDescription Range(ULONG ulChannels, ULONG ulMinBits, ULONG ulMaxBits, ULONG ulMinRate, ULONG ulMaxRate) {
  RangeDescription r;
  r.ulMaximumChannels = ulChannels;
  r.ulMinimumBits = ulMinBits;
  r.ulMaximumBits = ulMaxBits;
  r.ulMinimumRate = ulMinRate;
  r.ulMaximumRate = ulMaxRate;
  return r;
}

TEST_F(PinTest, FormatSupportByCheckFlags) {
  CKsAudPin* pPin = RenderPinWith({Range(2, 16, 32, 44100, 48000)});
  ASSERT_NE(pPin, nullptr);
  WAVEFORMATEXTENSIBLE wfxFloat = Extensible(48000, 32, 2);
  wfxFloat.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  WAVEFORMATEXTENSIBLE wfxShort = Extensible(48000, 24, 2);
  wfxShort.Format.cbSize = 0;  // claims to be extensible without the extension
  struct Case {
    const char* pszName;
    WAVEFORMATEX wfx;
    ULONG ulFlags;
    BOOL bExpected;
  } cases[] = {
      {"bits only: 24 bits whatever the rate and channels", Pcm(8000, 24, 6), KSAUDPIN_CHECK_BITS, TRUE},
      {"bits only: 8 bits", Pcm(48000, 8, 2), KSAUDPIN_CHECK_BITS, FALSE},
      {"all: rate outside", Pcm(96000, 24, 2), KSAUDPIN_CHECK_ALL, FALSE},
      {"all: fits", Pcm(44100, 16, 2), KSAUDPIN_CHECK_ALL, TRUE},
      {"channels: too many", Pcm(48000, 24, 4), KSAUDPIN_CHECK_CHANNELS, FALSE},
      {"rate only: inside", Pcm(44100, 8, 8), KSAUDPIN_CHECK_RATE, TRUE},
      {"flag 1 tests nothing", Pcm(1, 1, 99), 1, TRUE},
      {"float tag against a PCM range", [] { WAVEFORMATEX w = Pcm(48000, 32, 2); w.wFormatTag = WAVE_FORMAT_IEEE_FLOAT; return w; }(),
       KSAUDPIN_CHECK_ALL, FALSE},
  };
  for (const Case& c : cases) EXPECT_EQ(pPin->IsFormatSupported(&c.wfx, c.ulFlags), c.bExpected) << c.pszName;
  WAVEFORMATEXTENSIBLE wfxPcm = Extensible(48000, 24, 2);
  EXPECT_TRUE(pPin->IsFormatSupported(&wfxPcm.Format, KSAUDPIN_CHECK_ALL));
  EXPECT_FALSE(pPin->IsFormatSupported(&wfxFloat.Format, KSAUDPIN_CHECK_ALL));
  EXPECT_FALSE(pPin->IsFormatSupported(&wfxShort.Format, KSAUDPIN_CHECK_ALL));
  EXPECT_FALSE(pPin->IsFormatSupported(nullptr, KSAUDPIN_CHECK_ALL));
}

// Wildcard GUIDs in a saved range accept any wave format within the range's limits.
TEST_F(PinTest, WildcardRangeAcceptsAnyWaveFormatWithinItsLimits) {
  RangeDescription wild = Range(2, 16, 32, 8000, 192000);
  wild.guidSubFormat = wild.guidSpecifier = GUID_NULL;
  CKsAudPin* pPin = RenderPinWith({wild});
  ASSERT_NE(pPin, nullptr);
  ASSERT_EQ(pPin->m_listDataRanges.GetCount(), 1u);
  WAVEFORMATEX wfx = Pcm(96000, 32, 2);
  wfx.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  EXPECT_TRUE(pPin->IsFormatSupported(&wfx, KSAUDPIN_CHECK_ALL));
  wfx.nSamplesPerSec = 384000;
  EXPECT_FALSE(pPin->IsFormatSupported(&wfx, KSAUDPIN_CHECK_ALL));
  // A wildcard major format as well (such a range is only ever added by hand: the walk
  // keeps audio ranges).
  CKsListOf<KSDATARANGE_AUDIO>::Item(pPin->m_listDataRanges.GetHead())->DataRange.MajorFormat = GUID_NULL;
  wfx.nSamplesPerSec = 8000;
  EXPECT_TRUE(pPin->IsFormatSupported(&wfx, KSAUDPIN_CHECK_ALL));
}

// Until the first range with a wave-format, PCM or wildcard subformat, ranges are skipped;
// from there on every audio range is kept.
TEST_F(PinTest, DataRangeWalk) {
  RangeDescription video = Range(2, 16, 16, 48000, 48000);
  video.guidSubFormat = KSDATAFORMAT_SPECIFIER_NONE;  // not a wave format
  RangeDescription pcm = Range(2, 24, 24, 48000, 48000);
  RangeDescription later = Range(8, 32, 32, 48000, 48000);
  later.guidSubFormat = KSDATAFORMAT_SPECIFIER_NONE;
  CKsAudPin* pPin = RenderPinWith({video, pcm, later});
  ASSERT_NE(pPin, nullptr);
  ASSERT_EQ(pPin->m_listDataRanges.GetCount(), 2u);
  EXPECT_EQ(CKsListOf<KSDATARANGE_AUDIO>::Item(pPin->m_listDataRanges.GetHead())->MinimumBitsPerSample, 24u);
  EXPECT_EQ(CKsListOf<KSDATARANGE_AUDIO>::Item(pPin->m_listDataRanges.m_pTail)->MaximumChannels, 8u);
}

TEST_F(PinTest, NonAudioRangesOnly) {
  RangeDescription stream = Range(2, 16, 16, 48000, 48000);
  stream.guidMajorFormat = KSDATAFORMAT_TYPE_STREAM;
  {
    // A PCM subformat makes the range considered: the pin stands, with no audio ranges.
    CKsAudPin* pPin = RenderPinWith({stream});
    ASSERT_NE(pPin, nullptr);
    EXPECT_TRUE(pPin->m_listDataRanges.IsEmpty());
    m_pFilter.reset();
    m_pDevice.reset();
  }
  stream.guidSubFormat = KSDATAFORMAT_SPECIFIER_NONE;
  TraceLevel = 1;
  HRESULT hr = S_OK;
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.vFilters[0].vPins.resize(1);
  desc.vFilters[0].vPins[0].vRanges = {stream};
  PlugDevice(desc);
  auto pFilter = OpenFilter<CKsAudRenFilter>(0, &hr);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_TRUE(Traced("No audio dataranges on the pin"));
}

TEST_F(PinTest, SetFormatResizesTheConnectRequest) {
  CKsAudPin* pPin = RenderPinWith(t32emu::Ternix32Ranges());
  ASSERT_NE(pPin, nullptr);
  const ULONG cbBase = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);
  EXPECT_EQ(pPin->m_cbPinCreateSize, cbBase + sizeof(WAVEFORMATEX));
  EXPECT_EQ(pPin->m_pksPinCreate->Priority.PriorityClass, (ULONG)KSPRIORITY_NORMAL);
  EXPECT_EQ(pPin->m_pksPinCreate->Priority.PrioritySubClass, 1u);

  WAVEFORMATEXTENSIBLE wfx = Extensible(48000, 24, 2);
  ASSERT_EQ(pPin->SetFormat(&wfx.Format), S_OK);
  EXPECT_EQ(pPin->m_cbPinCreateSize, cbBase + sizeof(WAVEFORMATEXTENSIBLE));
  EXPECT_EQ(pPin->m_pksDataFormatWfx->FormatSize, 104u);
  EXPECT_EQ(pPin->m_pksDataFormatWfx->SampleSize, 6u);
  EXPECT_EQ(memcmp(pPin->m_pksDataFormatWfx + 1, &wfx, sizeof(wfx)), 0);
  EXPECT_EQ(pPin->m_pksPinCreate->PinId, pPin->m_ulPinId);

  WAVEFORMATEX pcm = Pcm(44100, 16, 2);
  ASSERT_EQ(pPin->SetFormat(&pcm), S_OK);
  EXPECT_EQ(pPin->m_pksDataFormatWfx->FormatSize, 82u);
  EXPECT_EQ(pPin->m_cbPinCreateSize, cbBase + sizeof(WAVEFORMATEX));

  WAVEFORMATEX flt = Pcm(48000, 32, 2);
  flt.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  ASSERT_EQ(pPin->SetFormat(&flt), S_OK);
  EXPECT_EQ(pPin->m_pksDataFormatWfx->FormatSize, 82u);
  EXPECT_TRUE(IsEqualGUID(pPin->m_pksDataFormatWfx->SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
  EXPECT_EQ(memcmp(pPin->m_pksDataFormatWfx + 1, &flt, sizeof(flt)), 0);
  EXPECT_EQ(pPin->SetFormat(nullptr), E_FAIL);
}

TEST_F(PinTest, OpensInStatesAndClosesAgain) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.vFilters[0].vPins[0].vRanges = t32emu::Ternix32Ranges(4);
  desc.vFilters[0].vPins[0].vwRefusedChannels = {2};
  PlugDevice(desc);
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  WAVEFORMATEXTENSIBLE wfx = Extensible(96000, 32, 2);
  CKsAudPin* pPin = pFilter->FindViablePin(&wfx.Format, KSAUDPIN_CHECK_ALL);
  ASSERT_NE(pPin, nullptr);

  // The device refuses two channels; four open.
  ASSERT_EQ(pPin->SetFormat(&wfx.Format), S_OK);
  EXPECT_EQ(pPin->Instantiate(FALSE), HRESULT_FROM_WIN32(ERROR_NO_MATCH));
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pPin->m_hHandle));
  wfx = Extensible(96000, 32, 4);
  ASSERT_EQ(pPin->SetFormat(&wfx.Format), S_OK);
  ASSERT_EQ(pPin->Instantiate(FALSE), S_OK);
  EXPECT_EQ(pPin->Reset(), S_OK);
  for (KSSTATE e : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN, KSSTATE_PAUSE}) {
    EXPECT_EQ(pPin->SetState(e), S_OK);
    EXPECT_EQ(pPin->m_ksState, e);
    EXPECT_EQ(m_pDevice->PinState(0, pPin->m_ulPinId), e);
  }
  pPin->ClosePin();
  EXPECT_EQ(m_pDevice->OpenPinCount(), 0u);
  ASSERT_EQ(pPin->Instantiate(FALSE), S_OK);  // again after a close
  EXPECT_EQ(m_pDevice->OpenPinCount(), 1u);
  // Looped streaming is not something the device offers.
  EXPECT_EQ(pPin->Instantiate(TRUE), HRESULT_FROM_WIN32(ERROR_NO_MATCH));
  EXPECT_EQ(pPin->m_pksPinCreate->Interface.Id, (ULONG)KSINTERFACE_STANDARD_LOOPED_STREAMING);
}

TEST_F(PinTest, ClosedPinsAndPlainPins) {
  PlugDevice();
  auto pFilter = OpenFilter<CKsAudRenFilter>();
  CKsAudPin* pPin = static_cast<CKsAudPin*>(CKsListOf<CKsPin>::Item(pFilter->m_listRenderSinkPins.GetHead()));
  TraceLevel = 1;
  pPin->ClosePin();  // never opened: nothing happens
  EXPECT_EQ(t32posix::DebugOutput(), "");
  EXPECT_EQ(pPin->SetState(KSSTATE_RUN), E_FAIL);
  EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl Invalid Handle"));
  EXPECT_TRUE(Traced("Failed to Set Pin State"));
  EXPECT_EQ(pPin->m_ksState, KSSTATE_STOP);

  HRESULT hr = E_FAIL;
  auto pPlain = OpenFilter<CKsFilter>();
  CKsPin* pPlainPin = CKsListOf<CKsPin>::Item(pPlain->m_listPins.GetHead());
  EXPECT_EQ(pPlainPin->m_pksPinCreate, nullptr);
  EXPECT_EQ(pPlainPin->Instantiate(FALSE), S_OK);
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pPlainPin->m_hHandle));
  (void)hr;
  // The properties a pin reads at construction.
  EXPECT_EQ(pPlainPin->m_ulInterfaceCount, 1u);
  EXPECT_EQ(pPlainPin->m_ulMediumCount, 1u);
  EXPECT_EQ(pPlainPin->m_ulDataRangeCount, 15u);
  EXPECT_EQ(pPlainPin->m_ksInstances.PossibleCount, 1u);
  EXPECT_TRUE(IsEqualGUID(pPlainPin->m_guidCategory, KSNODETYPE_SPEAKER));
  EXPECT_EQ(memcmp(pPlainPin->m_szName, "P\0l\0a\0y", 7), 0);
}

}  // namespace
}  // namespace kstest

// End to end through the layer alone: enumerate, open the emulated pins, run them, move
// one second of audio, and compare what the device played or delivered.
#include <algorithm>
#include <vector>

#include "emulator/test_signal.h"
#include "ks_test_support.h"

namespace kstest {
namespace {

constexpr DWORD kRate = 48000;
constexpr WORD kBits = 24;
constexpr WORD kChannels = 2;
constexpr ULONG kFramesPerPacket = 480;  // 10 ms
constexpr int kPackets = 100;            // one second
constexpr int kQueue = 4;

struct Packet {
  KSSTREAM_HEADER header;
  OVERLAPPED overlapped;
  std::vector<BYTE> vbData;
};

class StreamTest : public KsTest {
 protected:
  // Opens the viable pin for 48000 Hz / 24 bits / 2 channels of the enumerated filter.
  CKsAudPin* OpenPin(CKsFilter* pEnumerated, bool bRender) {
    WAVEFORMATEXTENSIBLE wfx = Extensible(kRate, kBits, kChannels);
    if (bRender) {
      m_pRender = OpenFilter<CKsAudRenFilter>();
      m_pPin = m_pRender->FindViablePin(&wfx.Format, KSAUDPIN_CHECK_ALL);
    } else {
      m_pCapture = OpenFilter<CKsAudCapFilter>();
      m_pPin = m_pCapture->FindViablePin(&wfx.Format, KSAUDPIN_CHECK_ALL);
    }
    EXPECT_NE(m_pPin, nullptr);
    if (!m_pPin) return nullptr;
    EXPECT_EQ(m_pPin->SetFormat(&wfx.Format), S_OK);
    EXPECT_EQ(m_pPin->Instantiate(FALSE), S_OK);
    EXPECT_EQ(m_pPin->Reset(), S_OK);
    EXPECT_EQ(m_pPin->SetState(KSSTATE_ACQUIRE), S_OK);
    EXPECT_EQ(m_pPin->SetState(KSSTATE_PAUSE), S_OK);
    return m_pPin;
  }

  void InitPackets(std::vector<Packet>& vPackets) {
    for (Packet& p : vPackets) {
      memset(&p.header, 0, sizeof(p.header));
      memset(&p.overlapped, 0, sizeof(p.overlapped));
      p.header.Size = sizeof(KSSTREAM_HEADER);
      p.header.PresentationTime.Numerator = 1;
      p.header.PresentationTime.Denominator = 1;
      p.vbData.assign(kFramesPerPacket * kChannels * kBits / 8, 0);
      p.header.Data = p.vbData.data();
      p.header.FrameExtent = (ULONG)p.vbData.size();
      p.overlapped.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
  }

  void ClosePackets(std::vector<Packet>& vPackets) {
    for (Packet& p : vPackets) CloseHandle(p.overlapped.hEvent);
  }

  void StopPin() {
    EXPECT_EQ(m_pPin->SetState(KSSTATE_PAUSE), S_OK);
    EXPECT_EQ(m_pPin->SetState(KSSTATE_ACQUIRE), S_OK);
    EXPECT_EQ(m_pPin->SetState(KSSTATE_STOP), S_OK);
    m_pPin->ClosePin();
  }

  std::unique_ptr<CKsAudRenFilter> m_pRender;
  std::unique_ptr<CKsAudCapFilter> m_pCapture;
  CKsAudPin* m_pPin = nullptr;
};

// Deterministic, non-repeating bytes, so a dropped, doubled or reordered packet shows.
std::vector<BYTE> RenderSignal(size_t cb) {
  std::vector<BYTE> vb(cb);
  uint32_t x = 0x12345678;
  for (BYTE& b : vb) {
    x = x * 1664525u + 1013904223u;
    b = (BYTE)(x >> 24);
  }
  return vb;
}

TEST_F(StreamTest, RenderedSecondIsRecordedBitExact) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.dClockSpeed = 20.0;
  PlugDevice(desc);

  // The layer's own enumeration finds the device's filter first.
  CKsEnumFilters enumerator(nullptr);
  GUID aCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
  ASSERT_EQ(enumerator.EnumFilters(aCategories, 2), S_OK);
  ASSERT_EQ(enumerator.m_listFilters.GetCount(), 1u);
  CKsFilter* pFound = CKsListOf<CKsFilter>::Item(enumerator.m_listFilters.GetHead());
  EXPECT_STRCASEEQ(pFound->m_szSymbolicLink, AudioPath().c_str());

  CKsAudPin* pPin = OpenPin(pFound, true);
  ASSERT_NE(pPin, nullptr);
  const size_t cbPacket = kFramesPerPacket * kChannels * kBits / 8;
  std::vector<BYTE> vbSignal = RenderSignal(cbPacket * kPackets);

  std::vector<Packet> vPackets(kQueue);
  InitPackets(vPackets);
  int nWritten = 0;
  auto Write = [&](Packet& p) {
    memcpy(p.vbData.data(), vbSignal.data() + nWritten * cbPacket, cbPacket);
    p.header.DataUsed = (ULONG)cbPacket;
    ++nWritten;
    return pPin->WriteData(&p.header, &p.overlapped);
  };
  for (Packet& p : vPackets) ASSERT_EQ(Write(p), S_OK);
  ASSERT_EQ(pPin->SetState(KSSTATE_RUN), S_OK);
  EXPECT_EQ(m_pDevice->PinState(0, 0), KSSTATE_RUN);

  // Packets complete in queue order, each through its own event; each is refilled.
  for (int nDone = 0; nDone < kPackets; ++nDone) {
    Packet& p = vPackets[nDone % kQueue];
    ASSERT_EQ(WaitForSingleObject(p.overlapped.hEvent, 5000), WAIT_OBJECT_0) << "packet " << nDone;
    DWORD cb = 0;
    EXPECT_TRUE(GetOverlappedResult(pPin->m_hHandle, &p.overlapped, &cb, FALSE));
    if (nWritten < kPackets) {
      ASSERT_EQ(Write(p), S_OK);
    }
  }
  StopPin();
  ClosePackets(vPackets);

  std::vector<BYTE> vbRecorded = m_pDevice->Recording(0, 0);
  ASSERT_EQ(vbRecorded.size(), vbSignal.size());
  EXPECT_TRUE(vbRecorded == vbSignal);
  WAVEFORMATEXTENSIBLE wfxRecorded;
  ASSERT_TRUE(m_pDevice->RecordingFormat(0, 0, &wfxRecorded));
  EXPECT_EQ(wfxRecorded.Format.nSamplesPerSec, kRate);
  EXPECT_EQ(wfxRecorded.Format.wBitsPerSample, kBits);
  EXPECT_EQ(m_pDevice->OpenPinCount(), 0u);
}

TEST_F(StreamTest, CapturedSecondCarriesTheTestSignal) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.dClockSpeed = 20.0;
  desc.eCaptureSource = t32emu::CaptureSource::kTestSignal;
  PlugDevice(desc);
  CKsAudPin* pPin = OpenPin(nullptr, false);
  ASSERT_NE(pPin, nullptr);
  EXPECT_EQ(pPin->m_ulPinType, (ULONG)KSPIN_TYPE_CAPTURE);

  std::vector<Packet> vPackets(kQueue);
  InitPackets(vPackets);
  for (Packet& p : vPackets) ASSERT_EQ(pPin->ReadData(&p.header, &p.overlapped), S_OK);
  ASSERT_EQ(pPin->SetState(KSSTATE_RUN), S_OK);

  std::vector<BYTE> vbCaptured;
  int nQueued = kQueue;
  for (int nDone = 0; nDone < kPackets; ++nDone) {
    Packet& p = vPackets[nDone % kQueue];
    ASSERT_EQ(WaitForSingleObject(p.overlapped.hEvent, 5000), WAIT_OBJECT_0) << "packet " << nDone;
    ASSERT_EQ(p.header.DataUsed, p.header.FrameExtent);
    vbCaptured.insert(vbCaptured.end(), p.vbData.begin(), p.vbData.begin() + p.header.DataUsed);
    if (nQueued < kPackets) {
      p.header.DataUsed = 0;
      ASSERT_EQ(pPin->ReadData(&p.header, &p.overlapped), S_OK);
      ++nQueued;
    }
  }
  StopPin();
  ClosePackets(vPackets);

  WAVEFORMATEXTENSIBLE wfx = Extensible(kRate, kBits, kChannels);
  std::vector<BYTE> vbExpected(vbCaptured.size());
  for (ULONG f = 0; f < kRate; ++f) t32emu::WriteTestSignalFrame(f, wfx, vbExpected.data() + f * wfx.Format.nBlockAlign);
  ASSERT_EQ(vbCaptured.size(), (size_t)kRate * wfx.Format.nBlockAlign);
  EXPECT_TRUE(vbCaptured == vbExpected);
}

// With the loopback source the capture pin delivers what the render pin played, frame
// for frame from the start of each stream.
TEST_F(StreamTest, LoopbackCaptureReturnsTheRenderedFrames) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.dClockSpeed = 0;  // unthrottled
  desc.eCaptureSource = t32emu::CaptureSource::kLoopback;
  PlugDevice(desc);
  const size_t cbPacket = kFramesPerPacket * kChannels * kBits / 8;
  std::vector<BYTE> vbSignal = RenderSignal(cbPacket * 3);

  CKsAudPin* pRender = OpenPin(nullptr, true);
  ASSERT_NE(pRender, nullptr);
  ASSERT_EQ(pRender->SetState(KSSTATE_RUN), S_OK);
  std::vector<Packet> vPackets(1);
  InitPackets(vPackets);
  Packet& p = vPackets[0];
  for (int i = 0; i < 3; ++i) {
    memcpy(p.vbData.data(), vbSignal.data() + i * cbPacket, cbPacket);
    p.header.DataUsed = (ULONG)cbPacket;
    ASSERT_EQ(pRender->WriteData(&p.header, &p.overlapped), S_OK);
    ASSERT_EQ(WaitForSingleObject(p.overlapped.hEvent, 2000), WAIT_OBJECT_0);
  }

  std::unique_ptr<CKsAudRenFilter> pKeepRender = std::move(m_pRender);
  CKsAudPin* pCapture = OpenPin(nullptr, false);
  ASSERT_NE(pCapture, nullptr);
  ASSERT_EQ(pCapture->SetState(KSSTATE_RUN), S_OK);
  std::vector<BYTE> vbCaptured;
  for (int i = 0; i < 4; ++i) {
    p.header.DataUsed = 0;
    ASSERT_EQ(pCapture->ReadData(&p.header, &p.overlapped), S_OK);
    ASSERT_EQ(WaitForSingleObject(p.overlapped.hEvent, 2000), WAIT_OBJECT_0);
    vbCaptured.insert(vbCaptured.end(), p.vbData.begin(), p.vbData.begin() + p.header.DataUsed);
  }
  ASSERT_EQ(vbCaptured.size(), cbPacket * 4);
  EXPECT_TRUE(std::equal(vbSignal.begin(), vbSignal.end(), vbCaptured.begin()));
  // Past what was played the loop gives silence.
  EXPECT_TRUE(std::all_of(vbCaptured.begin() + cbPacket * 3, vbCaptured.end(), [](BYTE b) { return b == 0; }));
  ClosePackets(vPackets);
}

// Stopping flushes what is queued; a stall holds completions back; after an unplug queued
// requests never complete and the handles fail.
TEST_F(StreamTest, StopStallAndUnplug) {
  PlugDevice();
  CKsAudPin* pPin = OpenPin(nullptr, true);
  ASSERT_NE(pPin, nullptr);
  std::vector<Packet> vPackets(2);
  InitPackets(vPackets);
  for (Packet& p : vPackets) {
    p.header.DataUsed = p.header.FrameExtent;
    ASSERT_EQ(pPin->WriteData(&p.header, &p.overlapped), S_OK);
  }
  ASSERT_EQ(pPin->SetState(KSSTATE_STOP), S_OK);
  for (Packet& p : vPackets) {
    ASSERT_EQ(WaitForSingleObject(p.overlapped.hEvent, 1000), WAIT_OBJECT_0);
    DWORD cb = 0;
    EXPECT_FALSE(GetOverlappedResult(pPin->m_hHandle, &p.overlapped, &cb, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_OPERATION_ABORTED);
  }
  // A stream request on a stopped pin is refused at once.
  EXPECT_EQ(pPin->WriteData(&vPackets[0].header, &vPackets[0].overlapped), E_FAIL);

  ASSERT_EQ(pPin->SetState(KSSTATE_RUN), S_OK);
  m_pDevice->SetStall(true);
  ASSERT_EQ(pPin->WriteData(&vPackets[0].header, &vPackets[0].overlapped), S_OK);
  EXPECT_EQ(WaitForSingleObject(vPackets[0].overlapped.hEvent, 50), (DWORD)WAIT_TIMEOUT);
  m_pDevice->SetStall(false);
  EXPECT_EQ(WaitForSingleObject(vPackets[0].overlapped.hEvent, 2000), WAIT_OBJECT_0);

  ASSERT_EQ(pPin->WriteData(&vPackets[1].header, &vPackets[1].overlapped), S_OK);
  m_pDevice->Unplug();
  EXPECT_EQ(WaitForSingleObject(vPackets[1].overlapped.hEvent, 100), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(pPin->WriteData(&vPackets[0].header, &vPackets[0].overlapped), E_FAIL);
  EXPECT_EQ(pPin->SetState(KSSTATE_PAUSE), E_FAIL);
  pPin->ClosePin();
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pPin->m_hHandle));
  ClosePackets(vPackets);
}

}  // namespace
}  // namespace kstest

// Stream I/O through the KS layer against the emulated device: the cost of one packet
// (WriteData or ReadData and its completion through the OVERLAPPED event) on an
// unthrottled device, and how many seconds of audio per second the device clock moves
// when it runs faster than real time.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "emulator/emulated_device.h"
#include "kslib/kslib.h"

namespace {

constexpr DWORD kRate = 48000;
constexpr WORD kBits = 24;
constexpr WORD kChannels = 2;

WAVEFORMATEXTENSIBLE Format() {
  WAVEFORMATEXTENSIBLE wfx;
  memset(&wfx, 0, sizeof(wfx));
  wfx.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfx.Format.nChannels = kChannels;
  wfx.Format.nSamplesPerSec = kRate;
  wfx.Format.wBitsPerSample = kBits;
  wfx.Format.nBlockAlign = kChannels * kBits / 8;
  wfx.Format.nAvgBytesPerSec = kRate * wfx.Format.nBlockAlign;
  wfx.Format.cbSize = 22;
  wfx.Samples.wValidBitsPerSample = kBits;
  wfx.dwChannelMask = 3;
  wfx.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return wfx;
}

struct Packet {
  KSSTREAM_HEADER header;
  OVERLAPPED overlapped;
  std::vector<BYTE> vbData;
};

// A running pin of a plugged device, with a ring of packets.
class CStreamRig {
 public:
  CStreamRig(bool bRender, double dSpeed, ULONG ulFramesPerPacket, int nPackets) : m_bRender(bRender) {
    setenv("TERNIX32_ROOT", "/tmp/t32-bench-root", 0);
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.dClockSpeed = dSpeed;
    desc.bRecord = false;
    m_pDevice = t32emu::Plug(desc);
    std::string strPath = m_pDevice->InterfacePath(0, KSCATEGORY_AUDIO);
    HRESULT hr = S_OK;
    WAVEFORMATEXTENSIBLE wfx = Format();
    if (bRender) {
      m_pRender.reset(new CKsAudRenFilter(strPath.c_str(), "", &hr));
      m_pRender->Instantiate();
      m_pRender->EnumeratePins();
      m_pPin = m_pRender->FindViablePin(&wfx.Format, KSAUDPIN_CHECK_ALL);
    } else {
      m_pCapture.reset(new CKsAudCapFilter(strPath.c_str(), "", &hr));
      m_pCapture->Instantiate();
      m_pCapture->EnumeratePins();
      m_pPin = m_pCapture->FindViablePin(&wfx.Format, KSAUDPIN_CHECK_ALL);
    }
    m_pPin->SetFormat(&wfx.Format);
    m_pPin->Instantiate(FALSE);
    m_pPin->Reset();
    m_pPin->SetState(KSSTATE_ACQUIRE);
    m_pPin->SetState(KSSTATE_PAUSE);
    m_pPin->SetState(KSSTATE_RUN);
    m_vPackets.resize(nPackets);
    for (Packet& p : m_vPackets) {
      memset(&p.header, 0, sizeof(p.header));
      memset(&p.overlapped, 0, sizeof(p.overlapped));
      p.vbData.assign(ulFramesPerPacket * wfx.Format.nBlockAlign, 0x11);
      p.header.Size = sizeof(KSSTREAM_HEADER);
      p.header.Data = p.vbData.data();
      p.header.FrameExtent = (ULONG)p.vbData.size();
      p.overlapped.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
  }
  ~CStreamRig() {
    m_pPin->SetState(KSSTATE_STOP);
    m_pPin->ClosePin();
    for (Packet& p : m_vPackets) CloseHandle(p.overlapped.hEvent);
  }
  HRESULT Queue(Packet& p) {
    if (m_bRender) {
      p.header.DataUsed = p.header.FrameExtent;
      return m_pPin->WriteData(&p.header, &p.overlapped);
    }
    p.header.DataUsed = 0;
    return m_pPin->ReadData(&p.header, &p.overlapped);
  }
  std::vector<Packet> m_vPackets;

 private:
  bool m_bRender;
  std::unique_ptr<t32emu::CEmulatedDevice> m_pDevice;
  std::unique_ptr<CKsAudRenFilter> m_pRender;
  std::unique_ptr<CKsAudCapFilter> m_pCapture;
  CKsAudPin* m_pPin = nullptr;
};

void PacketRoundTrip(benchmark::State& state, bool bRender) {
  CStreamRig rig(bRender, 0.0, (ULONG)state.range(0), 1);
  Packet& p = rig.m_vPackets[0];
  for (auto _ : state) {
    rig.Queue(p);
    WaitForSingleObject(p.overlapped.hEvent, INFINITE);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_WriteDataAndCompletion(benchmark::State& state) { PacketRoundTrip(state, true); }
void BM_ReadDataAndCompletion(benchmark::State& state) { PacketRoundTrip(state, false); }
BENCHMARK(BM_WriteDataAndCompletion)->Arg(256)->Arg(4800);
BENCHMARK(BM_ReadDataAndCompletion)->Arg(256)->Arg(4800);

// Eight 10 ms packets kept queued on a render pin whose clock runs state.range(0) times
// faster than real time; the counter is seconds of audio played per second.
void BM_FastClockThroughput(benchmark::State& state) {
  const ULONG kFrames = kRate / 100;
  CStreamRig rig(true, (double)state.range(0), kFrames, 8);
  for (Packet& p : rig.m_vPackets) rig.Queue(p);
  size_t nNext = 0;
  ULONGLONG ullFrames = 0;
  for (auto _ : state) {
    Packet& p = rig.m_vPackets[nNext];
    WaitForSingleObject(p.overlapped.hEvent, INFINITE);
    ullFrames += kFrames;
    rig.Queue(p);
    nNext = (nNext + 1) % rig.m_vPackets.size();
  }
  state.counters["audio_s_per_s"] =
      benchmark::Counter((double)ullFrames / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FastClockThroughput)->Arg(10)->Arg(100)->Arg(1000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

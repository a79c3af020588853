// Streaming through the driver against the emulated device with its fast clock: what the
// host writes arrives bit-exact, input arrives from the third buffer switch, positions and
// time info follow the buffers, DSD is converted, a stalled device ends in one reset
// request, and repeated transport and buffer cycles leave nothing behind.
#include <cstring>
#include <random>
#include <vector>

#include "asio_driver/dsd_converter.h"
#include "driver_fixture.h"

namespace drvtest {
namespace {

constexpr LONG kFrames = 256;

// A sample value that tells the switch, the channel and the frame apart (24 bits).
LONG Pattern(int index, int channel, int frame) { return ((index + 1) << 12) ^ (channel << 10) ^ frame; }

void Put24(BYTE* p, LONG v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
}

class StreamTest : public DriverTest {
 protected:
  IASIO* Prepare(DWORD dwRate, DWORD dwBits, t32emu::CaptureSource source = t32emu::CaptureSource::kSilence) {
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.eCaptureSource = source;
    Plug(20.0, desc);
    SetUserDword(t32::kValueSampleRate, dwRate);
    SetUserDword(t32::kValueBitsPerSample, dwBits);
    return CreateInitialized();
  }
  std::vector<BYTE> Rendered() { return m_pDevice->Recording(0, 0); }
  BYTE* OutputHalf(int channel, LONG half) {
    for (ASIOBufferInfo& info : m_vInfos)
      if (!info.isInput && info.channelNum == channel) return static_cast<BYTE*>(info.buffers[half]);
    return nullptr;
  }
  BYTE* InputHalf(int channel, LONG half) {
    for (ASIOBufferInfo& info : m_vInfos)
      if (info.isInput && info.channelNum == channel) return static_cast<BYTE*>(info.buffers[half]);
    return nullptr;
  }
};

TEST_F(StreamTest, OutputArrivesBitExactAfterTwoSilentPacketsWithPositionsAndTimeInfo) {
  IASIO* driver = Prepare(32000, 24);
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(driver->setSampleRate(48000.0), ASE_OK);  // a change before the buffers exist
  ASSERT_EQ(CreateBuffers(driver, 0, 2, kFrames), ASE_OK);
  m_host.m_fnFill = [&](LONG half, int index) {
    for (int c = 0; c < 2; ++c) {
      BYTE* p = OutputHalf(c, half);
      for (int n = 0; n < kFrames; ++n) Put24(p + 3 * n, Pattern(index, c, n));
    }
  };
  ASSERT_TRUE(m_block.OpenExisting());
  EXPECT_EQ(m_block.Block()->DriverState, 3u);
  EXPECT_EQ(m_block.Block()->CurrentBuffer, static_cast<DWORD>(kFrames));
  ASSERT_EQ(driver->start(), ASE_OK);
  EXPECT_EQ(m_block.Block()->DriverState, 4u);
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nSwitches.load() >= 24; }));
  ASSERT_EQ(driver->stop(), ASE_OK);
  EXPECT_EQ(m_block.Block()->DriverState, 3u);

  std::vector<BYTE> rendered = Rendered();
  const size_t frameBytes = 6;
  ASSERT_GE(rendered.size(), (2 + 20) * kFrames * frameBytes);
  for (size_t i = 0; i < 2 * kFrames * frameBytes; ++i) ASSERT_EQ(rendered[i], 0) << "silent lead-in, byte " << i;
  for (int index = 0; index < 20; ++index)
    for (int n = 0; n < kFrames; ++n)
      for (int c = 0; c < 2; ++c) {
        BYTE expected[3];
        Put24(expected, Pattern(index, c, n));
        const BYTE* got = &rendered[((2 + index) * kFrames + n) * frameBytes + 3 * c];
        ASSERT_EQ(std::memcmp(got, expected, 3), 0) << "switch " << index << " frame " << n << " channel " << c;
      }

  std::lock_guard<std::mutex> guard(m_host.m_lock);
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(m_host.m_vPositions[i], i * kFrames);
    EXPECT_EQ(m_host.m_vHalves[i], static_cast<LONG>(i % 2));
    // The rate change made before the buffers is announced once, with the first switch.
    EXPECT_EQ(m_host.m_vFlags[i], i == 0 ? 0x17u : 0x07u) << i;
  }
  EXPECT_EQ(m_host.m_nResetRequests.load(), 0);
  driver->Release();
}

TEST_F(StreamTest, InputReachesTheHostFromTheThirdBufferSwitch) {
  IASIO* driver = Prepare(48000, 16, t32emu::CaptureSource::kTestSignal);
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(CreateBuffers(driver, 2, 2, kFrames), ASE_OK);
  std::vector<bool> inputSeen;
  m_host.m_fnFill = [&](LONG half, int index) {
    const BYTE* p = InputHalf(0, half);
    bool any = false;
    for (int i = 0; i < kFrames * 2 && !any; ++i) any = p[i] != 0;
    inputSeen.push_back(any);
  };
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nSwitches.load() >= 12; }));
  driver->stop();
  ASSERT_GE(inputSeen.size(), 12u);
  EXPECT_FALSE(inputSeen[0]);
  EXPECT_FALSE(inputSeen[1]);
  for (size_t i = 2; i < 12; ++i) EXPECT_TRUE(inputSeen[i]) << i;
  driver->Release();
}

TEST_F(StreamTest, WithoutTimeInfoTheHostGetsPlainBufferSwitches) {
  IASIO* driver = Prepare(48000, 24);
  ASSERT_NE(driver, nullptr);
  m_host.m_nTimeInfo = 0;
  ASSERT_EQ(CreateBuffers(driver, 0, 2, kFrames), ASE_OK);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nSwitches.load() >= 4; }));
  driver->stop();
  std::lock_guard<std::mutex> guard(m_host.m_lock);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(m_host.m_vFlags[i], 0u);  // the plain callback carries no time info
    EXPECT_EQ(m_host.m_vPositions[i], i * kFrames);
  }
  driver->Release();
}

TEST_F(StreamTest, DsdOutputIsTheConvertersOutput) {
  IASIO* driver = Prepare(88200, 24);
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(driver->setSampleRate(2822400.0), ASE_OK);
  ASIOChannelInfo info{};
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);  // switches the driver to 32 bits
  const LONG frames = 28224;
  const int halfBytes = frames / 8;
  ASSERT_EQ(CreateBuffers(driver, 0, 2, frames), ASE_OK);
  EXPECT_EQ(m_block.OpenExisting(), TRUE);
  EXPECT_EQ(m_block.Block()->CurrentBuffer, 882u);
  EXPECT_EQ(m_block.Block()->DsdMode, 1u);

  const int kSwitches = 6;
  std::mt19937 random(7);
  std::vector<std::vector<BYTE>> sent[2];
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < kSwitches + 8; ++i) {
      std::vector<BYTE> half(halfBytes);
      for (BYTE& b : half) b = static_cast<BYTE>(random());
      if (c == 1 && i == 3) std::fill(half.begin(), half.begin() + 32, 0);  // starts silent: sent as silence
      sent[c].push_back(half);
    }
  m_host.m_fnFill = [&](LONG half, int index) {
    for (int c = 0; c < 2; ++c) {
      if (index < static_cast<int>(sent[c].size()))
        std::memcpy(OutputHalf(c, half), sent[c][index].data(), halfBytes);
      else
        std::memset(OutputHalf(c, half), 0, halfBytes);
    }
  };
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nSwitches.load() >= kSwitches + 2; }));
  driver->stop();

  std::vector<BYTE> rendered = Rendered();
  const size_t pcmFrames = frames / 32;
  ASSERT_GE(rendered.size(), (2 + kSwitches) * pcmFrames * 8);
  for (int c = 0; c < 2; ++c) {
    CDsdConverter reference;
    ASSERT_EQ(reference.Initialize(halfBytes, 4), S_OK);
    std::vector<BYTE> pcm(pcmFrames * 4);
    for (int index = 0; index < kSwitches; ++index) {
      const bool silent = c == 1 && index == 3;
      if (silent)
        std::fill(pcm.begin(), pcm.end(), 0);
      else
        ASSERT_EQ(reference.Convert(sent[c][index].data(), halfBytes, pcm.data()), S_OK);
      for (size_t n = 0; n < pcmFrames; ++n) {
        const BYTE* got = &rendered[((2 + index) * pcmFrames + n) * 8 + 4 * c];
        ASSERT_EQ(std::memcmp(got, &pcm[4 * n], 4), 0) << "channel " << c << " switch " << index << " frame " << n;
      }
    }
  }
  driver->Release();
}

TEST_F(StreamTest, StalledDeviceGivesExactlyOneResetRequestAndStillStopsAndDisposes) {
  IASIO* driver = Prepare(48000, 24);
  ASSERT_NE(driver, nullptr);
  ASSERT_EQ(CreateBuffers(driver, 2, 2, 512), ASE_OK);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nSwitches.load() >= 4; }));
  m_pDevice->Unplug();
  const int switches = m_host.m_nSwitches.load();
  const DWORD unplugged = GetTickCount();
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nResetRequests.load() >= 1; }, 10000));
  const DWORD waited = GetTickCount() - unplugged;
  EXPECT_GE(waited, 1500u);
  Sleep(2500);  // the watchdog has fired again by now: nobody hears it
  EXPECT_EQ(m_host.m_nResetRequests.load(), 1);
  EXPECT_LE(m_host.m_nSwitches.load(), switches + 1);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  ASSERT_TRUE(m_block.OpenExisting());
  EXPECT_EQ(m_block.Block()->DriverState, 2u);
  driver->Release();
}

TEST_F(StreamTest, ResetRequestInTheBlockReachesARunningHostOnce) {
  IASIO* driver = Prepare(48000, 24);
  ASSERT_NE(driver, nullptr);
  ASSERT_TRUE(m_block.OpenExisting());
  m_block.Block()->ResetRequest = 1;  // set before there are buffers: it waits
  ASSERT_EQ(CreateBuffers(driver, 0, 2, kFrames), ASE_OK);
  EXPECT_EQ(m_block.Block()->ResetRequest, 1u);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_host.m_nResetRequests.load() >= 1; }));
  EXPECT_EQ(m_block.Block()->ResetRequest, 0u);
  driver->stop();
  EXPECT_EQ(m_host.m_nResetRequests.load(), 1);
  driver->Release();
}

TEST_F(StreamTest, ChannelsBeyondTheCountAreRefusedAndNothingIsLeft) {
  IASIO* driver = Prepare(48000, 24);
  ASSERT_NE(driver, nullptr);
  const size_t before = t32posix::HeapLiveBlocks(t32asio::ModuleHeap());
  ASIOBufferInfo infos[2] = {{ASIOFalse, 0, {nullptr, nullptr}}, {ASIOFalse, 5, {nullptr, nullptr}}};
  ASIOCallbacks callbacks = TestCallbacks();
  EXPECT_EQ(driver->createBuffers(infos, 2, kFrames, &callbacks), ASE_InvalidParameter);
  EXPECT_EQ(t32posix::HeapLiveBlocks(t32asio::ModuleHeap()), before);
  EXPECT_EQ(m_pDevice->OpenPinCount(), 0u);
  // A host that asks for channel 1 alone still opens the pin with both channels.
  infos[0].channelNum = 1;
  ASSERT_EQ(driver->createBuffers(infos, 1, kFrames, &callbacks), ASE_OK);
  EXPECT_EQ(m_pDevice->OpenPinCount(), 1u);
  ASIOChannelInfo info{};
  info.channel = 1;
  EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.isActive, ASIOTrue);
  info.channel = 0;
  EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.isActive, ASIOFalse);
  LONG in = 0, out = 0;
  EXPECT_EQ(driver->getLatencies(&in, &out), ASE_OK);
  EXPECT_EQ(in, kFrames);
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  EXPECT_EQ(m_pDevice->OpenPinCount(), 0u);
  EXPECT_EQ(t32posix::HeapLiveBlocks(t32asio::ModuleHeap()), before);
  driver->Release();
}

TEST_F(StreamTest, AllocationFailuresDuringCreateBuffersReleaseEverything) {
  IASIO* driver = Prepare(48000, 24);
  ASSERT_NE(driver, nullptr);
  const size_t before = t32posix::HeapLiveBlocks(t32asio::ModuleHeap());
  const size_t handles = t32posix::OpenHandleCount();
  for (int n = 1; n <= 40; ++n) {
    t32posix::FailNextHeapAllocations(n);
    ASIOError result = CreateBuffers(driver, 2, 2, kFrames);
    t32posix::FailNextHeapAllocations(0);
    if (result == ASE_OK) {
      driver->disposeBuffers();
      continue;
    }
    EXPECT_EQ(result, ASE_NoMemory) << n;
    EXPECT_EQ(t32posix::HeapLiveBlocks(t32asio::ModuleHeap()), before) << n;
    EXPECT_EQ(m_pDevice->OpenPinCount(), 0u) << n;
    EXPECT_EQ(t32posix::OpenHandleCount(), handles) << n;
  }
  ASSERT_EQ(CreateBuffers(driver, 2, 2, kFrames), ASE_OK);
  driver->Release();
}

TEST_F(StreamTest, RepeatedTransportAndBufferCyclesLeaveNothingBehind) {
  IASIO* driver = Prepare(48000, 24);
  ASSERT_NE(driver, nullptr);
  const size_t blocks = t32posix::HeapLiveBlocks(t32asio::ModuleHeap());
  const size_t handles = t32posix::OpenHandleCount();
  ASSERT_EQ(CreateBuffers(driver, 2, 2, kFrames), ASE_OK);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(driver->start(), ASE_OK) << i;
    ASSERT_EQ(driver->stop(), ASE_OK) << i;
  }
  ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(CreateBuffers(driver, 2, 2, kFrames), ASE_OK) << i;
    if (i % 10 == 0) {
      ASSERT_EQ(driver->start(), ASE_OK);
      ASSERT_EQ(driver->stop(), ASE_OK);
    }
    ASSERT_EQ(driver->disposeBuffers(), ASE_OK) << i;
  }
  EXPECT_EQ(t32posix::HeapLiveBlocks(t32asio::ModuleHeap()), blocks);
  EXPECT_EQ(t32posix::OpenHandleCount(), handles);
  EXPECT_EQ(m_pDevice->OpenPinCount(), 0u);
  driver->Release();
}

}  // namespace
}  // namespace drvtest

// Shared pieces of the KS layer tests: a fresh root per test, the emulated device, wave
// formats, and a counting allocator that shows every layer block was given back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "emulator/emulated_device.h"
#include "kslib/kslib.h"
#include "platform/posix/test_hooks.h"
#include "support/fresh_root.h"

namespace kstest {

inline WAVEFORMATEXTENSIBLE Extensible(DWORD dwRate, WORD wBits, WORD wChannels) {
  WAVEFORMATEXTENSIBLE wfx;
  memset(&wfx, 0, sizeof(wfx));
  wfx.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wfx.Format.nChannels = wChannels;
  wfx.Format.nSamplesPerSec = dwRate;
  wfx.Format.wBitsPerSample = wBits;
  wfx.Format.nBlockAlign = (WORD)(wBits / 8 * wChannels);
  wfx.Format.nAvgBytesPerSec = dwRate * wfx.Format.nBlockAlign;
  wfx.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  wfx.Samples.wValidBitsPerSample = wBits;
  wfx.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  wfx.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return wfx;
}

inline WAVEFORMATEX Pcm(DWORD dwRate, WORD wBits, WORD wChannels) {
  WAVEFORMATEX wfx = Extensible(dwRate, wBits, wChannels).Format;
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.cbSize = 0;
  return wfx;
}

// Counts the layer's live blocks through the allocation hook.
inline long& LiveBlocks() {
  static long nLive = 0;
  return nLive;
}
inline void* CountingAlloc(SIZE_T cb) {
  void* pv = calloc(1, cb);
  if (pv) ++LiveBlocks();
  return pv;
}
inline void CountingFree(void* pv) {
  --LiveBlocks();
  free(pv);
}

inline bool Traced(const std::string& strText) { return t32posix::DebugOutput().find(strText) != std::string::npos; }

class KsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceLevel = 0;
    t32posix::ClearDebugOutput();
    LiveBlocks() = 0;
    KsSetAllocator(CountingAlloc, CountingFree);
  }
  void TearDown() override { TraceLevel = 0; }
  // Fixture members of derived tests (filters) are gone by now; their blocks went back
  // to the counting allocator.
  ~KsTest() override {
    m_pDevice.reset();
    KsSetAllocator(NULL, NULL);
  }
  t32emu::CEmulatedDevice* PlugDevice(const t32emu::DeviceDescription& desc = t32emu::Ternix32Description()) {
    m_pDevice = t32emu::Plug(desc);
    return m_pDevice.get();
  }
  std::string AudioPath(size_t nFilter = 0) const { return m_pDevice->InterfacePath(nFilter, KSCATEGORY_AUDIO); }

  // An opened audio filter of the plugged device with its pins enumerated.
  template <class TFilter>
  std::unique_ptr<TFilter> OpenFilter(size_t nFilter = 0, HRESULT* phrEnumerate = nullptr) {
    HRESULT hr = E_FAIL;
    std::unique_ptr<TFilter> pFilter(new TFilter(AudioPath(nFilter).c_str(), "", &hr));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(pFilter->Instantiate(), S_OK);
    hr = pFilter->EnumeratePins();
    if (phrEnumerate)
      *phrEnumerate = hr;
    else
      EXPECT_EQ(hr, S_OK);
    return pFilter;
  }

  t32test::FreshRoot m_root;
  std::unique_ptr<t32emu::CEmulatedDevice> m_pDevice;
};

}  // namespace kstest

// Device discovery against the emulated device, as the class factory runs it for each
// driver object: the HID presence query alone, and the whole discovery with a device of
// one filter and with a device of several filters where the last is the one that
// qualifies. The goal for a device that answers is under 20 ms.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "asio_driver/device_discovery.h"
#include "asio_driver/module_heap.h"
#include "emulator/emulated_device.h"
#include "kslib/kslib.h"

namespace {

const GUID kClsid = {0x0E1D3A47, 0x5B2C, 0x4F61, {0x9A, 0x10, 0x3C, 0x77, 0x21, 0xD4, 0x08, 0xB5}};

// A root, the module heap with the KS layer on it, the block, and a plugged device.
class CDiscoveryRig {
 public:
  explicit CDiscoveryRig(const t32emu::DeviceDescription& desc) {
    setenv("TERNIX32_ROOT", "/tmp/t32-bench-root", 0);
    t32asio::ModuleAttach(nullptr);
    KsSetAllocator(t32asio::ModuleAlloc, t32asio::ModuleFree);
    BOOL bCreated = FALSE;
    m_block.OpenOrCreate(&bCreated);
    m_pDevice = t32emu::Plug(desc);
  }
  ~CDiscoveryRig() {
    m_pDevice.reset();
    m_block.Close();
    KsSetAllocator(NULL, NULL);
    t32asio::ModuleDetach();
  }
  // One discovery, and what the driver object's destruction undoes.
  bool Discover() {
    t32asio::CDeviceInfo info;
    BOOL bLoaded = FALSE;
    HRESULT hr = t32asio::DiscoverDevice(kClsid, &m_block, &info, &bLoaded);
    if (hr == S_OK) timeEndPeriod(1);
    m_block.ReleaseIfOwned(kClsid);
    return hr == S_OK;
  }

 private:
  t32::CStatusBlockView m_block;
  std::unique_ptr<t32emu::CEmulatedDevice> m_pDevice;
};

// nFilters filters of the device; all but the last carry no width of the table.
t32emu::DeviceDescription SeveralFilters(int nFilters) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  t32emu::FilterDescription good = desc.vFilters[0];
  desc.vFilters.clear();
  for (int i = 0; i < nFilters; ++i) {
    t32emu::FilterDescription filter = good;
    filter.strReference = "filter" + std::to_string(i);
    if (i + 1 < nFilters)
      for (t32emu::PinDescription& pin : filter.vPins)
        for (t32emu::RangeDescription& range : pin.vRanges) range.ulMinimumBits = range.ulMaximumBits = 8;
    desc.vFilters.push_back(filter);
  }
  return desc;
}

void BM_PresenceQuery(benchmark::State& state) {
  CDiscoveryRig rig(t32emu::Ternix32Description());
  for (auto _ : state)
    if (t32asio::QueryHidPresence() != S_OK) state.SkipWithError("the device did not answer");
}
BENCHMARK(BM_PresenceQuery)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Discovery(benchmark::State& state) {
  int nFilters = static_cast<int>(state.range(0));
  CDiscoveryRig rig(nFilters == 1 ? t32emu::Ternix32Description() : SeveralFilters(nFilters));
  for (auto _ : state)
    if (!rig.Discover()) state.SkipWithError("the device was not found");
}
BENCHMARK(BM_Discovery)->Arg(1)->Arg(4)->Arg(16)->ArgName("filters")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Feeds arbitrary pin property answers (data ranges, interfaces, mediums, multiple-item
// headers) and topology answers from the emulated device through the KS layer: filter
// enumeration, pin description, data range walk, format tests and node enumeration.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <memory>

#include "emulator/emulated_device.h"
#include "kslib/kslib.h"

namespace {

t32emu::CEmulatedDevice* Device() {
  static t32emu::CEmulatedDevice* pDevice = [] {
    setenv("TERNIX32_ROOT", "/tmp/t32-fuzz-root", 0);
    t32emu::DeviceDescription desc = t32emu::Ternix32Description();
    desc.vFilters[0].vPins.resize(3, desc.vFilters[0].vPins[0]);
    return t32emu::Plug(desc).release();
  }();
  return pDevice;
}

std::vector<BYTE> Answer(FuzzedDataProvider& data) {
  // Mostly answers that start with a plausible header, so the walk gets past it.
  std::vector<BYTE> vb = data.ConsumeBytes<BYTE>(data.ConsumeIntegralInRange<size_t>(0, 1024));
  if (vb.size() >= sizeof(KSMULTIPLE_ITEM) && data.ConsumeBool()) {
    KSMULTIPLE_ITEM header = {(ULONG)vb.size(), data.ConsumeIntegralInRange<ULONG>(0, 16)};
    memcpy(vb.data(), &header, sizeof(header));
  }
  return vb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData) {
  FuzzedDataProvider data(pbData, cbData);
  t32emu::CEmulatedDevice* pDevice = Device();
  pDevice->EditDescription([&](t32emu::DeviceDescription& desc) {
    for (t32emu::PinDescription& pin : desc.vFilters[0].vPins) {
      pin.ulCommunication = data.ConsumeIntegralInRange<ULONG>(0, 4);
      pin.ulDataFlow = data.ConsumeIntegralInRange<ULONG>(0, 3);
      pin.vbRawDataRanges = Answer(data);
      pin.vbRawInterfaces = data.ConsumeBool() ? Answer(data) : std::vector<BYTE>();
      pin.vbRawMediums = data.ConsumeBool() ? Answer(data) : std::vector<BYTE>();
    }
    desc.vFilters[0].vbRawNodes = Answer(data);
  });

  std::string strPath = pDevice->InterfacePath(0, KSCATEGORY_AUDIO);
  HRESULT hr = S_OK;
  std::unique_ptr<CKsAudRenFilter> pFilter(new CKsAudRenFilter(strPath.c_str(), "", &hr));
  if (pFilter && SUCCEEDED(hr) && SUCCEEDED(pFilter->Instantiate())) {
    pFilter->EnumerateNodes();
    pFilter->EnumeratePins();
    WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 48000, 48000 * 6, 6, 24, 0};
    for (ULONG ulFlags : {2u, 4u, 8u, 15u}) pFilter->FindViablePin(&wfx, ulFlags);
  }
  std::unique_ptr<CKsFilter> pPlain(new CKsFilter(strPath.c_str(), "", &hr));
  if (pPlain && SUCCEEDED(hr) && SUCCEEDED(pPlain->Instantiate())) pPlain->EnumeratePins();
  return 0;
}

// Feeds arbitrary HID control interfaces through the presence query: report lengths in
// the capabilities, and answers with any bytes, any byte count (short, empty, or more than
// the buffer) and either state of the present bit; and arbitrary reports through the
// answer test itself. Filler answers follow the fuzzed ones so that no read waits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "asio_driver/device_discovery.h"
#include "asio_driver/module_heap.h"
#include "emulator/emulated_device.h"

namespace {

t32emu::CEmulatedDevice* Device() {
  static t32emu::CEmulatedDevice* pDevice = [] {
    setenv("TERNIX32_ROOT", "/tmp/t32-fuzz-root", 0);
    t32asio::ModuleAttach(nullptr);
    return t32emu::Plug().release();
  }();
  return pDevice;
}

USHORT ReportLength(FuzzedDataProvider& data, USHORT usUsual) {
  return data.ConsumeBool() ? usUsual : data.ConsumeIntegral<USHORT>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData) {
  FuzzedDataProvider data(pbData, cbData);
  t32emu::CEmulatedDevice* pDevice = Device();
  pDevice->EditDescription([&](t32emu::DeviceDescription& desc) {
    desc.hid.wInputReportLength = ReportLength(data, 20);
    desc.hid.wOutputReportLength = ReportLength(data, 29);
    desc.hid.bCapsReadable = data.ConsumeIntegralInRange<int>(0, 15) != 0;
    desc.hid.vAnswers.clear();
    size_t nAnswers = data.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < nAnswers; ++i) {
      t32emu::HidAnswerDescription answer;
      answer.bPresentBit = data.ConsumeBool();
      answer.cbDelivered = data.ConsumeBool() ? data.ConsumeIntegralInRange<DWORD>(0, 24) : data.ConsumeIntegral<DWORD>();
      if (data.ConsumeBool()) answer.vbRawReport = data.ConsumeBytes<BYTE>(data.ConsumeIntegralInRange<size_t>(1, 64));
      desc.hid.vAnswers.push_back(answer);
    }
    t32emu::HidAnswerDescription filler;
    filler.bPresentBit = false;
    desc.hid.vAnswers.insert(desc.hid.vAnswers.end(), 3, filler);
  });
  t32asio::QueryHidPresence();

  // The answer test on a report of exactly the delivered size.
  std::vector<BYTE> vbReport = data.ConsumeRemainingBytes<BYTE>();
  t32asio::IsPresenceAnswer(vbReport.empty() ? nullptr : vbReport.data(), (DWORD)vbReport.size());
  return 0;
}

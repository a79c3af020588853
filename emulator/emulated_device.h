// The emulated Ternix-32 as tests, tools and host programs see it. Plug() makes its
// device interfaces appear (SetupAPI lists them, CreateFileA opens its filters and its
// HID interface, "ksuser.dll" creates its pins, "hid.dll" reads its HID attributes); Unplug() makes them vanish: open handles then fail and
// queued requests never complete.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/device_description.h"

namespace t32emu {

class CDeviceCore;

class CEmulatedDevice {
 public:
  explicit CEmulatedDevice(const DeviceDescription& desc);
  ~CEmulatedDevice();
  CEmulatedDevice(const CEmulatedDevice&) = delete;
  CEmulatedDevice& operator=(const CEmulatedDevice&) = delete;

  void Plug();
  void Unplug();
  bool IsPlugged() const;

  // The symbolic link of filter nFilter's interface in a category.
  std::string InterfacePath(size_t nFilter, REFGUID guidCategory) const;
  // The symbolic link of the HID control interface.
  std::string HidInterfacePath() const;
  // Every output report written to the HID control interface so far, in order.
  std::vector<std::vector<BYTE>> HidReportsWritten() const;

  // Switches that act at once on a running device.
  void SetStall(bool bStall);
  void SetPendingProperties(bool bPending);
  void SetZeroSizeQuery(bool bZero);
  void SetClockSpeed(double dSpeed);
  void SetCaptureSource(CaptureSource eSource);

  // Changes the description in place: answers, names, switches. The number of filters
  // must stay as it is while handles are open; whether there is a HID interface, and its
  // device list fault, count from the next Plug().
  void EditDescription(const std::function<void(DeviceDescription&)>& fnEdit);

  // What the render instance last opened on a pin factory played so far, and its format.
  std::vector<BYTE> Recording(size_t nFilter, ULONG ulPinId) const;
  bool RecordingFormat(size_t nFilter, ULONG ulPinId, WAVEFORMATEXTENSIBLE* pwfx) const;
  // Open pin instances of the device, and the KS state of the first one on a factory
  // (KSSTATE_STOP when none is open).
  size_t OpenPinCount() const;
  KSSTATE PinState(size_t nFilter, ULONG ulPinId) const;

 private:
  std::shared_ptr<CDeviceCore> m_pCore;
};

// A plugged device; unplugged when the object goes.
std::unique_ptr<CEmulatedDevice> Plug(const DeviceDescription& desc = Ternix32Description());

}  // namespace t32emu

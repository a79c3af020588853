#include "emulator/emulated_device.h"

#include "emulator/device_core.h"
#include "emulator/emu_pin.h"
#include "platform/posix/device_interfaces.h"

namespace t32emu {

CEmulatedDevice::CEmulatedDevice(const DeviceDescription& desc) : m_pCore(std::make_shared<CDeviceCore>(desc)) {}

CEmulatedDevice::~CEmulatedDevice() { m_pCore->Unplug(); }

void CEmulatedDevice::Plug() { m_pCore->Plug(); }
void CEmulatedDevice::Unplug() { m_pCore->Unplug(); }

bool CEmulatedDevice::IsPlugged() const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  return m_pCore->m_bPlugged;
}

std::string CEmulatedDevice::InterfacePath(size_t nFilter, REFGUID guidCategory) const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  const DeviceDescription& desc = m_pCore->m_desc;
  if (nFilter >= desc.vFilters.size()) return std::string();
  return t32posix::DeviceInterfacePath(InstanceId(desc), guidCategory, desc.vFilters[nFilter].strReference);
}

std::string CEmulatedDevice::HidInterfacePath() const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  GUID guidHid;
  HidD_GetHidGuid(&guidHid);
  return t32posix::DeviceInterfacePath(HidInstanceId(m_pCore->m_desc), guidHid, std::string());
}

std::vector<std::vector<BYTE>> CEmulatedDevice::HidReportsWritten() const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  return m_pCore->m_vvbHidWritten;
}

void CEmulatedDevice::SetStall(bool bStall) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  if (m_pCore->m_desc.bStall && !bStall)
    for (const auto& pin : m_pCore->m_vPins) pin->ReanchorLocked();
  m_pCore->m_desc.bStall = bStall;
  m_pCore->WakeLocked();
}

void CEmulatedDevice::SetPendingProperties(bool bPending) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  m_pCore->m_desc.bPendingProperties = bPending;
}

void CEmulatedDevice::SetZeroSizeQuery(bool bZero) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  m_pCore->m_desc.bZeroSizeQuery = bZero;
}

void CEmulatedDevice::SetClockSpeed(double dSpeed) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  m_pCore->m_clock.SetSpeed(dSpeed);
  m_pCore->m_desc.dClockSpeed = dSpeed;
  ULONGLONG ullNow = m_pCore->m_clock.NowNs();
  for (const auto& pin : m_pCore->m_vPins) pin->AdvanceLocked(ullNow);
  m_pCore->WakeLocked();
}

void CEmulatedDevice::SetCaptureSource(CaptureSource eSource) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  m_pCore->m_desc.eCaptureSource = eSource;
}

void CEmulatedDevice::EditDescription(const std::function<void(DeviceDescription&)>& fnEdit) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  size_t nFilters = m_pCore->m_desc.vFilters.size();
  fnEdit(m_pCore->m_desc);
  m_pCore->m_desc.vFilters.resize(nFilters);
}

std::vector<BYTE> CEmulatedDevice::Recording(size_t nFilter, ULONG ulPinId) const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  auto it = m_pCore->m_mapRecordings.find(std::make_pair(nFilter, ulPinId));
  return it == m_pCore->m_mapRecordings.end() ? std::vector<BYTE>() : it->second->vbData;
}

bool CEmulatedDevice::RecordingFormat(size_t nFilter, ULONG ulPinId, WAVEFORMATEXTENSIBLE* pwfx) const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  auto it = m_pCore->m_mapRecordings.find(std::make_pair(nFilter, ulPinId));
  if (it == m_pCore->m_mapRecordings.end()) return false;
  *pwfx = it->second->wfx;
  return true;
}

size_t CEmulatedDevice::OpenPinCount() const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  return m_pCore->m_vPins.size();
}

KSSTATE CEmulatedDevice::PinState(size_t nFilter, ULONG ulPinId) const {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  for (const auto& pin : m_pCore->m_vPins)
    if (pin->FilterIndex() == nFilter && pin->PinId() == ulPinId) return pin->StateLocked();
  return KSSTATE_STOP;
}

std::unique_ptr<CEmulatedDevice> Plug(const DeviceDescription& desc) {
  auto device = std::make_unique<CEmulatedDevice>(desc);
  device->Plug();
  return device;
}

}  // namespace t32emu

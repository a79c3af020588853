#include "emulator/device_core.h"

#include <strings.h>

#include <algorithm>

#include "emulator/emu_pin.h"
#include "platform/posix/device_interfaces.h"

namespace t32emu {

CDeviceCore::CDeviceCore(const DeviceDescription& desc) : m_desc(desc), m_clock(desc.dClockSpeed) {
  m_thread = std::thread([this] { Run(); });
}

CDeviceCore::~CDeviceCore() {
  Unplug();
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bQuit = true;
    m_cvWake.notify_all();
  }
  if (m_thread.joinable()) {
    if (m_thread.get_id() == std::this_thread::get_id())
      m_thread.detach();
    else
      m_thread.join();
  }
}

void CDeviceCore::Plug() {
  std::vector<t32posix::DeviceInterfaceEntry> vInterfaces;
  t32posix::DeviceNodeEntry node;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bPlugged) return;
    m_bPlugged = true;
    node.strInstanceId = InstanceId(m_desc);
    node.strFriendlyName = m_desc.strFriendlyName;
    node.strDeviceDesc = m_desc.strDeviceDesc;
    for (const FilterDescription& filter : m_desc.vFilters) {
      for (const InterfaceDescription& iface : filter.vInterfaces) {
        t32posix::DeviceInterfaceEntry entry;
        entry.guidClass = iface.guidCategory;
        entry.strReference = filter.strReference;
        entry.dwFlags = iface.dwFlags;
        if (!filter.strFriendlyName.empty()) entry.vKeyValues.emplace_back("FriendlyName", filter.strFriendlyName);
        vInterfaces.push_back(entry);
      }
    }
  }
  t32posix::RegisterKsUser();
  t32posix::RegisterDeviceProvider(this);
  DWORD dwDevInst = t32posix::PublishDevice(node, vInterfaces);
  std::lock_guard<std::mutex> guard(m_lock);
  m_dwDevInst = dwDevInst;
}

void CDeviceCore::Unplug() {
  DWORD dwDevInst = 0;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bPlugged) return;
    m_bPlugged = false;
    // Whatever was queued never completes, as with a device pulled out mid-stream.
    for (const auto& pin : m_vPins) pin->DropRequestsLocked();
    m_qDeferred.clear();
    dwDevInst = m_dwDevInst;
  }
  t32posix::UnregisterDeviceProvider(this);
  t32posix::RemoveDevice(dwDevInst);
}

std::shared_ptr<t32posix::CFileObject> CDeviceCore::Open(const char* pszPath, DWORD dwAccess, DWORD dwFlags,
                                                         DWORD* pdwError) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_bPlugged) {
    std::string strInstance = InstanceId(m_desc);
    for (size_t i = 0; i < m_desc.vFilters.size(); ++i) {
      const FilterDescription& filter = m_desc.vFilters[i];
      for (const InterfaceDescription& iface : filter.vInterfaces) {
        std::string strPath = t32posix::DeviceInterfacePath(strInstance, iface.guidCategory, filter.strReference);
        if (strcasecmp(strPath.c_str(), pszPath) == 0) return std::make_shared<CEmuFilter>(shared_from_this(), i);
      }
    }
  }
  *pdwError = ERROR_FILE_NOT_FOUND;
  return nullptr;
}

BOOL CDeviceCore::Deliver(const CRequestOutcome& outcome, bool bMayPend, LPDWORD pcbReturned,
                          LPOVERLAPPED pOverlapped) {
  if (bMayPend && pOverlapped != nullptr) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_desc.bPendingProperties && m_bPlugged) {
      t32posix::BeginOverlapped(pOverlapped);
      m_qDeferred.push_back({pOverlapped, outcome});
      m_cvWake.notify_all();
      if (pcbReturned) *pcbReturned = 0;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
  }
  if (pcbReturned) *pcbReturned = outcome.cbReturned;
  if (outcome.dwError == ERROR_SUCCESS) {
    if (pOverlapped) t32posix::CompleteOverlapped(pOverlapped, ERROR_SUCCESS, outcome.cbReturned);
    return TRUE;
  }
  SetLastError(outcome.dwError);
  return FALSE;
}

void CDeviceCore::AddPinLocked(const std::shared_ptr<CEmuPin>& pin) { m_vPins.push_back(pin); }

void CDeviceCore::RemovePinLocked(const CEmuPin* pPin) {
  // The pin may be released here; keep it alive until the caller's lock is dropped.
  auto it = std::find_if(m_vPins.begin(), m_vPins.end(), [pPin](const auto& p) { return p.get() == pPin; });
  if (it != m_vPins.end()) m_vPins.erase(it);
}

void CDeviceCore::Run() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_bQuit) {
    while (!m_qDeferred.empty()) {
      CDeferred deferred = m_qDeferred.front();
      m_qDeferred.pop_front();
      t32posix::CompleteOverlapped(deferred.pOverlapped, deferred.outcome.dwError, deferred.outcome.cbReturned);
    }
    ULONGLONG ullNow = m_clock.NowNs();
    ULONGLONG ullNext = ~0ull;
    for (const auto& pin : m_vPins) {
      pin->AdvanceLocked(ullNow);
      ULONGLONG ullDeadline;
      if (pin->NextDeadlineLocked(&ullDeadline)) ullNext = std::min(ullNext, ullDeadline);
    }
    if (!m_qDeferred.empty()) continue;
    if (ullNext == ~0ull || m_clock.IsUnthrottled())
      m_cvWake.wait(lock);
    else
      m_cvWake.wait_until(lock, m_clock.RealTimeOf(ullNext));
  }
}

}  // namespace t32emu

#include "emulator/device_core.h"

#include <pthread.h>
#include <sched.h>
#include <strings.h>

#include <cstdlib>

#include <algorithm>

#include "emulator/emu_hid.h"
#include "emulator/emu_pin.h"
#include "platform/posix/device_interfaces.h"

namespace t32emu {

CDeviceCore::CDeviceCore(const DeviceDescription& desc) : m_desc(desc), m_clock(desc.dClockSpeed) {
  m_thread = std::thread([this] { Run(); });
  // The device's clock is hardware, untouched by the host's load. When real-time threads
  // are allowed (T32_REALTIME=1) the emulated clock gets the highest real-time priority,
  // above the driver's time-critical threads, so that load on the host cannot slow it.
  const char* realtime = std::getenv("T32_REALTIME");
  if (realtime && realtime[0] == '1') {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(m_thread.native_handle(), SCHED_FIFO, &param);
  }
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
  // The HID control interface is a device node of its own, as the HID class makes one
  // for each top-level collection of the USB interface.
  t32posix::DeviceNodeEntry hidNode;
  std::vector<t32posix::DeviceInterfaceEntry> vHidInterfaces;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_desc.hid.bPresent) {
      hidNode.strInstanceId = HidInstanceId(m_desc);
      hidNode.strDeviceDesc = "HID-compliant vendor-defined device";
      t32posix::DeviceInterfaceEntry entry;
      HidD_GetHidGuid(&entry.guidClass);
      entry.dwFlags = SPINT_ACTIVE;
      entry.nDetailSizeSkew = m_desc.hid.nDetailSizeSkew;
      vHidInterfaces.push_back(entry);
    }
  }
  t32posix::RegisterKsUser();
  t32posix::RegisterDeviceProvider(this);
  DWORD dwDevInst = t32posix::PublishDevice(node, vInterfaces);
  DWORD dwHidDevInst = vHidInterfaces.empty() ? 0 : t32posix::PublishDevice(hidNode, vHidInterfaces);
  std::lock_guard<std::mutex> guard(m_lock);
  m_dwDevInst = dwDevInst;
  m_dwHidDevInst = dwHidDevInst;
}

void CDeviceCore::Unplug() {
  DWORD dwDevInst = 0, dwHidDevInst = 0;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bPlugged) return;
    m_bPlugged = false;
    // Whatever was queued never completes, as with a device pulled out mid-stream.
    for (const auto& pin : m_vPins) pin->DropRequestsLocked();
    m_qDeferred.clear();
    // HID reads end at once, as the HID class fails them when the device goes.
    for (const auto& hid : m_vHids) hid->DetachLocked();
    m_vHids.clear();
    m_qHidAnswers.clear();
    dwDevInst = m_dwDevInst;
    dwHidDevInst = m_dwHidDevInst;
    m_dwHidDevInst = 0;
  }
  t32posix::UnregisterDeviceProvider(this);
  t32posix::RemoveDevice(dwDevInst);
  if (dwHidDevInst != 0) t32posix::RemoveDevice(dwHidDevInst);
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
    if (m_dwHidDevInst != 0) {
      GUID guidHid;
      HidD_GetHidGuid(&guidHid);
      std::string strPath = t32posix::DeviceInterfacePath(HidInstanceId(m_desc), guidHid, std::string());
      if (strcasecmp(strPath.c_str(), pszPath) == 0) {
        auto hid = std::make_shared<CEmuHid>(shared_from_this());
        m_vHids.push_back(hid);
        return hid;
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

void CDeviceCore::RemoveHidLocked(const CEmuHid* pHid) {
  auto it = std::find_if(m_vHids.begin(), m_vHids.end(), [pHid](const auto& p) { return p.get() == pHid; });
  if (it != m_vHids.end()) m_vHids.erase(it);
}

void CDeviceCore::EmitHidLocked(const std::vector<BYTE>& vbReport, DWORD cbDelivered) {
  for (const auto& hid : m_vHids) hid->DeliverLocked(vbReport, cbDelivered);
}

void CDeviceCore::ScheduleHidAnswersLocked() {
  auto tNow = std::chrono::steady_clock::now();
  auto tDue = tNow;
  bool bWake = false;
  for (const HidAnswerDescription& answer : m_desc.hid.vAnswers) {
    tDue += std::chrono::milliseconds(answer.dwDelayMs);
    std::vector<BYTE> vbReport = HidAnswerReport(m_desc.hid, answer);
    if (tDue <= tNow) {
      EmitHidLocked(vbReport, answer.cbDelivered);  // no delay: the answer is there at once
      continue;
    }
    CHidAnswer pending{tDue, vbReport, answer.cbDelivered};
    auto it = std::upper_bound(m_qHidAnswers.begin(), m_qHidAnswers.end(), tDue,
                               [](const auto& t, const CHidAnswer& a) { return t < a.tDue; });
    m_qHidAnswers.insert(it, pending);
    bWake = true;
  }
  if (bWake) m_cvWake.notify_all();
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
    auto tNowReal = std::chrono::steady_clock::now();
    while (!m_qHidAnswers.empty() && m_qHidAnswers.front().tDue <= tNowReal) {
      CHidAnswer answer = m_qHidAnswers.front();
      m_qHidAnswers.pop_front();
      EmitHidLocked(answer.vbReport, answer.cbDelivered);
    }
    if (!m_qDeferred.empty()) continue;
    bool bDeadline = false;
    CDeviceClock::RealTime tWake;
    if (ullNext != ~0ull && !m_clock.IsUnthrottled()) {
      tWake = m_clock.RealTimeOf(ullNext);
      bDeadline = true;
    }
    if (!m_qHidAnswers.empty() && (!bDeadline || m_qHidAnswers.front().tDue < tWake)) {
      tWake = m_qHidAnswers.front().tDue;
      bDeadline = true;
    }
    if (bDeadline)
      m_cvWake.wait_until(lock, tWake);
    else
      m_cvWake.wait(lock);
  }
}

}  // namespace t32emu

// The inside of an emulated device: its description, the device clock and the thread
// that plays and records the streams of its open pins and sends the HID answers, and the
// provider through which CreateFileA reaches its filters and its HID interface. Filter and pin handles keep the core alive, so a handle
// that outlives the device only fails.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/device_clock.h"
#include "emulator/device_description.h"
#include "emulator/property_answer.h"
#include "platform/posix/ks_file_object.h"

namespace t32emu {

class CEmuPin;
class CEmuHid;

// What a render pin instance played, in the format it was opened with.
struct CRecording {
  WAVEFORMATEXTENSIBLE wfx;
  std::vector<BYTE> vbData;
};

class CDeviceCore : public t32posix::IDeviceProvider, public std::enable_shared_from_this<CDeviceCore> {
 public:
  explicit CDeviceCore(const DeviceDescription& desc);
  ~CDeviceCore() override;

  void Plug();
  void Unplug();
  std::shared_ptr<t32posix::CFileObject> Open(const char* pszPath, DWORD dwAccess, DWORD dwFlags,
                                              DWORD* pdwError) override;

  // Delivers a request's outcome: synchronously, or pending and completed by the device
  // thread when property requests are set to complete late.
  BOOL Deliver(const CRequestOutcome& outcome, bool bMayPend, LPDWORD pcbReturned, LPOVERLAPPED pOverlapped);

  // Pin instances register while open; the device thread advances them.
  void AddPinLocked(const std::shared_ptr<CEmuPin>& pin);
  void RemovePinLocked(const CEmuPin* pPin);
  void WakeLocked() { m_cvWake.notify_all(); }

  // HID handles register while open; the answers to a query report go to each of them.
  void RemoveHidLocked(const CEmuHid* pHid);
  // The query report arrived: schedules the description's answers.
  void ScheduleHidAnswersLocked();

  std::mutex m_lock;
  DeviceDescription m_desc;  // guarded; the fault switches may change while running
  CDeviceClock m_clock;
  bool m_bPlugged = false;
  DWORD m_dwDevInst = 0;
  DWORD m_dwHidDevInst = 0;  // 0 while the HID node is not published
  std::vector<std::shared_ptr<CEmuHid>> m_vHids;
  std::vector<std::vector<BYTE>> m_vvbHidWritten;  // every output report, in order
  std::vector<std::shared_ptr<CEmuPin>> m_vPins;
  std::map<std::pair<size_t, ULONG>, ULONG> m_mapInstanceCounts;  // (filter, pin id) -> open instances
  std::map<std::pair<size_t, ULONG>, std::shared_ptr<CRecording>> m_mapRecordings;

 private:
  struct CDeferred {
    LPOVERLAPPED pOverlapped;
    CRequestOutcome outcome;
  };
  struct CHidAnswer {
    std::chrono::steady_clock::time_point tDue;
    std::vector<BYTE> vbReport;
    DWORD cbDelivered;
  };
  void Run();
  void EmitHidLocked(const std::vector<BYTE>& vbReport, DWORD cbDelivered);

  std::condition_variable m_cvWake;
  std::deque<CDeferred> m_qDeferred;
  std::deque<CHidAnswer> m_qHidAnswers;  // in order of their due time
  bool m_bQuit = false;
  std::thread m_thread;
};

// A filter handle: answers filter and pin factory properties and creates pin instances.
class CEmuFilter : public t32posix::CKsFilterFileObject {
 public:
  CEmuFilter(std::shared_ptr<CDeviceCore> pCore, size_t nFilter) : m_pCore(std::move(pCore)), m_nFilter(nFilter) {}
  BOOL IoControl(DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut, LPDWORD pcbReturned,
                 LPOVERLAPPED pOverlapped) override;
  DWORD CreatePin(const KSPIN_CONNECT* pConnect, ULONG cbConnect, ACCESS_MASK dwDesiredAccess,
                  std::shared_ptr<t32posix::CFileObject>* ppPin) override;

 private:
  CRequestOutcome PropertyLocked(const KSPROPERTY& ksProperty, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut);
  std::shared_ptr<CDeviceCore> m_pCore;
  size_t m_nFilter;
};

}  // namespace t32emu

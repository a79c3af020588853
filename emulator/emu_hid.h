// The HID control interface of the emulated device. Each open handle gets its own copy of
// every input report the device sends from then on, as the HID class gives each handle
// its own report buffer. Reads take the oldest buffered report or wait for the next one
// (pending on an overlapped handle); the device answers the presence query report with
// the input reports its description lists, each after its delay.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <vector>

#include "emulator/device_core.h"
#include "platform/posix/hid_file_object.h"

namespace t32emu {

// The query report the device answers, and the report it sends as its answer.
std::vector<BYTE> HidQueryReport();
std::vector<BYTE> HidAnswerReport(const HidDescription& hid, const HidAnswerDescription& answer);

class CEmuHid : public t32posix::CHidFileObject {
 public:
  explicit CEmuHid(std::shared_ptr<CDeviceCore> pCore) : m_pCore(std::move(pCore)) {}

  BOOL Read(LPVOID pBuffer, DWORD cbToRead, LPDWORD pcbRead, LPOVERLAPPED pOverlapped) override;
  BOOL Write(LPCVOID pBuffer, DWORD cbToWrite, LPDWORD pcbWritten, LPOVERLAPPED pOverlapped) override;
  BOOL Cancel() override;
  void OnLastHandleClosed() override;
  BOOL GetAttributes(HIDD_ATTRIBUTES* pAttributes) override;
  BOOL GetCaps(HIDP_CAPS* pCaps) override;

  // With the core lock held: an input report arrives; cbDelivered is the byte count the
  // read that takes it completes with.
  void DeliverLocked(const std::vector<BYTE>& vbReport, DWORD cbDelivered);
  // With the core lock held, when the device leaves: pending reads fail, the handle is dead.
  void DetachLocked();

 private:
  struct CPendingRead {
    LPVOID pBuffer;
    DWORD cbBuffer;
    LPOVERLAPPED pOverlapped;
  };
  struct CBufferedReport {
    std::vector<BYTE> vbReport;
    DWORD cbDelivered;
  };
  static DWORD CopyReport(const CBufferedReport& report, LPVOID pBuffer, DWORD cbBuffer);
  // Why I/O on this handle fails now, or ERROR_SUCCESS.
  DWORD DeadErrorLocked() const;
  void AbortReadsLocked(DWORD dwError);

  std::shared_ptr<CDeviceCore> m_pCore;
  std::deque<CPendingRead> m_qReads;
  std::deque<CBufferedReport> m_qReports;
  std::condition_variable m_cvReport;  // a synchronous read waits here, under the core lock
  bool m_bClosed = false;
  bool m_bDetached = false;
};

}  // namespace t32emu

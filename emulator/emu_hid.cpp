#include "emulator/emu_hid.h"

#include <algorithm>

namespace t32emu {
namespace {

// The HID class keeps this many input reports per handle and drops the oldest beyond.
constexpr size_t kReportsPerHandle = 32;

// The command byte of the presence query and its answer; the answer sets bit 7.
constexpr BYTE kPresenceCommand = 0x7C;
constexpr BYTE kPresentBit = 0x80;

}  // namespace

std::vector<BYTE> HidQueryReport() {
  std::vector<BYTE> vb(29, 0);
  vb[3] = kPresenceCommand;
  const BYTE abPayload[] = {0x12, 0xEE, 0xFF, 0x03, 0x01};
  std::copy(std::begin(abPayload), std::end(abPayload), vb.begin() + 7);
  vb[28] = 0x80;
  return vb;
}

std::vector<BYTE> HidAnswerReport(const HidDescription& hid, const HidAnswerDescription& answer) {
  if (!answer.vbRawReport.empty()) return answer.vbRawReport;
  std::vector<BYTE> vb(hid.wInputReportLength, 0);
  if (vb.size() > 3) vb[3] = kPresenceCommand | (answer.bPresentBit ? kPresentBit : 0);
  if (vb.size() > 5) {
    vb[4] = 0x01;  // firmware major and minor version
    vb[5] = 0x02;
  }
  return vb;
}

DWORD CEmuHid::DeadErrorLocked() const {
  if (m_bClosed) return ERROR_INVALID_HANDLE;
  if (m_bDetached || !m_pCore->m_bPlugged) return ERROR_DEVICE_NOT_CONNECTED;
  return ERROR_SUCCESS;
}

DWORD CEmuHid::CopyReport(const CBufferedReport& report, LPVOID pBuffer, DWORD cbBuffer) {
  // The whole report lands in the buffer whatever the count says: bytes past the count
  // are undefined for the reader, and a reader that looks at them is caught.
  memcpy(pBuffer, report.vbReport.data(), std::min<size_t>(report.vbReport.size(), cbBuffer));
  return report.cbDelivered;
}

BOOL CEmuHid::Read(LPVOID pBuffer, DWORD cbToRead, LPDWORD pcbRead, LPOVERLAPPED pOverlapped) {
  std::unique_lock<std::mutex> lock(m_pCore->m_lock);
  DWORD dwError = DeadErrorLocked();
  if (dwError == ERROR_SUCCESS && (pBuffer == nullptr || cbToRead < m_pCore->m_desc.hid.wInputReportLength))
    dwError = ERROR_INVALID_USER_BUFFER;  // a read must take a whole report
  if (dwError == ERROR_SUCCESS && !m_bOverlapped) {
    m_cvReport.wait(lock, [this] { return !m_qReports.empty() || DeadErrorLocked() != ERROR_SUCCESS; });
    dwError = DeadErrorLocked();
  }
  if (dwError != ERROR_SUCCESS) {
    SetLastError(dwError);
    return FALSE;
  }
  if (!m_qReports.empty()) {
    DWORD cb = CopyReport(m_qReports.front(), pBuffer, cbToRead);
    m_qReports.pop_front();
    if (pcbRead) *pcbRead = cb;
    if (pOverlapped) t32posix::CompleteOverlapped(pOverlapped, ERROR_SUCCESS, cb);
    return TRUE;
  }
  if (pOverlapped == nullptr) {
    // An overlapped handle needs an OVERLAPPED for a read that has to wait.
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t32posix::BeginOverlapped(pOverlapped);
  m_qReads.push_back({pBuffer, cbToRead, pOverlapped});
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL CEmuHid::Write(LPCVOID pBuffer, DWORD cbToWrite, LPDWORD pcbWritten, LPOVERLAPPED pOverlapped) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  DWORD dwError = DeadErrorLocked();
  if (dwError == ERROR_SUCCESS && (pBuffer == nullptr || cbToWrite != m_pCore->m_desc.hid.wOutputReportLength))
    dwError = ERROR_INVALID_USER_BUFFER;  // an output report has exactly its length
  if (dwError != ERROR_SUCCESS) {
    SetLastError(dwError);
    return FALSE;
  }
  const BYTE* pb = static_cast<const BYTE*>(pBuffer);
  std::vector<BYTE> vbReport(pb, pb + cbToWrite);
  m_pCore->m_vvbHidWritten.push_back(vbReport);
  if (vbReport == HidQueryReport()) m_pCore->ScheduleHidAnswersLocked();
  if (pcbWritten) *pcbWritten = cbToWrite;
  if (pOverlapped) t32posix::CompleteOverlapped(pOverlapped, ERROR_SUCCESS, cbToWrite);
  return TRUE;
}

void CEmuHid::DeliverLocked(const std::vector<BYTE>& vbReport, DWORD cbDelivered) {
  if (DeadErrorLocked() != ERROR_SUCCESS) return;
  CBufferedReport report{vbReport, cbDelivered};
  if (!m_qReads.empty()) {
    CPendingRead read = m_qReads.front();
    m_qReads.pop_front();
    DWORD cb = CopyReport(report, read.pBuffer, read.cbBuffer);
    t32posix::CompleteOverlapped(read.pOverlapped, ERROR_SUCCESS, cb);
    return;
  }
  if (m_qReports.size() == kReportsPerHandle) m_qReports.pop_front();
  m_qReports.push_back(report);
  m_cvReport.notify_all();
}

void CEmuHid::AbortReadsLocked(DWORD dwError) {
  while (!m_qReads.empty()) {
    LPOVERLAPPED pOverlapped = m_qReads.front().pOverlapped;
    m_qReads.pop_front();
    t32posix::CompleteOverlapped(pOverlapped, dwError, 0);
  }
  m_cvReport.notify_all();
}

void CEmuHid::DetachLocked() {
  m_bDetached = true;
  m_qReports.clear();
  AbortReadsLocked(ERROR_DEVICE_NOT_CONNECTED);
}

BOOL CEmuHid::Cancel() {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  AbortReadsLocked(ERROR_OPERATION_ABORTED);
  return TRUE;
}

void CEmuHid::OnLastHandleClosed() {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  m_bClosed = true;
  m_qReports.clear();
  AbortReadsLocked(ERROR_OPERATION_ABORTED);
  m_pCore->RemoveHidLocked(this);
}

BOOL CEmuHid::GetAttributes(HIDD_ATTRIBUTES* pAttributes) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  DWORD dwError = DeadErrorLocked();
  if (dwError != ERROR_SUCCESS) {
    SetLastError(dwError);
    return FALSE;
  }
  pAttributes->VendorID = m_pCore->m_desc.wVendorId;
  pAttributes->ProductID = m_pCore->m_desc.wProductId;
  pAttributes->VersionNumber = m_pCore->m_desc.hid.wVersion;
  return TRUE;
}

BOOL CEmuHid::GetCaps(HIDP_CAPS* pCaps) {
  std::lock_guard<std::mutex> guard(m_pCore->m_lock);
  DWORD dwError = DeadErrorLocked();
  if (dwError == ERROR_SUCCESS && !m_pCore->m_desc.hid.bCapsReadable) dwError = ERROR_GEN_FAILURE;
  if (dwError != ERROR_SUCCESS) {
    SetLastError(dwError);
    return FALSE;
  }
  const HidDescription& hid = m_pCore->m_desc.hid;
  pCaps->UsagePage = 0xFF00;  // vendor-defined
  pCaps->Usage = 0x0001;
  pCaps->InputReportByteLength = hid.wInputReportLength;
  pCaps->OutputReportByteLength = hid.wOutputReportLength;
  pCaps->NumberLinkCollectionNodes = 1;
  pCaps->NumberInputValueCaps = 1;
  pCaps->NumberOutputValueCaps = 1;
  return TRUE;
}

}  // namespace t32emu

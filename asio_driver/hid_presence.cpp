// The HID presence query: the device's HID control interface must answer a fixed output
// report with an input report whose byte 3 has bit 7 set. The interface is opened twice,
// once for synchronous writes of the reports and once overlapped, so that each read of
// the answer can be given up after a while.
#include "asio_driver/device_discovery.h"
#include "asio_driver/module_heap.h"
#include "common/device_table.h"

namespace t32asio {
namespace {

// The query report (report ID 0 first) and the report that closes the exchange.
const BYTE kQueryReport[kHidOutputReportLength] = {
    0x00, 0x00, 0x00, 0x7C, 0x00, 0x00, 0x00, 0x12, 0xEE, 0xFF, 0x03, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,
};
const BYTE kClosingReport[kHidOutputReportLength] = {0x00, 0x00, 0x00, 0x7C};

// Interfaces of the HID class looked at, at most.
constexpr DWORD kMaxHidInterfaces = 256;
// A detail record larger than this is not believed: no device path comes near it.
constexpr DWORD kMaxDetailSize = 0x10000;

constexpr BYTE kPresentBit = 0x80;

// The connection to one HID device, local to the presence query.
class CHidConnection {
 public:
  CHidConnection()
      : m_hControl(INVALID_HANDLE_VALUE),
        m_hRead(INVALID_HANDLE_VALUE),
        m_usInputLength(0),
        m_usOutputLength(0),
        m_hEvent(NULL) {
    ZeroMemory(&m_overlapped, sizeof(m_overlapped));
  }
  ~CHidConnection() {
    CloseHandles();
    CloseEvent();
  }

  // Manual reset, signalled, unnamed; the overlapped read reports through it.
  BOOL MakeEvent() {
    m_hEvent = CreateEventA(NULL, TRUE, TRUE, NULL);
    m_overlapped.hEvent = m_hEvent;
    return m_hEvent != NULL;
  }
  void CloseEvent() {
    if (m_hEvent != NULL) CloseHandle(m_hEvent);
    m_hEvent = NULL;
    m_overlapped.hEvent = NULL;
  }
  void CloseHandles() {
    CloseControl();
    if (m_hRead != INVALID_HANDLE_VALUE) CloseHandle(m_hRead);
    m_hRead = INVALID_HANDLE_VALUE;
  }

  BOOL Find(WORD wVendorId, WORD wProductId);
  HRESULT QueryExchange();

  USHORT InputLength() const { return m_usInputLength; }

 private:
  void CloseControl() {
    if (m_hControl != INVALID_HANDLE_VALUE) CloseHandle(m_hControl);
    m_hControl = INVALID_HANDLE_VALUE;
  }
  // Opens one interface's path; TRUE when it is the device and both handles are open.
  BOOL TryInterface(const char* pszPath, WORD wVendorId, WORD wProductId);
  // One read of the answer; the byte count it delivered (0 when it failed or timed out).
  DWORD ReadAnswer(BYTE* pbReport, DWORD cbReport);

  HANDLE m_hControl;        // synchronous writes
  HANDLE m_hRead;           // overlapped reads
  USHORT m_usInputLength;   // HIDP_CAPS.InputReportByteLength
  USHORT m_usOutputLength;  // HIDP_CAPS.OutputReportByteLength
  HANDLE m_hEvent;
  OVERLAPPED m_overlapped;
};

BOOL CHidConnection::TryInterface(const char* pszPath, WORD wVendorId, WORD wProductId) {
  CloseControl();
  m_hControl = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
  if (m_hControl == INVALID_HANDLE_VALUE) return FALSE;

  HIDD_ATTRIBUTES attributes;
  ZeroMemory(&attributes, sizeof(attributes));
  attributes.Size = sizeof(attributes);
  if (!HidD_GetAttributes(m_hControl, &attributes) || attributes.VendorID != wVendorId ||
      attributes.ProductID != wProductId) {
    CloseControl();
    return FALSE;
  }
  PHIDP_PREPARSED_DATA pPreparsed = NULL;
  if (!HidD_GetPreparsedData(m_hControl, &pPreparsed)) {
    CloseControl();
    return FALSE;
  }
  HIDP_CAPS caps;
  ZeroMemory(&caps, sizeof(caps));
  NTSTATUS status = HidP_GetCaps(pPreparsed, &caps);
  // Freed whether or not the capabilities could be read.
  HidD_FreePreparsedData(pPreparsed);
  if (status != HIDP_STATUS_SUCCESS) {
    CloseControl();
    return FALSE;
  }
  m_usInputLength = caps.InputReportByteLength;
  m_usOutputLength = caps.OutputReportByteLength;
  m_hRead = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
  if (m_hRead == INVALID_HANDLE_VALUE) {
    CloseControl();
    return FALSE;
  }
  return TRUE;
}

BOOL CHidConnection::Find(WORD wVendorId, WORD wProductId) {
  if (m_hControl != INVALID_HANDLE_VALUE && m_hRead != INVALID_HANDLE_VALUE) return TRUE;

  BOOL bFound = FALSE;
  GUID guidHid;
  HidD_GetHidGuid(&guidHid);
  HDEVINFO hSet = SetupDiGetClassDevsA(&guidHid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (hSet != INVALID_HANDLE_VALUE) {
    for (DWORD dwIndex = 0; dwIndex < kMaxHidInterfaces && !bFound; ++dwIndex) {
      SP_DEVICE_INTERFACE_DATA data;
      ZeroMemory(&data, sizeof(data));
      data.cbSize = sizeof(data);
      if (!SetupDiEnumDeviceInterfaces(hSet, NULL, &guidHid, dwIndex, &data)) {
        if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
        continue;
      }
      DWORD cbRequired = 0;
      if (SetupDiGetDeviceInterfaceDetailA(hSet, &data, NULL, 0, &cbRequired, NULL) ||
          GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        break;
      // The size comes from outside: a record too small for its own header or absurdly
      // large is not allocated; a size that is merely wrong makes the read below fail.
      if (cbRequired < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || cbRequired > kMaxDetailSize)
        continue;
      // One byte more than asked for, zero-filled, so the path always ends in a zero.
      auto* pDetail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(ModuleAlloc(cbRequired + 1));
      if (pDetail == NULL) break;
      pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      if (SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, cbRequired, NULL, NULL))
        bFound = TryInterface(pDetail->DevicePath, wVendorId, wProductId);
      ModuleFree(pDetail);
    }
    SetupDiDestroyDeviceInfoList(hSet);
  }
  if (!bFound) {
    m_usInputLength = 0;
    m_usOutputLength = 0;
    CloseHandles();
  }
  return bFound;
}

DWORD CHidConnection::ReadAnswer(BYTE* pbReport, DWORD cbReport) {
  ResetEvent(m_hEvent);
  DWORD cbRead = 0;
  if (ReadFile(m_hRead, pbReport, cbReport, &cbRead, &m_overlapped)) {
    // Done at once: the count is the report's.
  } else if (GetLastError() != ERROR_IO_PENDING) {
    cbRead = 0;
  } else if (WaitForSingleObject(m_hEvent, kHidAnswerTimeoutMs) == WAIT_OBJECT_0) {
    // The count of the request as it completed: a short or failed read counts what it
    // brought, never the full report.
    if (!GetOverlappedResult(m_hRead, &m_overlapped, &cbRead, FALSE)) cbRead = 0;
  } else {
    // Given up. The request may still own the buffer and the OVERLAPPED until the
    // cancellation has gone through, so wait for it; a report that made it in the
    // meantime still counts.
    CancelIo(m_hRead);
    if (!GetOverlappedResult(m_hRead, &m_overlapped, &cbRead, TRUE)) cbRead = 0;
  }
  ResetEvent(m_hEvent);
  return cbRead < cbReport ? cbRead : cbReport;
}

HRESULT CHidConnection::QueryExchange() {
  if (m_usOutputLength != kHidOutputReportLength) return E_FAIL;

  DWORD cbWritten = 0;
  WriteFile(m_hControl, kQueryReport, sizeof(kQueryReport), &cbWritten, NULL);

  BOOL bAnswered = FALSE;
  for (int nTry = 0; nTry < kHidAnswerTries && !bAnswered; ++nTry) {
    SleepEx(kHidReadPauseMs, FALSE);
    if (m_hRead == INVALID_HANDLE_VALUE || m_usInputLength == 0) continue;
    // Cleared each time, so nothing of an earlier answer can pass for this one.
    BYTE abReport[kHidInputReportLength];
    ZeroMemory(abReport, sizeof(abReport));
    DWORD cbRead = ReadAnswer(abReport, sizeof(abReport));
    bAnswered = IsPresenceAnswer(abReport, cbRead);
  }

  WriteFile(m_hControl, kClosingReport, sizeof(kClosingReport), &cbWritten, NULL);
  return bAnswered ? S_OK : E_FAIL;
}

}  // namespace

BOOL IsPresenceAnswer(const BYTE* pbReport, DWORD cbReport) {
  return pbReport != NULL && cbReport >= 4 && (pbReport[3] & kPresentBit) != 0;
}

HRESULT QueryHidPresence() {
  CHidConnection connection;
  if (!connection.MakeEvent()) return E_FAIL;
  for (const t32::DeviceTableEntry& entry : t32::kDeviceTable) {
    if (entry.wVendorId == 0) continue;
    if (!connection.Find(entry.wVendorId, entry.wProductId)) continue;
    HRESULT hr = connection.InputLength() == kHidInputReportLength ? connection.QueryExchange() : E_FAIL;
    connection.CloseHandles();
    connection.CloseEvent();
    return hr;
  }
  connection.CloseEvent();
  return E_FAIL;
}

}  // namespace t32asio

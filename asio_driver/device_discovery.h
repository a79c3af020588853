// Device discovery: decides whether the Ternix-32 is present and which KS filter is its
// own. A HID presence query first (the device's control interface must answer a fixed
// report), then a search of the KS audio filters for the one whose device path carries
// the device's USB IDs, probed for the sample widths it carries in both directions.
#pragma once

#include "common/status_block_view.h"
#include "platform/win32.h"

namespace t32asio {

// What discovery finds out, kept by the driver object.
struct CDeviceInfo {
  BYTE m_bWidthMask;                // bit 1 16-bit, bit 2 24-bit, bit 3 32-bit
  CHAR m_szSymbolicLink[MAX_PATH];  // the filter's device interface path
  CHAR m_szDeviceName[MAX_PATH];    // its friendly name, or "Ternix32"
  LONG m_bRecords;                  // 1 when the device has capture pins
};

// The presence query's exchange with the HID control interface: the report lengths the
// interface must have, the reads of the answer and how long each may take.
constexpr USHORT kHidInputReportLength = 20;
constexpr USHORT kHidOutputReportLength = 29;
constexpr int kHidAnswerTries = 3;
constexpr DWORD kHidReadPauseMs = 2;        // before each read
constexpr DWORD kHidAnswerTimeoutMs = 5000;  // per read

// Runs discovery for a driver object created with clsid. On success: *pInfo is filled,
// the block (when valid and unclaimed at the time of the presence answer) is claimed with
// DriverState 1, the device name is written into an owned block, timeBeginPeriod(1) is in
// force (the caller ends it at destruction). *pbLoaded tells the caller that its state is
// now LOADED: set once the presence query succeeded, even when the KS search fails
// afterwards. Returns S_OK, or E_FAIL when the device is not found (the state stays 0
// when the presence query failed; the block stays claimed when the KS search failed
// after it, and the caller's destruction releases it). pBlock may be null (no block).
HRESULT DiscoverDevice(REFCLSID clsid, t32::CStatusBlockView* pBlock, CDeviceInfo* pInfo, BOOL* pbLoaded);

// The HID presence query alone: S_OK when the device's control interface answered.
HRESULT QueryHidPresence();

// Whether an input report read from the control interface is the presence answer: at
// least 4 bytes, and bit 7 of byte 3 set. cbReport is the byte count the read delivered.
BOOL IsPresenceAnswer(const BYTE* pbReport, DWORD cbReport);

// Whether a device interface path carries a (VID, PID) pair of the device table, each as
// four hexadecimal digits after "VID_" and "PID_", and an "MI_" part; compares without
// regard to case. S_OK or E_FAIL.
HRESULT MatchDeviceId(const char* pszPath);

}  // namespace t32asio

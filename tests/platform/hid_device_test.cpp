// A HID device as the Windows HID class presents it, here the emulated Ternix-32's
// control interface: its interface in SetupAPI, attributes and capabilities through the
// HID library, reports through WriteFile and overlapped ReadFile, cancellation and removal.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "emulator/emu_hid.h"
#include "emulator/emulated_device.h"
#include "platform/posix/test_hooks.h"
#include "platform/win32.h"
#include "support/fresh_root.h"

namespace {

GUID HidGuid() {
  GUID guid;
  HidD_GetHidGuid(&guid);
  return guid;
}

// The paths of the present HID interfaces, in enumeration order.
std::vector<std::string> HidPaths() {
  std::vector<std::string> vPaths;
  GUID guid = HidGuid();
  HDEVINFO hSet = SetupDiGetClassDevsA(&guid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (hSet == INVALID_HANDLE_VALUE) return vPaths;
  for (DWORD i = 0;; ++i) {
    SP_DEVICE_INTERFACE_DATA data;
    memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(hSet, NULL, &guid, i, &data)) break;
    std::vector<BYTE> vb(1024);
    auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(vb.data());
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, (DWORD)vb.size(), NULL, NULL))
      vPaths.push_back(pDetail->DevicePath);
  }
  SetupDiDestroyDeviceInfoList(hSet);
  return vPaths;
}

class HidDeviceTest : public ::testing::Test {
 protected:
  t32emu::CEmulatedDevice* Plug(const t32emu::DeviceDescription& desc = t32emu::Ternix32Description()) {
    m_pDevice = t32emu::Plug(desc);
    return m_pDevice.get();
  }
  HANDLE Open(DWORD dwFlags) {
    return CreateFileA(m_pDevice->HidInterfacePath().c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, dwFlags, NULL);
  }
  // A pending overlapped read of one input report.
  struct CRead {
    BYTE abReport[64] = {};
    OVERLAPPED overlapped = {};
    CRead() { overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL); }
    ~CRead() { CloseHandle(overlapped.hEvent); }
  };

  t32test::FreshRoot m_root;
  std::unique_ptr<t32emu::CEmulatedDevice> m_pDevice;
};

TEST_F(HidDeviceTest, InterfaceIsListedInTheHidClassWithItsUsbIdentity) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  Plug(desc);
  char szExpected[160];
  snprintf(szExpected, sizeof(szExpected),
           "\\\\?\\hid#vid_%04x&pid_%04x&mi_03#8&1f3b7c2a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
           desc.wVendorId, desc.wProductId);
  EXPECT_EQ(HidPaths(), std::vector<std::string>{szExpected});
  EXPECT_EQ(m_pDevice->HidInterfacePath(), szExpected);

  HANDLE h = Open(0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HIDD_ATTRIBUTES attributes;
  memset(&attributes, 0, sizeof(attributes));
  ASSERT_TRUE(HidD_GetAttributes(h, &attributes));
  EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
  EXPECT_EQ(attributes.VendorID, desc.wVendorId);
  EXPECT_EQ(attributes.ProductID, desc.wProductId);

  PHIDP_PREPARSED_DATA pPreparsed = NULL;
  size_t nBlocks = t32posix::HeapLiveBlocks(GetProcessHeap());
  ASSERT_TRUE(HidD_GetPreparsedData(h, &pPreparsed));
  HIDP_CAPS caps;
  ASSERT_EQ(HidP_GetCaps(pPreparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.InputReportByteLength, 20);
  EXPECT_EQ(caps.OutputReportByteLength, 29);
  EXPECT_TRUE(HidD_FreePreparsedData(pPreparsed));
  EXPECT_EQ(t32posix::HeapLiveBlocks(GetProcessHeap()), nBlocks);
  // Freed data is no preparsed data any more.
  EXPECT_EQ(HidP_GetCaps(pPreparsed, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);

  // A device without its HID interface, or one whose description cannot be read.
  m_pDevice->EditDescription([](t32emu::DeviceDescription& d) { d.hid.bCapsReadable = false; });
  EXPECT_FALSE(HidD_GetPreparsedData(h, &pPreparsed));
  CloseHandle(h);
  m_pDevice.reset();
  desc.hid.bPresent = false;
  Plug(desc);
  EXPECT_TRUE(HidPaths().empty());
  EXPECT_EQ(Open(0), INVALID_HANDLE_VALUE);
}

// The query report is answered with an input report; every open handle gets its own copy,
// and reports that arrive before a read wait in the handle's buffer.
TEST_F(HidDeviceTest, QueryIsAnsweredOnEveryOpenHandle) {
  Plug();
  HANDLE hControl = Open(0);
  HANDLE hRead = Open(FILE_FLAG_OVERLAPPED);
  ASSERT_NE(hControl, INVALID_HANDLE_VALUE);
  ASSERT_NE(hRead, INVALID_HANDLE_VALUE);

  std::vector<BYTE> vbQuery = t32emu::HidQueryReport();
  DWORD cb = 0;
  // An output report has exactly the report length.
  EXPECT_FALSE(WriteFile(hControl, vbQuery.data(), 28, &cb, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
  ASSERT_TRUE(WriteFile(hControl, vbQuery.data(), (DWORD)vbQuery.size(), &cb, NULL));
  EXPECT_EQ(cb, 29u);

  CRead read;
  // A read must take a whole input report.
  EXPECT_FALSE(ReadFile(hRead, read.abReport, 19, &cb, &read.overlapped));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
  ASSERT_TRUE(ReadFile(hRead, read.abReport, 20, &cb, &read.overlapped));
  EXPECT_EQ(cb, 20u);
  EXPECT_EQ(read.abReport[3], 0xFC);
  EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 0), WAIT_OBJECT_0);

  // The synchronous handle got the same report.
  BYTE abSync[20] = {};
  ASSERT_TRUE(ReadFile(hControl, abSync, sizeof(abSync), &cb, NULL));
  EXPECT_EQ(cb, 20u);
  EXPECT_EQ(abSync[3], 0xFC);
  EXPECT_EQ(m_pDevice->HidReportsWritten(), std::vector<std::vector<BYTE>>{vbQuery});
  CloseHandle(hControl);
  CloseHandle(hRead);
}

// A read with nothing to take stays pending; it completes when the late answer comes, is
// aborted by CancelIo, and fails when the device leaves.
TEST_F(HidDeviceTest, PendingReadsCompleteLateOrAreCancelledOrFailOnRemoval) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.hid.vAnswers = {{true, 20, 30}};
  Plug(desc);
  HANDLE hControl = Open(0);
  HANDLE hRead = Open(FILE_FLAG_OVERLAPPED);
  std::vector<BYTE> vbQuery = t32emu::HidQueryReport();
  DWORD cb = 0;
  ASSERT_TRUE(WriteFile(hControl, vbQuery.data(), (DWORD)vbQuery.size(), &cb, NULL));

  {
    CRead read;
    EXPECT_FALSE(ReadFile(hRead, read.abReport, 20, &cb, &read.overlapped));
    ASSERT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    EXPECT_FALSE(GetOverlappedResult(hRead, &read.overlapped, &cb, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_IO_INCOMPLETE);
    ASSERT_EQ(WaitForSingleObject(read.overlapped.hEvent, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(hRead, &read.overlapped, &cb, FALSE));
    EXPECT_EQ(cb, 20u);
    EXPECT_EQ(read.abReport[3], 0xFC);
  }
  {
    CRead read;
    EXPECT_FALSE(ReadFile(hRead, read.abReport, 20, &cb, &read.overlapped));
    ASSERT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    EXPECT_TRUE(CancelIo(hRead));
    ASSERT_EQ(WaitForSingleObject(read.overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(hRead, &read.overlapped, &cb, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_OPERATION_ABORTED);
    EXPECT_EQ(cb, 0u);
  }
  {
    CRead read;
    EXPECT_FALSE(ReadFile(hRead, read.abReport, 20, &cb, &read.overlapped));
    ASSERT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    m_pDevice->Unplug();
    ASSERT_EQ(WaitForSingleObject(read.overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(hRead, &read.overlapped, &cb, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WriteFile(hControl, vbQuery.data(), (DWORD)vbQuery.size(), &cb, NULL));
    HIDD_ATTRIBUTES attributes;
    EXPECT_FALSE(HidD_GetAttributes(hControl, &attributes));
  }
  CloseHandle(hControl);
  CloseHandle(hRead);
}

// A blocking read on a handle opened without FILE_FLAG_OVERLAPPED waits for the report.
TEST_F(HidDeviceTest, SynchronousReadWaitsForTheReport) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.hid.vAnswers = {{false, 20, 20}};
  Plug(desc);
  HANDLE hControl = Open(0);
  std::vector<BYTE> vbQuery = t32emu::HidQueryReport();
  DWORD cb = 0;
  ASSERT_TRUE(WriteFile(hControl, vbQuery.data(), (DWORD)vbQuery.size(), &cb, NULL));
  BYTE abReport[20] = {};
  ASSERT_TRUE(ReadFile(hControl, abReport, sizeof(abReport), &cb, NULL));
  EXPECT_EQ(abReport[3], 0x7C);
  CloseHandle(hControl);
}

// The detail size query reports what the interface's record needs; with the list fault it
// reports a wrong size, and a read with a buffer of that size fails when it is too small.
TEST_F(HidDeviceTest, DetailSizeFaultMisreportsTheSizeOnly) {
  t32emu::DeviceDescription desc = t32emu::Ternix32Description();
  desc.hid.nDetailSizeSkew = -3;
  Plug(desc);
  GUID guid = HidGuid();
  HDEVINFO hSet = SetupDiGetClassDevsA(&guid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(hSet, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data;
  memset(&data, 0, sizeof(data));
  data.cbSize = sizeof(data);
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(hSet, NULL, &guid, 0, &data));
  DWORD cbRequired = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(hSet, &data, NULL, 0, &cbRequired, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  DWORD cbTrue = (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                         m_pDevice->HidInterfacePath().size() + 1);
  EXPECT_EQ(cbRequired, cbTrue - 3);
  std::vector<BYTE> vb(cbRequired);
  auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(vb.data());
  pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(hSet, &data, pDetail, cbRequired, NULL, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  SetupDiDestroyDeviceInfoList(hSet);
}

}  // namespace

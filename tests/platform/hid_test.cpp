// The HID class library as the presence query relies on it, on handles that are no HID
// device: every call fails cleanly. Built for Windows too, where it runs against the
// real library.
#include <gtest/gtest.h>

#include "platform/win32.h"

namespace {

TEST(HidTest, HidInterfaceClassIsTheKnownGuid) {
  const GUID kHid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  GUID guid;
  memset(&guid, 0xA5, sizeof(guid));
  HidD_GetHidGuid(&guid);
  EXPECT_TRUE(IsEqualGUID(guid, kHid));
}

TEST(HidTest, CallsOnHandlesThatAreNoHidDeviceFail) {
  HANDLE hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  ASSERT_NE(hEvent, (HANDLE)NULL);
  for (HANDLE h : {INVALID_HANDLE_VALUE, hEvent}) {
    HIDD_ATTRIBUTES attributes;
    memset(&attributes, 0, sizeof(attributes));
    attributes.Size = sizeof(attributes);
    SetLastError(0);
    EXPECT_FALSE(HidD_GetAttributes(h, &attributes));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(attributes.VendorID, 0);

    PHIDP_PREPARSED_DATA pPreparsed = NULL;
    EXPECT_FALSE(HidD_GetPreparsedData(h, &pPreparsed));
    EXPECT_EQ(pPreparsed, (PHIDP_PREPARSED_DATA)NULL);
  }
  CloseHandle(hEvent);
}

TEST(HidTest, CapsOfDataThatIsNoPreparsedDataAreRefused) {
  // Zero-filled, so a library that looks inside finds no signature and reads nothing wild.
  alignas(16) BYTE abBogus[256] = {};
  HIDP_CAPS caps;
  memset(&caps, 0, sizeof(caps));
  EXPECT_EQ(HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(abBogus), &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(caps.InputReportByteLength, 0);
}

}  // namespace

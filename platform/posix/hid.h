// The HID class library ("hid.dll") for Linux builds: the calls the driver makes to find
// the device's HID control interface and read its report lengths. The device side is a
// CHidFileObject (hid_file_object.h), which the emulated device provides.
#pragma once

#include "win_types.h"

#define NTAPI

typedef USHORT USAGE, *PUSAGE;

typedef struct _HIDD_ATTRIBUTES {
  ULONG Size;  // set by HidD_GetAttributes
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
} HIDD_ATTRIBUTES, *PHIDD_ATTRIBUTES;

// Opaque to callers; HidD_GetPreparsedData hands one out, HidD_FreePreparsedData takes it back.
typedef struct _HIDP_PREPARSED_DATA* PHIDP_PREPARSED_DATA;

typedef struct _HIDP_CAPS {
  USAGE Usage;
  USAGE UsagePage;
  USHORT InputReportByteLength;  // report ID byte included
  USHORT OutputReportByteLength;
  USHORT FeatureReportByteLength;
  USHORT Reserved[17];
  USHORT NumberLinkCollectionNodes;
  USHORT NumberInputButtonCaps;
  USHORT NumberInputValueCaps;
  USHORT NumberInputDataIndices;
  USHORT NumberOutputButtonCaps;
  USHORT NumberOutputValueCaps;
  USHORT NumberOutputDataIndices;
  USHORT NumberFeatureButtonCaps;
  USHORT NumberFeatureValueCaps;
  USHORT NumberFeatureDataIndices;
} HIDP_CAPS, *PHIDP_CAPS;

// Status codes of the HidP_ functions (facility 0x11).
#define HIDP_STATUS_SUCCESS ((NTSTATUS)0x00110000)
#define HIDP_STATUS_NULL ((NTSTATUS)0x80110001)
#define HIDP_STATUS_INVALID_PREPARSED_DATA ((NTSTATUS)0xC0110001)

extern "C" {
// The device interface class of HID collections.
void NTAPI HidD_GetHidGuid(LPGUID HidGuid);
// Vendor, product and version of the HID device behind a handle. FALSE (with the error
// set) when the handle is not an open HID device.
BOOLEAN NTAPI HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes);
// A description of the collection, allocated for the caller; free it with
// HidD_FreePreparsedData. FALSE when the handle is not a HID device or memory is short.
BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData);
BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
// HIDP_STATUS_INVALID_PREPARSED_DATA for anything HidD_GetPreparsedData did not hand out.
NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities);
}

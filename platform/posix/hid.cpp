// The HID class library. Attributes and capabilities come from the HID device object
// behind the handle; the preparsed data we hand out carries a copy of the capabilities
// and is known by address, so a pointer we did not hand out is refused without being
// read.
#include "hid.h"

#include <mutex>
#include <set>

#include "hid_file_object.h"
#include "kernel32.h"

namespace t32posix {
namespace {

// The HID device interface class, {4D1E55B2-F16F-11CF-88CB-001111000030}.
constexpr GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct CPreparsedData {
  HIDP_CAPS caps;
};

std::mutex g_lockPreparsed;
std::set<const void*>& LivePreparsed() {
  static std::set<const void*>* set = new std::set<const void*>;
  return *set;
}

// The HID class requests are device I/O controls: a handle that is no file fails as an
// invalid handle, a file or device of another kind does not know the requests.
std::shared_ptr<CHidFileObject> HidFromHandle(HANDLE h) {
  auto file = ReferenceHandleAs<CFileObject>(h);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto hid = std::dynamic_pointer_cast<CHidFileObject>(file);
  if (!hid) SetLastError(ERROR_INVALID_FUNCTION);
  return hid;
}

}  // namespace
}  // namespace t32posix

using namespace t32posix;

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID HidGuid) {
  if (HidGuid) *HidGuid = kHidInterfaceClass;
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes) {
  auto hid = HidFromHandle(HidDeviceObject);
  if (!hid) return FALSE;
  if (!Attributes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HIDD_ATTRIBUTES attributes;
  memset(&attributes, 0, sizeof(attributes));
  if (!hid->GetAttributes(&attributes)) return FALSE;
  attributes.Size = sizeof(HIDD_ATTRIBUTES);
  *Attributes = attributes;
  return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData) {
  auto hid = HidFromHandle(HidDeviceObject);
  if (!hid) return FALSE;
  if (!PreparsedData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HIDP_CAPS caps;
  memset(&caps, 0, sizeof(caps));
  if (!hid->GetCaps(&caps)) return FALSE;
  auto* pData = static_cast<CPreparsedData*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CPreparsedData)));
  if (!pData) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  pData->caps = caps;
  {
    std::lock_guard<std::mutex> guard(g_lockPreparsed);
    LivePreparsed().insert(pData);
  }
  *PreparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(pData);
  return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
  {
    std::lock_guard<std::mutex> guard(g_lockPreparsed);
    if (LivePreparsed().erase(PreparsedData) == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  HeapFree(GetProcessHeap(), 0, PreparsedData);
  return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities) {
  std::lock_guard<std::mutex> guard(g_lockPreparsed);
  if (LivePreparsed().count(PreparsedData) == 0) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  if (!Capabilities) return HIDP_STATUS_NULL;
  *Capabilities = reinterpret_cast<const CPreparsedData*>(PreparsedData)->caps;
  return HIDP_STATUS_SUCCESS;
}

}  // extern "C"

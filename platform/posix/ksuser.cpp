// ksuser.dll: KsCreatePin, which opens a pin instance on a KS filter handle. As on
// Windows the connect request is followed by its data format, whose FormatSize gives
// the length of the whole request.
#include <mutex>

#include "builtin_modules.h"
#include "ks_file_object.h"

using namespace t32posix;

namespace {

DWORD WINAPI KsCreatePinExport(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK DesiredAccess,
                               PHANDLE ConnectionHandle) {
  if (Connect == nullptr || ConnectionHandle == nullptr) return ERROR_INVALID_PARAMETER;
  auto filter = ReferenceHandleAs<CKsFilterFileObject>(FilterHandle);
  if (!filter) return ERROR_INVALID_HANDLE;
  const KSDATAFORMAT* pFormat = reinterpret_cast<const KSDATAFORMAT*>(Connect + 1);
  if (pFormat->FormatSize < sizeof(KSDATAFORMAT) || pFormat->FormatSize > 0x10000) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<CFileObject> pin;
  DWORD dwError = filter->CreatePin(Connect, (ULONG)(sizeof(KSPIN_CONNECT) + pFormat->FormatSize), DesiredAccess, &pin);
  if (dwError != ERROR_SUCCESS) return dwError;
  pin->m_bOverlapped = true;
  *ConnectionHandle = InsertHandle(pin);
  return ERROR_SUCCESS;
}

const BuiltinExport kKsUserExports[] = {
    {"KsCreatePin", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&KsCreatePinExport))},
    {nullptr, nullptr},
};

}  // namespace

namespace t32posix {

void RegisterKsUser() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterBuiltinModule("ksuser.dll", kKsUserExports); });
}

}  // namespace t32posix

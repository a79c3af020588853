// The structures, GUIDs and values whose layout the Linux declarations must share with
// the Windows SDK. Each area of the platform adds its own lines here.
#pragma once

#define T32_LAYOUT_BASE                                  \
  T32_SIZE(GUID);                                        \
  T32_SIZE(LARGE_INTEGER);                               \
  T32_SIZE(FILETIME);                                    \
  T32_SIZE(SECURITY_ATTRIBUTES);                         \
  T32_FIELD(SECURITY_ATTRIBUTES, lpSecurityDescriptor);  \
  T32_FIELD(SECURITY_ATTRIBUTES, bInheritHandle);        \
  T32_SIZE(OVERLAPPED);                                  \
  T32_FIELD(OVERLAPPED, InternalHigh);                   \
  T32_FIELD(OVERLAPPED, Offset);                         \
  T32_FIELD(OVERLAPPED, OffsetHigh);                     \
  T32_FIELD(OVERLAPPED, hEvent);                         \
  T32_SIZE(SYSTEM_INFO);                                 \
  T32_FIELD(SYSTEM_INFO, dwPageSize);                    \
  T32_FIELD(SYSTEM_INFO, dwActiveProcessorMask);         \
  T32_FIELD(SYSTEM_INFO, dwNumberOfProcessors);          \
  T32_FIELD(SYSTEM_INFO, wProcessorRevision);            \
  T32_SIZE(t32::StatusBlock);                            \
  T32_FIELD(t32::StatusBlock, OwnerClsid);               \
  T32_FIELD(t32::StatusBlock, DeviceName);               \
  T32_FIELD(t32::StatusBlock, ResetRequest);             \
  T32_GUID(IID_IUnknown);                                \
  T32_GUID(IID_IClassFactory);                           \
  T32_VALUE(E_FAIL);                                     \
  T32_VALUE(E_OUTOFMEMORY);                              \
  T32_VALUE(E_INVALIDARG);                               \
  T32_VALUE(E_NOINTERFACE);                              \
  T32_VALUE(CO_E_CLASSSTRING);                           \
  T32_VALUE(HRESULT_FROM_WIN32(ERROR_MORE_DATA));        \
  T32_VALUE(ERROR_IO_PENDING);                           \
  T32_VALUE(ERROR_INSUFFICIENT_BUFFER);                  \
  T32_VALUE(ERROR_NO_MORE_ITEMS);                        \
  T32_VALUE(WAIT_FAILED);                                \
  T32_VALUE(WAIT_TIMEOUT);                               \
  T32_VALUE(STILL_ACTIVE);                               \
  T32_VALUE(FILE_MAP_ALL_ACCESS);                        \
  T32_VALUE(FILE_FLAG_OVERLAPPED);                       \
  T32_VALUE(THREAD_PRIORITY_TIME_CRITICAL);              \
  T32_VALUE(KEY_ALL_ACCESS);                             \
  T32_VALUE((ULONG_PTR)HKEY_LOCAL_MACHINE);              \
  T32_VALUE((ULONG_PTR)HKEY_CURRENT_USER);               \
  T32_VALUE((ULONG_PTR)HKEY_CLASSES_ROOT);

#define T32_LAYOUT_TABLE T32_LAYOUT_BASE

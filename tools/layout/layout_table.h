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

// Kernel streaming, wave formats and SetupAPI. (KSPROPSETID_Topology is left out: the
// MinGW-w64 import library gives that symbol a wrong value, so the KS layer spells it out.)
#define T32_LAYOUT_KS                                         \
  T32_SIZE(KSPROPERTY);                                       \
  T32_SIZE(KSP_PIN);                                          \
  T32_FIELD(KSP_PIN, PinId);                                  \
  T32_SIZE(KSMULTIPLE_ITEM);                                  \
  T32_SIZE(KSPIN_CINSTANCES);                                 \
  T32_SIZE(KSPIN_CONNECT);                                    \
  T32_FIELD(KSPIN_CONNECT, PinId);                            \
  T32_FIELD(KSPIN_CONNECT, PinToHandle);                      \
  T32_FIELD(KSPIN_CONNECT, Priority);                         \
  T32_SIZE(KSDATAFORMAT);                                     \
  T32_FIELD(KSDATAFORMAT, SubFormat);                         \
  T32_SIZE(KSDATARANGE_AUDIO);                                \
  T32_FIELD(KSDATARANGE_AUDIO, MaximumSampleFrequency);       \
  T32_SIZE(KSSTREAM_HEADER);                                  \
  T32_FIELD(KSSTREAM_HEADER, FrameExtent);                    \
  T32_FIELD(KSSTREAM_HEADER, Data);                           \
  T32_FIELD(KSSTREAM_HEADER, OptionsFlags);                   \
  T32_SIZE(WAVEFORMATEX);                                     \
  T32_SIZE(WAVEFORMATEXTENSIBLE);                             \
  T32_FIELD(WAVEFORMATEXTENSIBLE, SubFormat);                 \
  T32_SIZE(SP_DEVICE_INTERFACE_DATA);                         \
  T32_SIZE(SP_DEVINFO_DATA);                                  \
  T32_SIZE(SP_DEVICE_INTERFACE_DETAIL_DATA_A);                \
  T32_FIELD(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);   \
  T32_GUID(KSPROPSETID_Pin);                                  \
  T32_GUID(KSPROPSETID_Connection);                           \
  T32_GUID(KSINTERFACESETID_Standard);                        \
  T32_GUID(KSMEDIUMSETID_Standard);                           \
  T32_GUID(KSCATEGORY_AUDIO);                                 \
  T32_GUID(KSCATEGORY_RENDER);                                \
  T32_GUID(KSCATEGORY_CAPTURE);                               \
  T32_GUID(KSDATAFORMAT_TYPE_AUDIO);                          \
  T32_GUID(KSDATAFORMAT_SUBTYPE_PCM);                         \
  T32_GUID(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);                  \
  T32_GUID(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);              \
  T32_GUID(KSNODETYPE_SPEAKER);                               \
  T32_GUID(KSNODETYPE_VOLUME);                                \
  T32_VALUE(IOCTL_KS_PROPERTY);                               \
  T32_VALUE(IOCTL_KS_WRITE_STREAM);                           \
  T32_VALUE(IOCTL_KS_READ_STREAM);                            \
  T32_VALUE(IOCTL_KS_RESET_STATE);                            \
  T32_VALUE(KSPROPERTY_PIN_NAME);                             \
  T32_VALUE(KSPROPERTY_TOPOLOGY_NODES);                       \
  T32_VALUE(KSPRIORITY_NORMAL);                               \
  T32_VALUE(SPDRP_FRIENDLYNAME);                              \
  T32_VALUE(DIGCF_DEVICEINTERFACE);                           \
  T32_VALUE(SPINT_REMOVED);

// Program starts and windows.
#define T32_LAYOUT_SHELL                            \
  T32_SIZE(SHELLEXECUTEINFOA);                      \
  T32_FIELD(SHELLEXECUTEINFOA, lpVerb);             \
  T32_FIELD(SHELLEXECUTEINFOA, nShow);              \
  T32_FIELD(SHELLEXECUTEINFOA, hInstApp);           \
  T32_FIELD(SHELLEXECUTEINFOA, dwHotKey);           \
  T32_FIELD(SHELLEXECUTEINFOA, hProcess);           \
  T32_VALUE(SEE_MASK_NOCLOSEPROCESS);               \
  T32_VALUE(SEE_MASK_FLAG_NO_UI);                   \
  T32_VALUE(SE_ERR_FNF);                            \
  T32_VALUE(SE_ERR_NOASSOC);                        \
  T32_VALUE(SW_SHOWNORMAL);                         \
  T32_VALUE(ERROR_NO_ASSOCIATION);                  \
  T32_VALUE(ERROR_CANNOT_FIND_WND_CLASS);

// The HID class library.
#define T32_LAYOUT_HID                                 \
  T32_SIZE(HIDD_ATTRIBUTES);                           \
  T32_FIELD(HIDD_ATTRIBUTES, VendorID);                \
  T32_FIELD(HIDD_ATTRIBUTES, ProductID);               \
  T32_FIELD(HIDD_ATTRIBUTES, VersionNumber);           \
  T32_SIZE(HIDP_CAPS);                                 \
  T32_FIELD(HIDP_CAPS, InputReportByteLength);         \
  T32_FIELD(HIDP_CAPS, OutputReportByteLength);        \
  T32_FIELD(HIDP_CAPS, NumberLinkCollectionNodes);     \
  T32_FIELD(HIDP_CAPS, NumberFeatureDataIndices);      \
  T32_VALUE(HIDP_STATUS_SUCCESS);                      \
  T32_VALUE(HIDP_STATUS_INVALID_PREPARSED_DATA);

#define T32_LAYOUT_TABLE T32_LAYOUT_BASE T32_LAYOUT_KS T32_LAYOUT_SHELL T32_LAYOUT_HID

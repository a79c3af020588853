#include "kslib/ks_irp_target.h"

#include "kslib/ks_trace.h"

CKsIrpTarget::CKsIrpTarget() : m_hHandle(INVALID_HANDLE_VALUE) {
  KsTraceEnter("CKsIrpTarget::CKsIrpTarget");
  KsTraceLeave("CKsIrpTarget::CKsIrpTarget");
}

CKsIrpTarget::~CKsIrpTarget() {
  KsTraceEnter("CKsIrpTarget::~CKsIrpTarget");
  KsTraceLeave("CKsIrpTarget::~CKsIrpTarget");
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE hHandle) {
  KsTraceEnter("CKsIrpTarget::IsValidHandle");
  BOOL bValid = hHandle != NULL && hHandle != INVALID_HANDLE_VALUE;
  KsTraceLeave("CKsIrpTarget::IsValidHandle");
  return bValid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& hHandle) {
  KsTraceEnter("CKsIrpTarget::SafeCloseHandle");
  BOOL bResult = TRUE;
  if (IsValidHandle(hHandle)) {
    bResult = CloseHandle(hHandle);
    hHandle = INVALID_HANDLE_VALUE;
  }
  KsTraceLeave("CKsIrpTarget::SafeCloseHandle");
  return bResult;
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE hHandle, ULONG ulIoctl, PVOID pvIn, ULONG cbIn, PVOID pvOut, ULONG cbOut,
                                ULONG* pcbReturned) {
  KsTraceEnter("CKsIrpTarget::SyncIoctl");
  if (!IsValidHandle(hHandle)) {
    TraceMessage(KSTRACE_FAILURE, "CKsIrpTarget::SyncIoctl Invalid Handle");
    return KsTraceLeaveHr("CKsIrpTarget::SyncIoctl", E_FAIL);
  }
  ULONG cbLocal = 0;
  if (pcbReturned == NULL) pcbReturned = &cbLocal;

  OVERLAPPED ov;
  memset(&ov, 0, sizeof(ov));
  HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (hEvent == NULL) {
    TraceMessage(KSTRACE_FAILURE, "CKsIrpTarget::SyncIoctl CreateEvent failed");
    return KsTraceLeaveHr("CKsIrpTarget::SyncIoctl", E_OUTOFMEMORY);
  }
  // The low bit keeps the completion away from any completion port bound to the handle;
  // the event is still signalled.
  ov.hEvent = (HANDLE)((ULONG_PTR)hEvent | 1);

  HRESULT hr = S_OK;
  DWORD cbReturned = 0;
  if (DeviceIoControl(hHandle, ulIoctl, pvIn, cbIn, pvOut, cbOut, &cbReturned, &ov)) {
    *pcbReturned = cbReturned;
  } else {
    DWORD dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING) {
      DWORD dwWait = WaitForSingleObject(hEvent, INFINITE);
      if (dwWait != WAIT_OBJECT_0) {
        TraceMessage(KSTRACE_FAILURE, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
                     (unsigned)dwWait);
        hr = E_FAIL;
      }
      *pcbReturned = 0;
    } else if ((dwError == ERROR_INSUFFICIENT_BUFFER || dwError == ERROR_MORE_DATA) && ulIoctl == IOCTL_KS_PROPERTY &&
               cbOut == 0) {
      *pcbReturned = cbReturned;  // a size query: the size the device needs
    } else {
      hr = E_FAIL;
      *pcbReturned = 0;
    }
  }
  SafeCloseHandle(hEvent);
  return KsTraceLeaveHr("CKsIrpTarget::SyncIoctl", hr);
}

HRESULT CKsIrpTarget::PropertySimple(const char* pszName, ULONG ulFlags, REFGUID guidSet, ULONG ulId, PVOID pvValue,
                                     ULONG cbValue) {
  KsTraceEnter(pszName);
  PKSPROPERTY pProperty = static_cast<PKSPROPERTY>(KsAlloc(sizeof(KSPROPERTY)));
  if (pProperty == NULL) return KsTraceLeaveHr(pszName, E_OUTOFMEMORY);
  pProperty->Set = guidSet;
  pProperty->Id = ulId;
  pProperty->Flags = ulFlags;
  // KS property requests carry the value in the output buffer, for a set as for a get.
  ULONG cbReturned = 0;
  HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, pProperty, sizeof(KSPROPERTY), pvValue, cbValue, &cbReturned);
  KsFree(pProperty);
  return KsTraceLeaveHr(pszName, hr);
}

HRESULT CKsIrpTarget::GetPropertySimple(REFGUID guidSet, ULONG ulId, PVOID pvValue, ULONG cbValue) {
  return PropertySimple("CKsIrpTarget::GetPropertySimple", KSPROPERTY_TYPE_GET, guidSet, ulId, pvValue, cbValue);
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID guidSet, ULONG ulId, PVOID pvValue, ULONG cbValue) {
  return PropertySimple("CKsIrpTarget::SetPropertySimple", KSPROPERTY_TYPE_SET, guidSet, ulId, pvValue, cbValue);
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID guidSet, ULONG ulId, PKSMULTIPLE_ITEM* ppItems, ULONG* pcbItems) {
  KsTraceEnter("CKsIrpTarget::GetPropertyMulti");
  if (pcbItems != NULL) *pcbItems = 0;
  KSPROPERTY ksProperty;
  memset(&ksProperty, 0, sizeof(ksProperty));
  ksProperty.Set = guidSet;
  ksProperty.Id = ulId;
  ksProperty.Flags = KSPROPERTY_TYPE_GET;

  ULONG cbSize = 0;
  HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksProperty, sizeof(ksProperty), NULL, 0, &cbSize);
  if (FAILED(hr)) return KsTraceLeaveHr("CKsIrpTarget::GetPropertyMulti", hr);
  if (cbSize == 0) return KsTraceLeaveHr("CKsIrpTarget::GetPropertyMulti", S_OK);
  if (cbSize < sizeof(KSMULTIPLE_ITEM)) {
    // Too small to hold even the item header: nothing the caller could read safely.
    TraceMessage(KSTRACE_FAILURE, "CKsIrpTarget::GetPropertyMulti size query reported %u bytes", (unsigned)cbSize);
    return KsTraceLeaveHr("CKsIrpTarget::GetPropertyMulti", E_FAIL);
  }
  PKSMULTIPLE_ITEM pItems = static_cast<PKSMULTIPLE_ITEM>(KsAlloc(cbSize));
  if (pItems == NULL) return KsTraceLeaveHr("CKsIrpTarget::GetPropertyMulti", E_OUTOFMEMORY);
  *ppItems = pItems;
  if (pcbItems != NULL) *pcbItems = cbSize;
  ULONG cbReturned = 0;
  hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksProperty, sizeof(ksProperty), pItems, cbSize, &cbReturned);
  return KsTraceLeaveHr("CKsIrpTarget::GetPropertyMulti", hr);
}

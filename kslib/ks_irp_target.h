// CKsIrpTarget: the base of every object that owns a handle to a KS file object (a filter
// or a pin), with the synchronous I/O control and the property requests built on it.
#pragma once

#include "kslib/ks_alloc.h"

class CKsIrpTarget : public CKsHeapObject {
 public:
  CKsIrpTarget();

  static BOOL IsValidHandle(HANDLE hHandle);
  // Closes a valid handle and leaves INVALID_HANDLE_VALUE behind; TRUE for a handle that
  // was not valid (nothing is called then).
  static BOOL SafeCloseHandle(HANDLE& hHandle);
  // Sends one request and waits for it. A pending request that completes gives S_OK with
  // a byte count of 0; a property size query (IOCTL_KS_PROPERTY, no output buffer) that
  // fails with ERROR_MORE_DATA or ERROR_INSUFFICIENT_BUFFER gives S_OK with the size.
  static HRESULT SyncIoctl(HANDLE hHandle, ULONG ulIoctl, PVOID pvIn, ULONG cbIn, PVOID pvOut, ULONG cbOut,
                           ULONG* pcbReturned);

  HRESULT GetPropertySimple(REFGUID guidSet, ULONG ulId, PVOID pvValue, ULONG cbValue);
  HRESULT SetPropertySimple(REFGUID guidSet, ULONG ulId, PVOID pvValue, ULONG cbValue);
  // Reads a multiple-item property into a new zero-filled buffer that the caller frees with
  // KsFree (also when the read failed). A size query that reports 0 bytes gives S_OK and
  // leaves *ppItems untouched; one that reports less than a KSMULTIPLE_ITEM is refused.
  // pcbItems, when given, receives the size of the buffer.
  HRESULT GetPropertyMulti(REFGUID guidSet, ULONG ulId, PKSMULTIPLE_ITEM* ppItems, ULONG* pcbItems = NULL);

  HANDLE m_hHandle;

 protected:
  ~CKsIrpTarget();

 private:
  // The one request behind GetPropertySimple and SetPropertySimple, traced under pszName.
  HRESULT PropertySimple(const char* pszName, ULONG ulFlags, REFGUID guidSet, ULONG ulId, PVOID pvValue,
                         ULONG cbValue);
};

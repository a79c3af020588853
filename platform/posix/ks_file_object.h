// Kernel-streaming file objects of the Linux subset. A KS filter handle is a
// CKsFilterFileObject; KsCreatePin ("ksuser.dll") asks it for a pin instance.
#pragma once

#include <memory>

#include "kernel_object.h"
#include "ks.h"

namespace t32posix {

class CKsFilterFileObject : public CFileObject {
 public:
  // Creates a pin instance from a connect request of cbConnect bytes (the KSPIN_CONNECT
  // and the data format after it). Returns 0 with *ppPin set, or a Win32 error.
  virtual DWORD CreatePin(const KSPIN_CONNECT* pConnect, ULONG cbConnect, ACCESS_MASK dwDesiredAccess,
                          std::shared_ptr<CFileObject>* ppPin) = 0;
};

// Makes "ksuser.dll" loadable with its KsCreatePin; safe to call any number of times.
void RegisterKsUser();

}  // namespace t32posix

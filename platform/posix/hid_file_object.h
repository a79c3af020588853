// HID device handles of the Linux subset. The HID class library asks the object behind a
// handle for its attributes and capabilities; reads and writes of reports go through the
// ordinary CFileObject calls (ReadFile, WriteFile, CancelIo).
#pragma once

#include "hid.h"
#include "kernel_object.h"

namespace t32posix {

class CHidFileObject : public CFileObject {
 public:
  // Both return FALSE with the error set when the device cannot answer (it left).
  virtual BOOL GetAttributes(HIDD_ATTRIBUTES* pAttributes) = 0;
  virtual BOOL GetCaps(HIDP_CAPS* pCaps) = 0;
};

}  // namespace t32posix

// Driver states, held by the driver object and mirrored in the shared status block.
#pragma once

#include "platform/win32.h"

namespace t32 {

enum DriverState : DWORD {
  kStateUnloaded = 0,
  kStateLoaded = 1,
  kStateInitialized = 2,
  kStatePrepared = 3,
  kStateRunning = 4,
};

// The label the control panel shows for a state; "UNLOAD" for anything unknown, since an
// unknown value means no driver the panel understands owns the block.
const char* DriverStateLabel(DWORD dwState);

}  // namespace t32

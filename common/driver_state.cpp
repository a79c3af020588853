#include "common/driver_state.h"

namespace t32 {

const char* DriverStateLabel(DWORD dwState) {
  static const char* const kLabels[] = {"UNLOAD", "LOADED", "INITIALIZED", "PREPARED", "RUNNING"};
  return dwState < sizeof(kLabels) / sizeof(kLabels[0]) ? kLabels[dwState] : kLabels[0];
}

}  // namespace t32

#include "tools/t32status/status_line.h"

#include <cstdio>

#include "common/driver_state.h"

namespace t32status {

std::string StatusLine(const t32::StatusBlock& block) {
  DWORD dwState = block.DriverState;
  std::string line = t32::DriverStateLabel(dwState);
  line += "  ";
  if (dwState >= t32::kStateInitialized && dwState <= t32::kStateRunning) {
    char name[sizeof(block.DeviceName) + 1] = {};
    for (size_t i = 0; i < sizeof(block.DeviceName) && block.DeviceName[i]; ++i) name[i] = block.DeviceName[i];
    line += name;
  } else {
    line += "Not Available";
  }
  if (dwState == t32::kStateRunning) {
    DWORD dwRate = block.CurrentSampleRate;
    char format[96];
    std::snprintf(format, sizeof(format), "  2 Channel, %d bits, %d Hz, Buffer %.1f ms", int(block.CurrentBits),
                  int(dwRate), dwRate ? block.CurrentBuffer * 1000.0 / dwRate : 0.0);
    line += format;
    if (block.DsdMode) line += "  (DSD)";
  }
  return line;
}

}  // namespace t32status

// The shared status block as the control panel's ASIO page shows it, in one line: the
// state label, the device name (or "Not Available" outside INITIALIZED, PREPARED and
// RUNNING) and, while RUNNING, "2 Channel, %d bits, %d Hz, Buffer %.1f ms".
#pragma once

#include <string>

#include "common/status_block.h"

namespace t32status {

std::string StatusLine(const t32::StatusBlock& block);

}  // namespace t32status

// How the emulated device answers a KS request, following the conventions of KS drivers:
// a property read with no output buffer is a size query (ERROR_MORE_DATA with the size),
// a short buffer gets ERROR_INSUFFICIENT_BUFFER, and so on. The outcome is then delivered
// synchronously, or (with the pending fault) later through the OVERLAPPED event.
#pragma once

#include <vector>

#include "platform/win32.h"

namespace t32emu {

struct CRequestOutcome {
  DWORD dwError = ERROR_SUCCESS;
  DWORD cbReturned = 0;
};

// Copies an answer into the caller's buffer under the size-query conventions. With
// bZeroSizeQuery a size query reports 0 bytes.
CRequestOutcome AnswerBytes(const void* pvAnswer, ULONG cbAnswer, LPVOID pvOut, DWORD cbOut, bool bZeroSizeQuery);
CRequestOutcome Fail(DWORD dwError);

// A KSMULTIPLE_ITEM answer: header {Size, Count} and the items' bytes.
std::vector<BYTE> MultipleItem(ULONG ulCount, const void* pvItems, size_t cbItems);

}  // namespace t32emu

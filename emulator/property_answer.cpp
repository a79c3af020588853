#include "emulator/property_answer.h"

namespace t32emu {

CRequestOutcome AnswerBytes(const void* pvAnswer, ULONG cbAnswer, LPVOID pvOut, DWORD cbOut, bool bZeroSizeQuery) {
  CRequestOutcome outcome;
  if (cbOut == 0) {
    outcome.dwError = ERROR_MORE_DATA;
    outcome.cbReturned = bZeroSizeQuery ? 0 : cbAnswer;
  } else if (pvOut == nullptr) {
    outcome.dwError = ERROR_INVALID_USER_BUFFER;
  } else if (cbOut < cbAnswer) {
    outcome.dwError = ERROR_INSUFFICIENT_BUFFER;
  } else {
    memcpy(pvOut, pvAnswer, cbAnswer);
    outcome.cbReturned = cbAnswer;
  }
  return outcome;
}

CRequestOutcome Fail(DWORD dwError) {
  CRequestOutcome outcome;
  outcome.dwError = dwError;
  return outcome;
}

std::vector<BYTE> MultipleItem(ULONG ulCount, const void* pvItems, size_t cbItems) {
  std::vector<BYTE> vb(sizeof(KSMULTIPLE_ITEM) + cbItems);
  KSMULTIPLE_ITEM header;
  header.Size = (ULONG)vb.size();
  header.Count = ulCount;
  memcpy(vb.data(), &header, sizeof(header));
  if (cbItems) memcpy(vb.data() + sizeof(header), pvItems, cbItems);
  return vb;
}

}  // namespace t32emu

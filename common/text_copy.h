// Copying ANSI text into fixed-size fields: at most cbTarget - 1 characters and a zero,
// so the field always ends as a string however long the source is.
#pragma once

#include <cstddef>

namespace t32 {

inline void CopyText(char* pszTarget, size_t cbTarget, const char* pszSource) {
  if (!pszTarget || cbTarget == 0) return;
  size_t n = 0;
  if (pszSource)
    while (n + 1 < cbTarget && pszSource[n]) {
      pszTarget[n] = pszSource[n];
      ++n;
    }
  pszTarget[n] = 0;
}

}  // namespace t32

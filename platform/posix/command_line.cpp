#include "command_line.h"

namespace t32posix {

std::vector<std::string> SplitCommandLine(const char* pszText) {
  std::vector<std::string> vArgs;
  if (!pszText) return vArgs;
  const char* p = pszText;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string arg;
    bool bQuoted = false;
    while (*p && (bQuoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '\\') {
        size_t nSlashes = 0;
        while (*p == '\\') {
          ++nSlashes;
          ++p;
        }
        if (*p == '"') {
          arg.append(nSlashes / 2, '\\');
          if (nSlashes % 2) {
            arg += '"';
            ++p;
          }
        } else {
          arg.append(nSlashes, '\\');
        }
      } else if (*p == '"') {
        bQuoted = !bQuoted;
        ++p;
      } else {
        arg += *p++;
      }
    }
    vArgs.push_back(arg);
  }
  return vArgs;
}

}  // namespace t32posix

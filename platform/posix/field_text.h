// Text fields in the subset's line-based files (launch log, window table): tabs separate
// fields and newlines end records, so both, and the backslash, are escaped inside a field.
#pragma once

#include <string>
#include <vector>

namespace t32posix {

inline std::string EscapeField(const char* psz) {
  std::string out;
  for (const char* p = psz ? psz : ""; *p; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += *p;
    }
  }
  return out;
}

inline std::string UnescapeField(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

// The fields of one line (without its newline).
inline std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> vFields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    if (tab == std::string::npos) {
      vFields.push_back(UnescapeField(line.substr(start)));
      return vFields;
    }
    vFields.push_back(UnescapeField(line.substr(start, tab - start)));
    start = tab + 1;
  }
}

}  // namespace t32posix

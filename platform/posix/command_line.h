// Splitting a Windows parameter text into arguments, by the rules Windows programs apply
// to their command line: blanks (spaces, tabs) separate arguments; double quotes group
// blanks into an argument and are removed; 2n backslashes before a quote give n
// backslashes and the quote groups, 2n+1 give n backslashes and a literal quote;
// backslashes anywhere else are literal (so "C:\dir\" stays a path).
#pragma once

#include <string>
#include <vector>

namespace t32posix {

std::vector<std::string> SplitCommandLine(const char* pszText);

}  // namespace t32posix

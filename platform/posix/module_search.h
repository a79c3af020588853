// Where the subset looks for a module or program named without a folder: beside the
// running program first, then in the folders of T32_MODULE_PATH (colon-separated), in
// that order. LoadLibraryA uses it for "X.dll", ShellExecuteA for "X.exe".
#pragma once

#include <string>
#include <vector>

namespace t32posix {

std::vector<std::string> ModuleSearchFolders();

}  // namespace t32posix

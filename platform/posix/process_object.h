// Child processes. A process handle names a kernel object that becomes signalled when the
// program ends; its exit code is STILL_ACTIVE until then. ShellExecuteA/ExA start programs
// through StartProcess; WaitForSingleObject, GetExitCodeProcess and CloseHandle work on the
// handle as on Windows.
#pragma once

#include <string>
#include <vector>

#include "kernel32.h"

namespace t32posix {

// Starts argv[0] (a Linux program path) with the given arguments, in szDirectory when it
// is not empty, with this process's environment. Returns a process handle, or null with
// *pdwError set (ERROR_FILE_NOT_FOUND, ERROR_DIRECTORY, ERROR_ACCESS_DENIED,
// ERROR_NOT_ENOUGH_MEMORY).
HANDLE StartProcess(const std::vector<std::string>& vArgs, const std::string& strDirectory, DWORD* pdwError);

}  // namespace t32posix

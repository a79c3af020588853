// The root folder holds every piece of process-wide state that crosses processes on
// Windows: registry hives, the C: drive, the window table, the trust store, the device
// description, and the lock files of named mappings. TERNIX32_ROOT names it; otherwise it
// is $XDG_STATE_HOME/ternix32 (or ~/.local/state/ternix32).
#pragma once

#include <string>

namespace t32posix {

// The root folder, created on first use; read from the environment at every call, so a
// test that sets TERNIX32_ROOT before using the subset gets its own.
std::string RootFolder();
// A path below the root folder ("registry", "c/Windows"...), its parent folders created.
std::string RootPath(const std::string& relative);
// Maps "C:\dir\file" (any case of the drive letter, either slash) to the file below the
// root folder's c/ folder, which always exists; other paths are returned unchanged.
std::string MapWindowsPath(const std::string& path);
// Creates a folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);
// A short stable tag of the root folder, used to keep names of process-shared objects of
// different roots apart (tests running in parallel never meet).
std::string RootTag();

}  // namespace t32posix

// Windows system DLLs that the Linux subset provides in-process ("ksuser.dll", ...).
// LoadLibraryA of such a name returns a module whose GetProcAddress answers from the
// export table registered here, so system code binds to them exactly as on Windows.
#pragma once

#include "kernel32.h"

namespace t32posix {

struct BuiltinExport {
  const char* pszName;
  FARPROC pfn;
};

// Registers (or replaces) a built-in module; the table must end with {nullptr, nullptr}
// and live for the process. Names compare without regard to case.
void RegisterBuiltinModule(const char* pszModuleName, const BuiltinExport* pExports);

}  // namespace t32posix

// t32regsvr32: registers or unregisters in-process COM servers, as RegSvr32.exe does, for
// the Linux build, where the subset's ShellExecuteA starts it for "RegSvr32.exe".
//
//   t32regsvr32 [/u] [/s] <module>...
//
// Loads each module with LoadLibraryA (so "C:\..." paths and "X.dll" names resolve as for
// any module), calls its DllRegisterServer, or DllUnregisterServer with /u, and frees it.
// Options are '/' or '-' and one letter, in any case, anywhere on the line (so a Linux path
// is never taken for one). Without /s each
// outcome is printed (RegSvr32.exe shows it in a message box). Exit codes follow
// RegSvr32.exe: 0 success, 1 bad command line, 3 the module did not load, 4 the entry
// point is missing, 5 the entry point returned a failure.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

enum ExitCode { kSuccess = 0, kBadArguments = 1, kLoadFailed = 3, kEntryMissing = 4, kCallFailed = 5 };

typedef HRESULT(STDAPICALLTYPE* REGISTER_PROC)(void);

int Usage(const char* pszWhy) {
  std::fprintf(stderr, "t32regsvr32: %s\nusage: t32regsvr32 [/u] [/s] <module>...\n", pszWhy);
  return kBadArguments;
}

int RunOne(const std::string& module, bool bUnregister, bool bSilent) {
  const char* pszEntry = bUnregister ? "DllUnregisterServer" : "DllRegisterServer";
  HMODULE hModule = LoadLibraryA(module.c_str());
  if (!hModule) {
    if (!bSilent)
      std::printf("The module \"%s\" failed to load (error %u).\n", module.c_str(),
                  static_cast<unsigned>(GetLastError()));
    return kLoadFailed;
  }
  auto pfnEntry = reinterpret_cast<REGISTER_PROC>(GetProcAddress(hModule, pszEntry));
  if (!pfnEntry) {
    if (!bSilent)
      std::printf("The module \"%s\" was loaded but the entry-point %s was not found.\n", module.c_str(), pszEntry);
    FreeLibrary(hModule);
    return kEntryMissing;
  }
  HRESULT hr = pfnEntry();
  FreeLibrary(hModule);
  if (FAILED(hr)) {
    if (!bSilent)
      std::printf("The call to %s in \"%s\" failed with error code 0x%08X.\n", pszEntry, module.c_str(),
                  static_cast<unsigned>(hr));
    return kCallFailed;
  }
  if (!bSilent) std::printf("%s in %s succeeded.\n", pszEntry, module.c_str());
  return kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  bool bUnregister = false;
  bool bSilent = false;
  std::vector<std::string> vModules;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if ((arg[0] == '/' || arg[0] == '-') && arg[1] != 0 && arg[2] == 0) {
      if (arg[1] == 'u' || arg[1] == 'U')
        bUnregister = true;
      else if (arg[1] == 's' || arg[1] == 'S')
        bSilent = true;
      else
        return Usage((std::string("unknown option ") + arg).c_str());
    } else {
      vModules.push_back(arg);
    }
  }
  if (vModules.empty()) return Usage("no module named");

  // RegSvr32.exe initialises COM for the module it calls.
  HRESULT hrCom = CoInitialize(nullptr);
  int nResult = kSuccess;
  for (const std::string& module : vModules) {
    int n = RunOne(module, bUnregister, bSilent);
    if (nResult == kSuccess) nResult = n;
  }
  if (SUCCEEDED(hrCom)) CoUninitialize();
  return nResult;
}

// t32shellexec: starts a program through ShellExecuteExA, as the co-installer does, waits
// for it and ends with its exit code (255 when it could not be started).
//
//   t32shellexec [--verb VERB] [--dir DIRECTORY] FILE [PARAMETERS]
//
// On Linux the subset's program table decides what runs ("RegSvr32.exe" is t32regsvr32),
// and the start is written to the launch log.
#include <cstdio>
#include <cstring>

#include "platform/win32.h"

int main(int argc, char** argv) {
  const char* pszVerb = "open";
  const char* pszDirectory = nullptr;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--verb") == 0)
      pszVerb = argv[i + 1];
    else if (std::strcmp(argv[i], "--dir") == 0)
      pszDirectory = argv[i + 1];
    else
      break;
  }
  if (i >= argc || i + 2 < argc || argv[i][0] == '-') {
    std::fprintf(stderr, "usage: t32shellexec [--verb VERB] [--dir DIRECTORY] FILE [PARAMETERS]\n");
    return 255;
  }
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = pszVerb;
  info.lpFile = argv[i];
  info.lpParameters = i + 1 < argc ? argv[i + 1] : nullptr;
  info.lpDirectory = pszDirectory;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) {
    std::fprintf(stderr, "t32shellexec: %s could not be started (error %u)\n", argv[i],
                 static_cast<unsigned>(GetLastError()));
    return 255;
  }
  DWORD dwCode = 255;
  if (info.hProcess) {
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &dwCode);
    CloseHandle(info.hProcess);
  }
  return static_cast<int>(dwCode & 0xFF);
}

// Program starts. The system starts a few Windows programs by name; here each of them has a
// Linux stand-in, listed in the table below. Any other name is looked up as a Linux
// program: a "C:\..." path that maps to an executable file below the root folder, a Linux
// path, or a bare name ("X.exe" or "X") in the module search folders.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "field_text.h"
#include "kernel32.h"
#include "module_search.h"
#include "process_object.h"
#include "root_folder.h"
#include "shell32.h"
#include "test_hooks.h"

namespace t32posix {
namespace {

enum class StandIn {
  kProgram,      // a Linux program found in the module search folders
  kCommandLine,  // "CMD.exe": only "/C del <files>" is understood
};

struct CStandInEntry {
  const char* pszWindowsName;  // compared without regard to case, without the folder
  StandIn eKind;
  const char* pszProgram;  // for kProgram
};

// The Windows programs the system starts and what runs for them. A name in this table wins
// over a file of the same name in the C: drive (the co-installer writes Windows builds of
// tools there, which cannot run here). Later areas add their programs here:
// "CertMgr.EXE" (the certificate tool substitute) and "Ternix32ACPL.exe" (the native panel).
const CStandInEntry kStandIns[] = {
    {"regsvr32.exe", StandIn::kProgram, "t32regsvr32"},
    {"regsvr32", StandIn::kProgram, "t32regsvr32"},
    {"cmd.exe", StandIn::kCommandLine, nullptr},
    {"cmd", StandIn::kCommandLine, nullptr},
};

constexpr INT_PTR kStarted = 42;  // any value above 32 means success

std::string BaseName(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Names compare without regard to case, as Windows file names do: "WhereAmI.exe" finds
// the program "whereami".
std::string FindInSearchFolders(const std::vector<std::string>& vNames) {
  for (const std::string& folder : ModuleSearchFolders()) {
    for (const std::string& name : vNames)
      if (IsExecutableFile(folder + "/" + name)) return folder + "/" + name;
    DIR* dir = opendir(folder.c_str());
    if (!dir) continue;
    std::string found;
    while (dirent* entry = readdir(dir)) {
      for (const std::string& name : vNames)
        if (found.empty() && strcasecmp(entry->d_name, name.c_str()) == 0 &&
            IsExecutableFile(folder + "/" + entry->d_name))
          found = folder + "/" + entry->d_name;
    }
    closedir(dir);
    if (!found.empty()) return found;
  }
  return std::string();
}

bool EndsWithExe(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0;
}

// The Linux program for a file name that is not in the table, or empty.
std::string ResolveProgram(const std::string& file) {
  std::string mapped = MapWindowsPath(file);
  if (mapped != file && IsExecutableFile(mapped)) return mapped;
  if (mapped == file && file.find('/') != std::string::npos) return IsExecutableFile(file) ? file : std::string();
  std::string name = BaseName(file);
  std::vector<std::string> vNames{name};
  if (EndsWithExe(name)) vNames.push_back(name.substr(0, name.size() - 4));
  return FindInSearchFolders(vNames);
}

// What runs for "CMD.exe /C del <files>": rm on the mapped files, which, like del, is
// content with files that are not there. Any other command starts a shell that says so
// and fails, as cmd would with a command it cannot carry out.
std::vector<std::string> CommandLineArgs(const char* pszParameters) {
  std::vector<std::string> vWords = SplitCommandLine(pszParameters);
  bool bDelete = vWords.size() >= 3 && strcasecmp(vWords[0].c_str(), "/c") == 0 &&
                 (strcasecmp(vWords[1].c_str(), "del") == 0 || strcasecmp(vWords[1].c_str(), "erase") == 0);
  if (bDelete) {
    std::vector<std::string> vArgs{"/bin/rm", "-f", "--"};
    for (size_t i = 2; i < vWords.size(); ++i)
      if (!vWords[i].empty() && vWords[i][0] != '/') vArgs.push_back(MapWindowsPath(vWords[i]));
    if (vArgs.size() > 3) return vArgs;
  }
  std::string text = pszParameters ? pszParameters : "";
  return {"/bin/sh", "-c", "echo \"CMD.exe: not supported here: $1\" >&2; exit 1", "cmd", text};
}

std::string LaunchLogPath() { return RootPath("launch.log"); }

void AppendToLaunchLog(const SHELLEXECUTEINFOA& info, const std::string& program, DWORD dwError) {
  std::string line = EscapeField(info.lpVerb) + "\t" + EscapeField(info.lpFile) + "\t" +
                     EscapeField(info.lpParameters) + "\t" + EscapeField(info.lpDirectory) + "\t" +
                     EscapeField(program.c_str()) + "\t" + std::to_string(dwError) + "\n";
  int fd = open(LaunchLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  flock(fd, LOCK_EX);
  ssize_t written = write(fd, line.data(), line.size());
  (void)written;
  flock(fd, LOCK_UN);
  close(fd);
}

INT_PTR ShellErrorOf(DWORD dwError) {
  switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BAD_EXE_FORMAT:
      return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED:
      return SE_ERR_ACCESSDENIED;
    case ERROR_NO_ASSOCIATION:
      return SE_ERR_NOASSOC;
    default:
      return SE_ERR_OOM;
  }
}

// Starts the program; returns its process handle or null with *pdwError set, and reports
// the Linux program it chose (for the log).
HANDLE Start(const SHELLEXECUTEINFOA& info, std::string* pProgram, DWORD* pdwError) {
  const char* verb = info.lpVerb ? info.lpVerb : "";
  if (*verb && strcasecmp(verb, "open") != 0 && strcasecmp(verb, "runas") != 0) {
    *pdwError = ERROR_NO_ASSOCIATION;
    return nullptr;
  }
  if (!info.lpFile || !*info.lpFile) {
    *pdwError = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  std::string file = info.lpFile;
  std::vector<std::string> vArgs;
  const CStandInEntry* pEntry = nullptr;
  for (const CStandInEntry& entry : kStandIns)
    if (strcasecmp(BaseName(file).c_str(), entry.pszWindowsName) == 0) pEntry = &entry;
  if (pEntry && pEntry->eKind == StandIn::kCommandLine) {
    vArgs = CommandLineArgs(info.lpParameters);
  } else {
    std::string program = pEntry ? FindInSearchFolders({pEntry->pszProgram}) : ResolveProgram(file);
    if (program.empty()) {
      *pdwError = ERROR_FILE_NOT_FOUND;
      return nullptr;
    }
    vArgs.push_back(program);
    for (std::string& arg : SplitCommandLine(info.lpParameters)) vArgs.push_back(arg);
  }
  *pProgram = vArgs[0];
  std::string directory = info.lpDirectory && *info.lpDirectory ? MapWindowsPath(info.lpDirectory) : std::string();
  return StartProcess(vArgs, directory, pdwError);
}

}  // namespace

std::vector<LaunchRecord> LaunchLog() {
  std::vector<LaunchRecord> vRecords;
  int fd = open(LaunchLogPath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return vRecords;
  flock(fd, LOCK_SH);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(n));
  flock(fd, LOCK_UN);
  close(fd);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string> vFields = SplitFields(text.substr(start, end - start));
    if (vFields.size() != 6) continue;
    LaunchRecord record;
    record.strVerb = vFields[0];
    record.strFile = vFields[1];
    record.strParameters = vFields[2];
    record.strDirectory = vFields[3];
    record.strProgram = vFields[4];
    record.dwError = static_cast<DWORD>(std::strtoul(vFields[5].c_str(), nullptr, 10));
    vRecords.push_back(record);
  }
  return vRecords;
}

void ClearLaunchLog() { unlink(LaunchLogPath().c_str()); }

}  // namespace t32posix

using namespace t32posix;

extern "C" {

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo) {
  if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pExecInfo->hProcess = nullptr;
  std::string program;
  DWORD dwError = ERROR_SUCCESS;
  HANDLE hProcess = Start(*pExecInfo, &program, &dwError);
  AppendToLaunchLog(*pExecInfo, hProcess ? program : std::string(), dwError);
  if (!hProcess) {
    pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(ShellErrorOf(dwError));
    SetLastError(dwError);
    return FALSE;
  }
  pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(kStarted);
  if (pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS)
    pExecInfo->hProcess = hProcess;
  else
    CloseHandle(hProcess);
  return TRUE;
}

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof(info);
  info.hwnd = hwnd;
  info.lpVerb = lpOperation;
  info.lpFile = lpFile;
  info.lpParameters = lpParameters;
  info.lpDirectory = lpDirectory;
  info.nShow = nShowCmd;
  ShellExecuteExA(&info);
  return info.hInstApp;
}

}  // extern "C"

// Process objects. Each started program gets a reaper thread that waits for it to end,
// stores its exit code and signals the object, so no zombie is left behind whether or not
// anyone holds the handle. A program ended by a signal reports the exit code Windows would
// show for the matching failure.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "kernel_object.h"
#include "process_object.h"

extern char** environ;

namespace t32posix {
namespace {

constexpr DWORD kStatusAccessViolation = 0xC0000005;
constexpr DWORD kStatusControlCExit = 0xC000013A;
constexpr DWORD kAbortExitCode = 3;  // what abort() leaves on Windows

class CProcessObject : public CWaitableObject {
 public:
  bool IsSignaledLocked() const override { return m_bDone; }

  pid_t m_pid = 0;
  bool m_bDone = false;  // dispatcher lock
  DWORD m_dwExitCode = STILL_ACTIVE;
};

DWORD ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    switch (WTERMSIG(status)) {
      case SIGSEGV:
      case SIGBUS:
        return kStatusAccessViolation;
      case SIGABRT:
        return kAbortExitCode;
      default:
        return kStatusControlCExit;
    }
  }
  return 1;
}

void Reap(std::shared_ptr<CProcessObject> process) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(process->m_pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  std::lock_guard<std::mutex> guard(DispatcherLock());
  process->m_dwExitCode = r == process->m_pid ? ExitCodeOf(status) : 1;
  process->m_bDone = true;
  process->NotifyWaitersLocked();
}

DWORD ErrorOfSpawn(int err) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOEXEC:
      return ERROR_BAD_EXE_FORMAT;
    case ENOTDIR:
      return ERROR_DIRECTORY;
    default:
      return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

HANDLE StartProcess(const std::vector<std::string>& vArgs, const std::string& strDirectory, DWORD* pdwError) {
  if (vArgs.empty()) {
    *pdwError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  if (!strDirectory.empty()) {
    struct stat st;
    if (stat(strDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *pdwError = ERROR_DIRECTORY;
      return nullptr;
    }
  }
  std::vector<char*> argv;
  for (const std::string& arg : vArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!strDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, strDirectory.c_str());
  pid_t pid = 0;
  int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    *pdwError = ErrorOfSpawn(err);
    return nullptr;
  }
  auto process = std::make_shared<CProcessObject>();
  process->m_pid = pid;
  HANDLE h = InsertHandle(process);
  std::thread(Reap, process).detach();
  *pdwError = ERROR_SUCCESS;
  return h;
}

}  // namespace t32posix

using namespace t32posix;

extern "C" {

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = ReferenceHandleAs<CProcessObject>(hProcess);
  if (!process || !lpExitCode) {
    SetLastError(process ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(DispatcherLock());
  *lpExitCode = process->m_dwExitCode;
  return TRUE;
}

DWORD WINAPI GetProcessId(HANDLE hProcess) {
  if (hProcess == GetCurrentProcess()) return GetCurrentProcessId();
  auto process = ReferenceHandleAs<CProcessObject>(hProcess);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(process->m_pid);
}

}  // extern "C"

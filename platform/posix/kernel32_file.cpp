// Files and devices. Device interface paths go to the registered device providers (the
// emulated device); "C:\..." paths are files below the root folder. Overlapped requests
// report their outcome through the OVERLAPPED as Windows does: Internal holds the status
// (pending until completion), InternalHigh the byte count, and hEvent is signalled.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "kernel_object.h"
#include "root_folder.h"

namespace t32posix {
namespace {

// Internal status of a failed request: a value no success or pending status has, which
// carries the Win32 error code for GetOverlappedResult.
constexpr ULONG_PTR kStatusErrorBase = 0xE0000000u;

struct CProviderTable {
  std::mutex m_lock;
  std::vector<IDeviceProvider*> m_vProviders;
};
CProviderTable& Providers() {
  static CProviderTable* table = new CProviderTable;
  return *table;
}

class CDiskFile : public CFileObject {
 public:
  ~CDiskFile() override {
    if (m_nFd >= 0) close(m_nFd);
  }
  BOOL Read(LPVOID pBuffer, DWORD cbToRead, LPDWORD pcbRead, LPOVERLAPPED pOverlapped) override {
    ssize_t n = read(m_nFd, pBuffer, cbToRead);
    return Finish(n, pcbRead, pOverlapped);
  }
  BOOL Write(LPCVOID pBuffer, DWORD cbToWrite, LPDWORD pcbWritten, LPOVERLAPPED pOverlapped) override {
    ssize_t n = write(m_nFd, pBuffer, cbToWrite);
    return Finish(n, pcbWritten, pOverlapped);
  }
  int m_nFd = -1;

 private:
  BOOL Finish(ssize_t n, LPDWORD pcb, LPOVERLAPPED pOverlapped) {
    if (n < 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    if (pcb) *pcb = static_cast<DWORD>(n);
    if (pOverlapped) CompleteOverlapped(pOverlapped, ERROR_SUCCESS, static_cast<DWORD>(n));
    return TRUE;
  }
};

bool IsDevicePath(const char* p) {
  return p[0] == '\\' && p[1] == '\\' && (p[2] == '?' || p[2] == '.') && p[3] == '\\';
}

HANDLE EventOf(LPOVERLAPPED pOverlapped) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(pOverlapped->hEvent) & ~uintptr_t(3));
}

std::shared_ptr<CFileObject> FileFromHandle(HANDLE h) {
  auto file = ReferenceHandleAs<CFileObject>(h);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

}  // namespace

BOOL CFileObject::Read(LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}
BOOL CFileObject::Write(LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}
BOOL CFileObject::IoControl(DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}
BOOL CFileObject::Cancel() { return TRUE; }

void BeginOverlapped(LPOVERLAPPED pOverlapped) {
  pOverlapped->Internal = STATUS_PENDING;
  pOverlapped->InternalHigh = 0;
  if (pOverlapped->hEvent) ResetEvent(EventOf(pOverlapped));
}

void CompleteOverlapped(LPOVERLAPPED pOverlapped, DWORD dwError, DWORD cbTransferred) {
  HANDLE hEvent = EventOf(pOverlapped);
  pOverlapped->InternalHigh = cbTransferred;
  __atomic_store_n(&pOverlapped->Internal, dwError == ERROR_SUCCESS ? 0 : kStatusErrorBase | dwError,
                   __ATOMIC_RELEASE);
  if (hEvent) SignalEventHandle(hEvent);
}

void RegisterDeviceProvider(IDeviceProvider* pProvider) {
  std::lock_guard<std::mutex> guard(Providers().m_lock);
  Providers().m_vProviders.push_back(pProvider);
}

void UnregisterDeviceProvider(IDeviceProvider* pProvider) {
  std::lock_guard<std::mutex> guard(Providers().m_lock);
  auto& v = Providers().m_vProviders;
  v.erase(std::remove(v.begin(), v.end(), pProvider), v.end());
}

}  // namespace t32posix

using namespace t32posix;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES sa,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<CFileObject> file;
  if (IsDevicePath(lpFileName)) {
    DWORD dwError = ERROR_FILE_NOT_FOUND;
    std::vector<IDeviceProvider*> providers;
    {
      std::lock_guard<std::mutex> guard(Providers().m_lock);
      providers = Providers().m_vProviders;
    }
    for (IDeviceProvider* provider : providers) {
      DWORD dwProviderError = ERROR_FILE_NOT_FOUND;
      file = provider->Open(lpFileName, dwDesiredAccess, dwFlagsAndAttributes, &dwProviderError);
      if (file) break;
      if (dwProviderError != ERROR_FILE_NOT_FOUND) dwError = dwProviderError;
    }
    if (!file) {
      SetLastError(dwError);
      return INVALID_HANDLE_VALUE;
    }
  } else {
    std::string path = MapWindowsPath(lpFileName);
    int flags = O_CLOEXEC;
    flags |= (dwDesiredAccess & GENERIC_WRITE) ? ((dwDesiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (dwCreationDisposition) {
      case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
      case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
      case OPEN_ALWAYS: flags |= O_CREAT; break;
      case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
      case OPEN_EXISTING: break;
      default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
      SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    auto disk = std::make_shared<CDiskFile>();
    disk->m_nFd = fd;
    file = disk;
  }
  file->m_bOverlapped = (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
  SetLastError(ERROR_SUCCESS);
  return InsertHandle(file);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  auto file = FileFromHandle(hFile);
  if (!file) return FALSE;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  return file->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  auto file = FileFromHandle(hFile);
  if (!file) return FALSE;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  return file->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
  auto file = FileFromHandle(hDevice);
  if (!file) return FALSE;
  if (!lpOverlapped && !lpBytesReturned) {
    // Windows requires the byte count for a synchronous request.
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  return file->IoControl(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, lpBytesReturned,
                         lpOverlapped);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait) {
  if (!lpOverlapped || !lpNumberOfBytesTransferred) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONG_PTR status = __atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE);
  if (status == STATUS_PENDING) {
    if (!bWait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    HANDLE h = lpOverlapped->hEvent ? EventOf(lpOverlapped) : hFile;
    while ((status = __atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE)) == STATUS_PENDING) {
      if (WaitForSingleObject(h, INFINITE) == WAIT_FAILED) return FALSE;
    }
  }
  *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
  if (status != 0) {
    SetLastError(static_cast<DWORD>(status & ~kStatusErrorBase));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  auto file = FileFromHandle(hFile);
  return file ? file->Cancel() : FALSE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName || unlink(MapWindowsPath(lpFileName).c_str()) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES sa) {
  if (!lpPathName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (mkdir(MapWindowsPath(lpPathName).c_str(), 0777) != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  struct stat st;
  if (!lpFileName || stat(MapWindowsPath(lpFileName).c_str(), &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(st.st_mode) ? 0x10 : FILE_ATTRIBUTE_NORMAL;
}

}  // extern "C"

// Pagefile-backed file mappings. A named mapping is a POSIX shared-memory object whose
// name carries the root folder's tag, so mappings of different root folders never meet.
// Its life follows Windows: the name lives while any process holds a handle, and views
// keep only the memory. Every handle holds a shared flock on a lock file beside it in the
// root folder; whoever lets go and then wins an exclusive lock held the last handle and
// removes the name, so the next opener creates a fresh, zeroed mapping.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "kernel_object.h"
#include "root_folder.h"

namespace t32posix {
namespace {

class CMappingObject : public CKernelObject {
 public:
  ~CMappingObject() override {
    ReleaseName();
    if (m_nFd >= 0) close(m_nFd);
  }
  void OnLastHandleClosed() override { ReleaseName(); }

  void ReleaseName() {
    if (m_nLockFd < 0) return;
    flock(m_nLockFd, LOCK_UN);
    if (!m_strShmName.empty() && flock(m_nLockFd, LOCK_EX | LOCK_NB) == 0) {
      shm_unlink(m_strShmName.c_str());
      flock(m_nLockFd, LOCK_UN);
    }
    close(m_nLockFd);
    m_nLockFd = -1;
  }

  int m_nFd = -1;
  int m_nLockFd = -1;
  std::string m_strShmName;  // empty for unnamed mappings
  size_t m_cbSize = 0;
};

struct CViewTable {
  std::mutex m_lock;
  std::map<const void*, std::pair<std::shared_ptr<CMappingObject>, size_t>> m_mapViews;
};
CViewTable& Views() {
  static CViewTable* table = new CViewTable;
  return *table;
}

// Keeps names to what POSIX shared-memory names and file names allow.
std::string SafeName(const char* pszName) {
  std::string out;
  for (const char* p = pszName; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    out += (isalnum(c) || c == '_' || c == '-' || c == '.') ? static_cast<char>(c) : '_';
  }
  return out.substr(0, 120);
}

// Takes the holder's shared lock on the name's lock file. A stale object left by a process
// that died while it was the last holder is removed first, since nobody holds it.
std::shared_ptr<CMappingObject> Attach(const char* pszName) {
  auto mapping = std::make_shared<CMappingObject>();
  std::string safe = SafeName(pszName);
  mapping->m_strShmName = "/t32-" + RootTag() + "-" + safe;
  std::string lockPath = RootPath("mappings/" + safe + ".lock");
  mapping->m_nLockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (mapping->m_nLockFd < 0) return nullptr;
  if (flock(mapping->m_nLockFd, LOCK_EX | LOCK_NB) == 0) shm_unlink(mapping->m_strShmName.c_str());
  flock(mapping->m_nLockFd, LOCK_SH);
  return mapping;
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case ENOSPC: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace
}  // namespace t32posix

using namespace t32posix;

extern "C" {

HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES sa, DWORD flProtect, DWORD dwMaximumSizeHigh,
                                 DWORD dwMaximumSizeLow, LPCSTR lpName) {
  size_t size = (static_cast<size_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
  if (hFile != INVALID_HANDLE_VALUE || (flProtect != PAGE_READWRITE && flProtect != PAGE_READONLY)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<CMappingObject> mapping;
  bool bExisted = false;
  if (lpName && *lpName) {
    mapping = Attach(lpName);
    if (!mapping) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    mapping->m_nFd = shm_open(mapping->m_strShmName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (mapping->m_nFd < 0 && errno == EEXIST) {
      bExisted = true;
      mapping->m_nFd = shm_open(mapping->m_strShmName.c_str(), O_RDWR, 0666);
    }
  } else {
    mapping = std::make_shared<CMappingObject>();
    mapping->m_nFd = memfd_create("t32-mapping", MFD_CLOEXEC);
  }
  if (mapping->m_nFd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  struct stat st;
  if (bExisted) {
    fstat(mapping->m_nFd, &st);
    mapping->m_cbSize = static_cast<size_t>(st.st_size);
  } else {
    if (size == 0 || ftruncate(mapping->m_nFd, static_cast<off_t>(size)) != 0) {
      // Windows refuses a pagefile-backed mapping of size 0.
      if (!mapping->m_strShmName.empty()) shm_unlink(mapping->m_strShmName.c_str());
      mapping->m_strShmName.clear();
      SetLastError(size == 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    mapping->m_cbSize = size;
  }
  HANDLE h = InsertHandle(mapping);
  SetLastError(bExisted ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE WINAPI OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  if (!lpName || !*lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<CMappingObject> mapping = Attach(lpName);
  if (!mapping) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  mapping->m_nFd = shm_open(mapping->m_strShmName.c_str(), O_RDWR, 0666);
  if (mapping->m_nFd < 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  struct stat st;
  fstat(mapping->m_nFd, &st);
  mapping->m_cbSize = static_cast<size_t>(st.st_size);
  return InsertHandle(mapping);
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  auto mapping = ReferenceHandleAs<CMappingObject>(hFileMappingObject);
  if (!mapping) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  size_t offset = (static_cast<size_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  size_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : mapping->m_cbSize - (offset < mapping->m_cbSize ? offset : 0);
  if (offset % 65536 != 0 || offset >= mapping->m_cbSize || length > mapping->m_cbSize - offset) {
    SetLastError(ERROR_ACCESS_DENIED);  // what Windows answers for a view beyond the section
    return nullptr;
  }
  int prot = PROT_READ | ((dwDesiredAccess & FILE_MAP_WRITE) ? PROT_WRITE : 0);
  void* view = mmap(nullptr, length, prot, MAP_SHARED, mapping->m_nFd, static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  CViewTable& views = Views();
  std::lock_guard<std::mutex> guard(views.m_lock);
  views.m_mapViews[view] = {mapping, length};
  return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
  std::shared_ptr<CMappingObject> mapping;  // released after the table's lock
  CViewTable& views = Views();
  std::lock_guard<std::mutex> guard(views.m_lock);
  auto it = views.m_mapViews.find(lpBaseAddress);
  if (it == views.m_mapViews.end()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  munmap(const_cast<void*>(lpBaseAddress), it->second.second);
  mapping = std::move(it->second.first);
  views.m_mapViews.erase(it);
  return TRUE;
}

}  // extern "C"

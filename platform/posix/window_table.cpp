// The window table file: a first line "next <handle value>" and then one line per window,
// "handle<TAB>process<TAB>class<TAB>title", oldest first. Changes are made under an
// exclusive lock on a lock file beside it and written to a new file that replaces the old
// one in one rename, so a reader always sees a whole table without taking the lock.
#include "window_table.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "field_text.h"
#include "root_folder.h"

namespace t32posix {
namespace {

constexpr DWORD kFirstHandle = 0x00010010;
constexpr DWORD kHandleStep = 4;

struct CTable {
  DWORD dwNext = kFirstHandle;
  std::vector<WindowEntry> vEntries;  // oldest first
};

std::string TablePath() { return RootPath("windows/table"); }

bool ProcessAlive(DWORD dwProcessId) {
  if (dwProcessId == static_cast<DWORD>(getpid())) return true;
  return kill(static_cast<pid_t>(dwProcessId), 0) == 0 || errno == EPERM;
}

CTable ReadTable() {
  CTable table;
  FILE* file = std::fopen(TablePath().c_str(), "re");
  if (!file) return table;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
  std::fclose(file);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (line.compare(0, 5, "next ") == 0) {
      table.dwNext = static_cast<DWORD>(std::strtoul(line.c_str() + 5, nullptr, 16));
      continue;
    }
    std::vector<std::string> vFields = SplitFields(line);
    if (vFields.size() != 4) continue;
    WindowEntry entry;
    entry.dwHandle = static_cast<DWORD>(std::strtoul(vFields[0].c_str(), nullptr, 16));
    entry.dwProcessId = static_cast<DWORD>(std::strtoul(vFields[1].c_str(), nullptr, 10));
    entry.strClass = vFields[2];
    entry.strTitle = vFields[3];
    if (entry.dwHandle != 0) table.vEntries.push_back(entry);
  }
  if (table.dwNext < kFirstHandle) table.dwNext = kFirstHandle;
  return table;
}

bool WriteTable(const CTable& table) {
  std::string text;
  char line[32];
  std::snprintf(line, sizeof(line), "next %x\n", table.dwNext);
  text += line;
  for (const WindowEntry& entry : table.vEntries) {
    std::snprintf(line, sizeof(line), "%x\t%u\t", entry.dwHandle, entry.dwProcessId);
    text += line + EscapeField(entry.strClass.c_str()) + "\t" + EscapeField(entry.strTitle.c_str()) + "\n";
  }
  std::string path = TablePath();
  std::string temporary = path + "." + std::to_string(getpid()) + ".new";
  FILE* file = std::fopen(temporary.c_str(), "we");
  if (!file) return false;
  bool bWritten = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  bWritten = std::fclose(file) == 0 && bWritten;
  if (!bWritten || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// Runs fnChange on the table under the exclusive lock, with the windows of ended processes
// already dropped, and writes the table back when it returns true.
bool ChangeTable(const std::function<bool(CTable&)>& fnChange) {
  int fd = open(RootPath("windows/table.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  flock(fd, LOCK_EX);
  CTable table = ReadTable();
  std::vector<WindowEntry> vLive;
  for (const WindowEntry& entry : table.vEntries)
    if (ProcessAlive(entry.dwProcessId)) vLive.push_back(entry);
  table.vEntries.swap(vLive);
  bool bDone = fnChange(table) && WriteTable(table);
  flock(fd, LOCK_UN);
  close(fd);
  return bDone;
}

bool Matches(const char* pszWanted, const std::string& actual) {
  return !pszWanted || strcasecmp(pszWanted, actual.c_str()) == 0;
}

}  // namespace

DWORD AddTopLevelWindow(const char* pszClass, const char* pszTitle) {
  DWORD dwHandle = 0;
  ChangeTable([&](CTable& table) {
    WindowEntry entry;
    entry.dwHandle = table.dwNext;
    entry.dwProcessId = static_cast<DWORD>(getpid());
    entry.strClass = pszClass ? pszClass : "";
    entry.strTitle = pszTitle ? pszTitle : "";
    table.dwNext += kHandleStep;
    table.vEntries.push_back(entry);
    dwHandle = entry.dwHandle;
    return true;
  });
  return dwHandle;
}

BOOL RemoveTopLevelWindow(DWORD dwHandle) {
  bool bFound = false;
  ChangeTable([&](CTable& table) {
    for (auto it = table.vEntries.begin(); it != table.vEntries.end(); ++it)
      if (it->dwHandle == dwHandle) {
        table.vEntries.erase(it);
        bFound = true;
        return true;
      }
    return false;
  });
  return bFound ? TRUE : FALSE;
}

BOOL SetTopLevelWindowTitle(DWORD dwHandle, const char* pszTitle) {
  bool bFound = false;
  ChangeTable([&](CTable& table) {
    for (WindowEntry& entry : table.vEntries)
      if (entry.dwHandle == dwHandle) {
        entry.strTitle = pszTitle ? pszTitle : "";
        bFound = true;
      }
    return bFound;
  });
  return bFound ? TRUE : FALSE;
}

std::vector<WindowEntry> TopLevelWindows() {
  std::vector<WindowEntry> vWindows;
  CTable table = ReadTable();
  for (auto it = table.vEntries.rbegin(); it != table.vEntries.rend(); ++it)
    if (ProcessAlive(it->dwProcessId)) vWindows.push_back(*it);
  return vWindows;
}

DWORD FindTopLevelWindow(const char* pszClass, const char* pszTitle) {
  for (const WindowEntry& entry : TopLevelWindows())
    if (Matches(pszClass, entry.strClass) && Matches(pszTitle, entry.strTitle)) return entry.dwHandle;
  return 0;
}

BOOL LookupTopLevelWindow(DWORD dwHandle, WindowEntry* pEntry) {
  if (dwHandle == 0) return FALSE;
  for (const WindowEntry& entry : TopLevelWindows())
    if (entry.dwHandle == dwHandle) {
      if (pEntry) *pEntry = entry;
      return TRUE;
    }
  return FALSE;
}

}  // namespace t32posix

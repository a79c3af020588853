// Modules. LoadLibraryA loads shared libraries (calling their DllMain on the first load
// and FreeLibrary's last release, as Windows does) and serves the built-in system DLLs
// that this subset provides in-process.
#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "builtin_modules.h"
#include "module_search.h"
#include "root_folder.h"

namespace t32posix {
namespace {

typedef BOOL(WINAPI* DllMainProc)(HINSTANCE, DWORD, LPVOID);

struct CModule {
  std::string m_strPath;     // full path (shared libraries) or the DLL name (built-ins)
  void* m_pDl = nullptr;     // dlopen handle, or null for built-ins and the program
  const BuiltinExport* m_pExports = nullptr;
  int m_nRefs = 0;
  bool m_bProgram = false;
};

struct CModuleTable {
  std::recursive_mutex m_lock;  // DllMain may load further modules
  std::vector<CModule*> m_vModules;
  std::map<std::string, const BuiltinExport*> m_mapBuiltins;  // lower-case name without ".dll"
};

CModuleTable& Modules() {
  static CModuleTable* table = new CModuleTable;
  return *table;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string BuiltinKey(const std::string& name) {
  std::string key = Lower(name);
  size_t slash = key.find_last_of("\\/");
  if (slash != std::string::npos) key = key.substr(slash + 1);
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".dll") == 0) key.resize(key.size() - 4);
  return key;
}

std::string ProgramPath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return std::string();
  buffer[n] = 0;
  return buffer;
}

CModule* ProgramModule() {
  static CModule* program = [] {
    auto* m = new CModule;
    m->m_strPath = ProgramPath();
    m->m_bProgram = true;
    m->m_nRefs = 1;
    return m;
  }();
  return program;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A module named without a folder is looked for in the module search folders.
std::string ResolveLibrary(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  std::string mapped = MapWindowsPath(name);
  if (mapped != name) {
    if (FileExists(mapped)) return mapped;
    size_t slash = name.find_last_of('\\');
    return ResolveLibrary(name.substr(slash + 1));
  }
  std::vector<std::string> candidates{name};
  std::string stem = name;
  if (stem.size() > 4 && Lower(stem.substr(stem.size() - 4)) == ".dll") {
    stem.resize(stem.size() - 4);
    candidates.push_back("lib" + stem + ".so");
    candidates.push_back(stem + ".so");
  }
  for (const std::string& folder : ModuleSearchFolders())
    for (const std::string& candidate : candidates)
      if (FileExists(folder + "/" + candidate)) return folder + "/" + candidate;
  return std::string();
}

CModule* FindModule(HMODULE h) {
  CModuleTable& table = Modules();
  auto* module = reinterpret_cast<CModule*>(h);
  if (module == ProgramModule()) return module;
  for (CModule* m : table.m_vModules)
    if (m == module) return m;
  return nullptr;
}

}  // namespace

std::vector<std::string> ModuleSearchFolders() {
  std::vector<std::string> folders;
  std::string program = ProgramPath();
  if (!program.empty()) folders.push_back(program.substr(0, program.rfind('/')));
  if (const char* env = std::getenv("T32_MODULE_PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) folders.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  return folders;
}

void RegisterBuiltinModule(const char* pszModuleName, const BuiltinExport* pExports) {
  CModuleTable& table = Modules();
  std::lock_guard<std::recursive_mutex> guard(table.m_lock);
  table.m_mapBuiltins[BuiltinKey(pszModuleName)] = pExports;
}

}  // namespace t32posix

using namespace t32posix;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  CModuleTable& table = Modules();
  std::lock_guard<std::recursive_mutex> guard(table.m_lock);

  auto builtin = table.m_mapBuiltins.find(BuiltinKey(lpLibFileName));
  if (builtin != table.m_mapBuiltins.end()) {
    for (CModule* m : table.m_vModules)
      if (m->m_pExports == builtin->second) {
        ++m->m_nRefs;
        return reinterpret_cast<HMODULE>(m);
      }
    auto* m = new CModule;
    m->m_strPath = builtin->first + ".dll";
    m->m_pExports = builtin->second;
    m->m_nRefs = 1;
    table.m_vModules.push_back(m);
    return reinterpret_cast<HMODULE>(m);
  }

  std::string path = ResolveLibrary(lpLibFileName);
  void* dl = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!dl) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  for (CModule* m : table.m_vModules)
    if (m->m_pDl == dl) {
      dlclose(dl);  // drop the extra reference dlopen just took
      ++m->m_nRefs;
      return reinterpret_cast<HMODULE>(m);
    }
  auto* m = new CModule;
  char* real = realpath(path.c_str(), nullptr);
  m->m_strPath = real ? real : path;
  std::free(real);
  m->m_pDl = dl;
  m->m_nRefs = 1;
  table.m_vModules.push_back(m);
  if (auto dllMain = reinterpret_cast<DllMainProc>(dlsym(dl, "DllMain"))) {
    if (!dllMain(reinterpret_cast<HINSTANCE>(m), DLL_PROCESS_ATTACH, nullptr)) {
      table.m_vModules.pop_back();
      dlclose(dl);
      delete m;
      SetLastError(ERROR_DLL_INIT_FAILED);
      return nullptr;
    }
  }
  return reinterpret_cast<HMODULE>(m);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  CModuleTable& table = Modules();
  std::lock_guard<std::recursive_mutex> guard(table.m_lock);
  CModule* m = FindModule(hModule);
  if (!m || !lpProcName) {
    SetLastError(m ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (m->m_pExports) {
    for (const BuiltinExport* e = m->m_pExports; e->pszName; ++e)
      if (std::strcmp(e->pszName, lpProcName) == 0) return e->pfn;
  } else {
    void* sym = dlsym(m->m_bProgram ? RTLD_DEFAULT : m->m_pDl, lpProcName);
    if (sym) return reinterpret_cast<FARPROC>(sym);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  CModuleTable& table = Modules();
  std::lock_guard<std::recursive_mutex> guard(table.m_lock);
  CModule* m = FindModule(hLibModule);
  if (!m || m->m_bProgram) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--m->m_nRefs > 0) return TRUE;
  if (m->m_pDl) {
    if (auto dllMain = reinterpret_cast<DllMainProc>(dlsym(m->m_pDl, "DllMain")))
      dllMain(reinterpret_cast<HINSTANCE>(m), DLL_PROCESS_DETACH, nullptr);
    dlclose(m->m_pDl);
  }
  for (auto it = table.m_vModules.begin(); it != table.m_vModules.end(); ++it)
    if (*it == m) {
      table.m_vModules.erase(it);
      break;
    }
  delete m;
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName) return reinterpret_cast<HMODULE>(ProgramModule());
  CModuleTable& table = Modules();
  std::lock_guard<std::recursive_mutex> guard(table.m_lock);
  std::string key = BuiltinKey(lpModuleName);
  for (CModule* m : table.m_vModules) {
    std::string file = BuiltinKey(m->m_strPath);
    if (file == key || file == "lib" + key || BuiltinKey(m->m_strPath.substr(0, m->m_strPath.rfind('.'))) == "lib" + key)
      return reinterpret_cast<HMODULE>(m);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  {
    CModuleTable& table = Modules();
    std::lock_guard<std::recursive_mutex> guard(table.m_lock);
    CModule* m = hModule ? FindModule(hModule) : ProgramModule();
    if (!m) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = m->m_strPath;
  }
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
  // Thread notifications are never sent by this subset; the call only checks its argument.
  CModuleTable& table = Modules();
  std::lock_guard<std::recursive_mutex> guard(table.m_lock);
  if (!FindModule(hLibModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"

// Gives each test a fresh, empty root folder on Linux, so registry hives, mappings and
// files of one test never meet another's. On Windows there is nothing to set up.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace t32test {

class FreshRoot {
 public:
  FreshRoot() {
    char pattern[] = "/tmp/t32root-XXXXXX";
    const char* dir = mkdtemp(pattern);
    m_strPath = dir ? dir : "/tmp";
    setenv("TERNIX32_ROOT", m_strPath.c_str(), 1);
  }
  ~FreshRoot() {
    std::string command = "rm -rf '" + m_strPath + "'";
    if (std::system(command.c_str()) != 0) {
    }
  }
  const std::string& Path() const { return m_strPath; }

 private:
  std::string m_strPath;
};

}  // namespace t32test
#else
namespace t32test {
class FreshRoot {};
}  // namespace t32test
#endif

// Wine stands in for Windows when the portable tests run on Linux; a few behaviours
// differ there only because of Wine, and the tests that meet one say so.
#ifdef _WIN32
#include <windows.h>
inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
inline bool RunningUnderWine() { return false; }
#endif

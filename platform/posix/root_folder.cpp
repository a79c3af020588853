#include "root_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace t32posix {

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string RootFolder() {
  std::string root;
  if (const char* env = std::getenv("TERNIX32_ROOT"); env && *env) {
    root = env;
  } else if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
    root = std::string(state) + "/ternix32";
  } else {
    const char* home = std::getenv("HOME");
    root = std::string(home && *home ? home : "/tmp") + "/.local/state/ternix32";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  MakeFolders(root);
  return root;
}

std::string RootPath(const std::string& relative) {
  std::string path = RootFolder() + "/" + relative;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) MakeFolders(path.substr(0, slash));
  return path;
}

std::string MapWindowsPath(const std::string& path) {
  if (path.size() >= 2 && (path[0] == 'C' || path[0] == 'c') && path[1] == ':') {
    std::string rest = path.substr(2);
    for (char& c : rest)
      if (c == '\\') c = '/';
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    // The drive's root folder always exists, as C:\ does on Windows.
    std::string drive = RootFolder() + "/c";
    MakeFolders(drive);
    return drive + "/" + rest;
  }
  return path;
}

std::string RootTag() {
  // FNV-1a of the folder's path, as 16 hexadecimal digits.
  unsigned long long hash = 1469598103934665603ull;
  for (char c : RootFolder()) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string tag(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) tag[i] = kHex[hash & 15];
  return tag;
}

}  // namespace t32posix

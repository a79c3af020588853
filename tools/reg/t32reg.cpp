// t32reg: looks at and changes the registry of a Linux root folder (TERNIX32_ROOT) the way
// Windows' reg.exe does, with the same commands, options and output layout:
//
//   t32reg query  KEY [/v NAME | /ve] [/s]
//   t32reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   t32reg delete KEY [/v NAME | /ve | /va] [/f]
//
// KEY is ROOT\subkey with ROOT one of HKLM, HKCU, HKCR, HKU or their long names. Options
// take '/' or '-' and any case. Text goes through the registry's A forms; the terminal's
// UTF-8 is converted to and from their one-byte characters.

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";

struct Root {
  const char* shortName;
  const char* longName;
  HKEY hKey;
};

const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

const struct {
  DWORD type;
  const char* name;
} kTypes[] = {
    {REG_NONE, "REG_NONE"},         {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"},     {REG_DWORD, "REG_DWORD"}, {5, "REG_DWORD_BIG_ENDIAN"},
    {6, "REG_LINK"},                {REG_MULTI_SZ, "REG_MULTI_SZ"}, {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"}, {10, "REG_RESOURCE_REQUIREMENTS_LIST"}, {REG_QWORD, "REG_QWORD"},
};

bool EqualNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The terminal speaks UTF-8; the registry's A forms one byte per character.
std::string FromTerminal(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 0;
    uint32_t c = extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    size_t j = 1;
    for (; extra && j <= static_cast<size_t>(extra) && i + j < utf8.size(); ++j) c = (c << 6) | (utf8[i + j] & 0x3F);
    out += extra && c <= 0xFF ? static_cast<char>(c) : '?';
    i += extra ? j : 1;
  }
  return out;
}

std::string ToTerminal(const std::string& text) {
  std::string out;
  for (char ch : text) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

std::string TypeName(DWORD type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(type));
  return buffer;
}

bool ParseType(const std::string& name, DWORD* pType) {
  for (const auto& t : kTypes)
    if (EqualNoCase(name, t.name)) {
      *pType = t.type;
      return true;
    }
  return false;
}

// reg.exe's rendering of data: text up to its zero, REG_MULTI_SZ joined by "\0", numbers
// in hexadecimal, anything else as hexadecimal bytes.
std::string FormatData(DWORD type, const std::vector<BYTE>& data) {
  std::string out;
  char buffer[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::string text(data.begin(), data.end());
      return ToTerminal(text.substr(0, text.find('\0')));
    }
    case REG_MULTI_SZ: {
      std::string text(data.begin(), data.end());
      size_t start = 0;
      while (start < text.size() && text[start] != '\0') {
        size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        if (start) out += "\\0";
        out += ToTerminal(text.substr(start, end - start));
        start = end + 1;
      }
      return out;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        uint32_t v = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
        std::snprintf(buffer, sizeof buffer, "0x%x", v);
        return buffer;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | data[i];
        std::snprintf(buffer, sizeof buffer, "0x%llx", v);
        return buffer;
      }
      break;
  }
  for (BYTE b : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", b);
    out += buffer;
  }
  return out;
}

struct Options {
  std::string command;
  HKEY hRoot = nullptr;
  std::string rootName;  // as reg.exe prints it: the long name
  std::string subKey;
  bool bValue = false;  // /v or /ve given
  std::string valueName;
  bool bAllValues = false;
  bool bRecurse = false;  // query /s
  bool bForce = false;
  DWORD type = REG_SZ;
  std::string separator = "\\0";
  bool bSeparator = false;
  std::string data;
};

void Usage() {
  std::printf(
      "Usage:\n"
      "  t32reg query  KEY [/v NAME | /ve] [/s]\n"
      "  t32reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
      "  t32reg delete KEY [/v NAME | /ve | /va] [/f]\n"
      "\n"
      "KEY is ROOT\\SubKey, ROOT one of HKLM, HKCU, HKCR, HKU (or HKEY_LOCAL_MACHINE, ...).\n"
      "TYPE is REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
      "REG_BINARY or REG_NONE. The registry is the one of the root folder TERNIX32_ROOT.\n");
}

bool InvalidSyntax() {
  std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"t32reg /?\" for usage.\n");
  return false;
}

bool ParseKey(const std::string& text, Options* pOptions) {
  std::string key = FromTerminal(text);
  size_t slash = key.find('\\');
  std::string root = key.substr(0, slash);
  for (const Root& r : kRoots)
    if (EqualNoCase(root, r.shortName) || EqualNoCase(root, r.longName)) {
      pOptions->hRoot = r.hKey;
      pOptions->rootName = r.longName;
    }
  if (!pOptions->hRoot) {
    std::fprintf(stderr, "ERROR: Invalid key name.\nType \"t32reg /?\" for usage.\n");
    return false;
  }
  if (slash != std::string::npos) pOptions->subKey = key.substr(slash + 1);
  while (!pOptions->subKey.empty() && pOptions->subKey.back() == '\\') pOptions->subKey.pop_back();
  return true;
}

bool ParseArguments(int argc, char** argv, Options* pOptions) {
  if (argc < 3) return InvalidSyntax();
  pOptions->command = argv[1];
  for (char& c : pOptions->command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (pOptions->command != "query" && pOptions->command != "add" && pOptions->command != "delete")
    return InvalidSyntax();
  if (!ParseKey(argv[2], pOptions)) return false;
  bool bQuery = pOptions->command == "query", bAdd = pOptions->command == "add";
  for (int i = 3; i < argc; ++i) {
    std::string option = argv[i];
    if (option.size() < 2 || (option[0] != '/' && option[0] != '-')) return InvalidSyntax();
    option[0] = '/';
    bool bHasNext = i + 1 < argc;
    if (EqualNoCase(option, "/v") && bHasNext && !pOptions->bValue) {
      pOptions->bValue = true;
      pOptions->valueName = FromTerminal(argv[++i]);
    } else if (EqualNoCase(option, "/ve") && !pOptions->bValue) {
      pOptions->bValue = true;
    } else if (EqualNoCase(option, "/va") && pOptions->command == "delete") {
      pOptions->bAllValues = true;
    } else if (EqualNoCase(option, "/s") && bQuery) {
      pOptions->bRecurse = true;
    } else if (EqualNoCase(option, "/s") && bAdd && bHasNext) {
      pOptions->separator = FromTerminal(argv[++i]);
      pOptions->bSeparator = true;
    } else if (EqualNoCase(option, "/t") && bAdd && bHasNext) {
      if (!ParseType(argv[++i], &pOptions->type)) {
        std::fprintf(stderr, "ERROR: Invalid type \"%s\".\n", argv[i]);
        return false;
      }
    } else if (EqualNoCase(option, "/d") && bAdd && bHasNext) {
      pOptions->data = FromTerminal(argv[++i]);
    } else if (EqualNoCase(option, "/f") && !bQuery) {
      pOptions->bForce = true;
    } else {
      return InvalidSyntax();
    }
  }
  if (pOptions->bAllValues && pOptions->bValue) return InvalidSyntax();
  return true;
}

// reg.exe's question before it overwrites or deletes anything without /f.
bool Confirm(const std::string& question) {
  for (;;) {
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    if (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) return true;
    if (!answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) return false;
  }
}

int Fail(LONG error) {
  if (error == ERROR_FILE_NOT_FOUND)
    std::fprintf(stderr, "%s\n", kNotFound);
  else if (error == ERROR_ACCESS_DENIED)
    std::fprintf(stderr, "ERROR: Access is denied.\n");
  else
    std::fprintf(stderr, "ERROR: The registry operation failed (error %ld).\n", static_cast<long>(error));
  return 1;
}

std::string DisplayName(const std::string& name) { return name.empty() ? "(Default)" : ToTerminal(name); }

LONG ReadValue(HKEY hKey, const std::string& name, DWORD* pType, std::vector<BYTE>* pData) {
  for (;;) {
    DWORD cb = static_cast<DWORD>(pData->size());
    LONG error = RegQueryValueExA(hKey, name.c_str(), nullptr, pType, pData->data(), &cb);
    if (error == ERROR_MORE_DATA) {
      pData->resize(cb);
      continue;
    }
    if (error == ERROR_SUCCESS) pData->resize(cb);
    return error;
  }
}

void PrintValue(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
  std::printf("    %s    %s    %s\n", DisplayName(name).c_str(), TypeName(type).c_str(), FormatData(type, data).c_str());
}

// The index-th value of a key; ERROR_NO_MORE_ITEMS past the last.
LONG EnumValue(HKEY hKey, DWORD index, std::string* pName, DWORD* pType, std::vector<BYTE>* pData) {
  for (;;) {
    std::vector<char> name(16384);
    DWORD cchName = static_cast<DWORD>(name.size());
    DWORD cb = static_cast<DWORD>(pData->size());
    LONG error = RegEnumValueA(hKey, index, name.data(), &cchName, nullptr, pType, pData->data(), &cb);
    if (error == ERROR_MORE_DATA && cb > pData->size()) {
      pData->resize(cb);
      continue;
    }
    if (error == ERROR_SUCCESS) {
      pName->assign(name.data(), cchName);
      pData->resize(cb);
    }
    return error;
  }
}

std::vector<std::string> Subkeys(HKEY hKey) {
  std::vector<std::string> names;
  std::vector<char> name(256);
  for (DWORD i = 0;;) {
    DWORD cch = static_cast<DWORD>(name.size());
    LONG error = RegEnumKeyExA(hKey, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_MORE_DATA && name.size() < 65536) {
      name.resize(name.size() * 4);
      continue;
    }
    if (error != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), cch);
    ++i;
  }
  return names;
}

std::string Join(const std::string& parent, const std::string& child) {
  if (child.empty()) return parent;
  return parent.empty() ? child : parent + "\\" + child;
}

// Lists a key as reg.exe does: its path, its values, then its subkeys (or, with /s, each
// subkey's own listing). Returns the number of matches for the closing line of /s.
int QueryKey(HKEY hKey, const std::string& path, const Options& options) {
  int matches = 0;
  std::printf("\n%s\n", ToTerminal(path).c_str());
  std::vector<BYTE> data(256);
  if (options.bValue) {
    DWORD type = 0;
    if (ReadValue(hKey, options.valueName, &type, &data) == ERROR_SUCCESS) {
      PrintValue(options.valueName, type, data);
      ++matches;
    }
  } else {
    for (DWORD i = 0;; ++i) {
      std::string name;
      DWORD type = 0;
      if (EnumValue(hKey, i, &name, &type, &data) != ERROR_SUCCESS) break;
      PrintValue(name, type, data);
      ++matches;
    }
  }
  std::vector<std::string> subkeys = Subkeys(hKey);
  if (!options.bRecurse) {
    if (!subkeys.empty()) std::printf("\n");
    for (const std::string& name : subkeys) std::printf("%s\n", ToTerminal(Join(path, name)).c_str());
    return matches;
  }
  for (const std::string& name : subkeys) {
    HKEY hSub = nullptr;
    if (RegOpenKeyExA(hKey, name.c_str(), 0, KEY_READ, &hSub) != ERROR_SUCCESS) continue;
    matches += QueryKey(hSub, Join(path, name), options);
    RegCloseKey(hSub);
  }
  return matches;
}

int Query(const Options& options) {
  HKEY hKey = nullptr;
  if (LONG error = RegOpenKeyExA(options.hRoot, options.subKey.c_str(), 0, KEY_READ, &hKey)) return Fail(error);
  int result = 0;
  if (options.bValue && !options.bRecurse) {
    DWORD type = 0;
    std::vector<BYTE> data(256);
    LONG error = ReadValue(hKey, options.valueName, &type, &data);
    if (error == ERROR_SUCCESS) {
      std::printf("\n%s\n", ToTerminal(Join(options.rootName, options.subKey)).c_str());
      PrintValue(options.valueName, type, data);
      std::printf("\n");
    } else if (error == ERROR_FILE_NOT_FOUND && options.valueName.empty()) {
      // reg.exe shows an unset default value rather than failing.
      std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n",
                  ToTerminal(Join(options.rootName, options.subKey)).c_str());
    } else {
      result = Fail(error);
    }
  } else {
    int matches = QueryKey(hKey, Join(options.rootName, options.subKey), options);
    if (options.bRecurse) std::printf("\nEnd of search: %d match(es) found.\n", matches);
  }
  RegCloseKey(hKey);
  return result;
}

bool ParseNumber(const std::string& text, unsigned long long limit, unsigned long long* pValue) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno || *end || value > limit || text[0] == '-') return false;
  *pValue = value;
  return true;
}

// The bytes RegSetValueExA gets for /t and /d.
bool EncodeData(const Options& options, std::vector<BYTE>* pData) {
  const std::string& d = options.data;
  switch (options.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      pData->assign(d.begin(), d.end());
      pData->push_back(0);
      return true;
    case REG_MULTI_SZ: {
      size_t start = 0;
      while (!d.empty() && start <= d.size()) {
        size_t end = d.find(options.separator, start);
        if (end == std::string::npos) end = d.size();
        pData->insert(pData->end(), d.begin() + static_cast<long>(start), d.begin() + static_cast<long>(end));
        pData->push_back(0);
        start = end + options.separator.size();
      }
      pData->push_back(0);
      return true;
    }
    case REG_DWORD:
    case REG_QWORD: {
      unsigned long long value = 0;
      bool bDword = options.type == REG_DWORD;
      if (!ParseNumber(d.empty() ? "0" : d, bDword ? 0xFFFFFFFFull : ~0ull, &value)) return false;
      for (int i = 0; i < (bDword ? 4 : 8); ++i) pData->push_back(static_cast<BYTE>(value >> (8 * i)));
      return true;
    }
    default:
      if (d.size() % 2) return false;
      for (size_t i = 0; i < d.size(); i += 2) {
        unsigned long long byte = 0;
        if (!std::isxdigit(static_cast<unsigned char>(d[i])) || !std::isxdigit(static_cast<unsigned char>(d[i + 1])) ||
            !ParseNumber("0x" + d.substr(i, 2), 0xFF, &byte))
          return false;
        pData->push_back(static_cast<BYTE>(byte));
      }
      return true;
  }
}

int Add(const Options& options) {
  if (options.bSeparator && options.type != REG_MULTI_SZ) {
    InvalidSyntax();
    return 1;
  }
  std::vector<BYTE> data;
  if (!EncodeData(options, &data)) {
    std::fprintf(stderr, "ERROR: Invalid data \"%s\" for %s.\n", ToTerminal(options.data).c_str(),
                 TypeName(options.type).c_str());
    return 1;
  }
  HKEY hKey = nullptr;
  if (LONG error = RegCreateKeyExA(options.hRoot, options.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &hKey, nullptr))
    return Fail(error);
  LONG error = ERROR_SUCCESS;
  if (options.bValue) {
    DWORD cb = 0;
    bool bExists = RegQueryValueExA(hKey, options.valueName.c_str(), nullptr, nullptr, nullptr, &cb) == ERROR_SUCCESS;
    if (bExists && !options.bForce &&
        !Confirm("Value " + DisplayName(options.valueName) + " exists, overwrite")) {
      RegCloseKey(hKey);
      std::printf("The operation was cancelled by the user.\n");
      return 1;
    }
    error = RegSetValueExA(hKey, options.valueName.c_str(), 0, options.type, data.data(),
                           static_cast<DWORD>(data.size()));
  }
  RegCloseKey(hKey);
  if (error) return Fail(error);
  std::printf("The operation completed successfully.\n");
  return 0;
}

// Deletes a key with everything below it.
LONG DeleteTree(HKEY hParent, const std::string& name) {
  HKEY hKey = nullptr;
  if (LONG error = RegOpenKeyExA(hParent, name.c_str(), 0, KEY_ALL_ACCESS, &hKey)) return error;
  for (const std::string& sub : Subkeys(hKey))
    if (LONG error = DeleteTree(hKey, sub)) {
      RegCloseKey(hKey);
      return error;
    }
  RegCloseKey(hKey);
  return RegDeleteKeyA(hParent, name.c_str());
}

int Delete(const Options& options) {
  std::string path = Join(options.rootName, options.subKey);
  HKEY hKey = nullptr;
  if (LONG error = RegOpenKeyExA(options.hRoot, options.subKey.c_str(), 0, KEY_ALL_ACCESS, &hKey)) return Fail(error);
  LONG error = ERROR_SUCCESS;
  if (options.bValue || options.bAllValues) {
    std::string question = options.bAllValues ? "Delete all values under the registry key " + ToTerminal(path)
                                              : "Delete the registry value " + DisplayName(options.valueName);
    if (!options.bForce && !Confirm(question)) {
      RegCloseKey(hKey);
      std::printf("The operation was cancelled by the user.\n");
      return 1;
    }
    if (options.bAllValues) {
      std::vector<std::string> names;
      std::vector<BYTE> data(256);
      for (DWORD i = 0;; ++i) {
        std::string name;
        DWORD type = 0;
        if (EnumValue(hKey, i, &name, &type, &data) != ERROR_SUCCESS) break;
        names.push_back(name);
      }
      for (const std::string& name : names)
        if (!error) error = RegDeleteValueA(hKey, name.c_str());
    } else {
      error = RegDeleteValueA(hKey, options.valueName.c_str());
    }
    RegCloseKey(hKey);
  } else {
    RegCloseKey(hKey);
    if (options.subKey.empty()) return Fail(ERROR_ACCESS_DENIED);  // a root is never deleted
    if (!options.bForce && !Confirm("Permanently delete the registry key " + ToTerminal(path))) {
      std::printf("The operation was cancelled by the user.\n");
      return 1;
    }
    error = DeleteTree(options.hRoot, options.subKey);
  }
  if (error) return Fail(error);
  std::printf("The operation completed successfully.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "/?") == 0 || std::strcmp(argv[1], "-?") == 0 ||
      std::strcmp(argv[1], "--help") == 0) {
    Usage();
    return argc < 2 ? 1 : 0;
  }
  Options options;
  if (!ParseArguments(argc, argv, &options)) return 1;
  if (options.command == "query") return Query(options);
  if (options.command == "add") return Add(options);
  return Delete(options);
}

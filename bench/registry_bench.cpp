// Registry value reads and writes, per operation, through the A and W forms the system
// uses: DWORD settings, string values, and the open-read-close pattern of a settings load.
// Runs against a fresh root folder of its own.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/win32.h"

namespace {

const char kKey[] = "Software\\ASIO\\Ternix32";
const char kPath[] = "C:\\Program Files\\HALVERON\\Ternix32\\x64\\Ternix32ASIO.dll";
const WCHAR kClsid[] = L"{5A0C31E4-77B2-4F1D-9C55-2B7E0A3D9F10}";

// A fresh root folder for the whole run, removed at exit.
struct BenchRoot {
  std::string folder;
  BenchRoot() {
    char name[] = "/tmp/t32-registry-bench-XXXXXX";
    if (mkdtemp(name)) folder = name;
    setenv("TERNIX32_ROOT", folder.c_str(), 1);
  }
  ~BenchRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};
BenchRoot g_root;

HKEY OpenSettings() {
  HKEY hKey = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &hKey,
                  nullptr);
  DWORD value = 100;
  RegSetValueExA(hKey, "BufferSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegSetValueExA(hKey, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPath), sizeof kPath);
  RegSetValueExW(hKey, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(kClsid), sizeof kClsid);
  return hKey;
}

void BM_ReadDword(benchmark::State& state) {
  HKEY hKey = OpenSettings();
  for (auto _ : state) {
    DWORD value = 0, cb = sizeof value;
    if (RegQueryValueExA(hKey, "BufferSize", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb))
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(value);
  }
  RegCloseKey(hKey);
}
BENCHMARK(BM_ReadDword);

void BM_WriteDword(benchmark::State& state) {
  HKEY hKey = OpenSettings();
  DWORD value = 0;
  for (auto _ : state) {
    ++value;
    if (RegSetValueExA(hKey, "BufferSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value))
      state.SkipWithError("write failed");
  }
  RegCloseKey(hKey);
}
BENCHMARK(BM_WriteDword);

void BM_ReadStringA(benchmark::State& state) {
  HKEY hKey = OpenSettings();
  for (auto _ : state) {
    char text[MAX_PATH];
    DWORD cb = sizeof text;
    if (RegQueryValueExA(hKey, "Driver", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb))
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(text);
  }
  RegCloseKey(hKey);
}
BENCHMARK(BM_ReadStringA);

void BM_ReadStringW(benchmark::State& state) {
  HKEY hKey = OpenSettings();
  for (auto _ : state) {
    WCHAR text[64];
    DWORD cb = sizeof text;
    if (RegQueryValueExW(hKey, L"CLSID", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb))
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(text);
  }
  RegCloseKey(hKey);
}
BENCHMARK(BM_ReadStringW);

void BM_WriteStringA(benchmark::State& state) {
  HKEY hKey = OpenSettings();
  for (auto _ : state) {
    if (RegSetValueExA(hKey, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPath), sizeof kPath))
      state.SkipWithError("write failed");
  }
  RegCloseKey(hKey);
}
BENCHMARK(BM_WriteStringA);

// What a settings load does per value group: open the key by path, read, close.
void BM_OpenReadClose(benchmark::State& state) {
  RegCloseKey(OpenSettings());
  for (auto _ : state) {
    HKEY hKey = nullptr;
    DWORD value = 0, cb = sizeof value;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &hKey) ||
        RegQueryValueExA(hKey, "BufferSize", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb))
      state.SkipWithError("read failed");
    RegCloseKey(hKey);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_OpenReadClose);

}  // namespace

#include "common/settings_store.h"

#include "common/registry_names.h"

namespace t32 {
namespace {

// Opens HKEY_CURRENT_USER\Software\ASIO\Ternix32; both levels must exist.
BOOL OpenSettingsKey(HKEY* phParent, HKEY* phKey) {
  *phParent = nullptr;
  *phKey = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kAsioKey, 0, KEY_ALL_ACCESS, phParent) != ERROR_SUCCESS) return FALSE;
  if (RegOpenKeyExA(*phParent, kDriverSubkey, 0, KEY_ALL_ACCESS, phKey) != ERROR_SUCCESS) {
    RegCloseKey(*phParent);
    *phParent = nullptr;
    return FALSE;
  }
  return TRUE;
}

BOOL CreateSettingsKey(HKEY* phParent, HKEY* phKey) {
  *phParent = nullptr;
  *phKey = nullptr;
  DWORD disposition;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kAsioKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      phParent, &disposition) != ERROR_SUCCESS)
    return FALSE;
  if (RegCreateKeyExA(*phParent, kDriverSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, phKey,
                      &disposition) != ERROR_SUCCESS)
    *phKey = nullptr;
  return TRUE;
}

void CloseKeys(HKEY hParent, HKEY hKey) {
  if (hKey) RegCloseKey(hKey);
  if (hParent) RegCloseKey(hParent);
}

void WriteDword(HKEY hKey, const char* pszName, DWORD dwValue) {
  RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
}

DWORD ReadOr(HKEY hKey, const char* pszName, DWORD dwDefault) {
  DWORD value;
  return hKey && ReadDwordSetting(hKey, pszName, &value) ? value : dwDefault;
}

// The four preferences that travel through the block.
void LoadPreferences(HKEY hKey, StatusBlock* pBlock) {
  pBlock->PreferredBufferTime = ReadOr(hKey, kValueBufferSize, kDefaultBufferSize);
  pBlock->PreferredBits = ReadOr(hKey, kValueBitsPerSample, kDefaultBitsPerSample);
  pBlock->SupportedRateMask = ReadOr(hKey, kValueSupportSampleRate, kDefaultSupportSampleRate);
  pBlock->SupportedWidthMask = ReadOr(hKey, kValueSupportBitsPerSample, kDefaultSupportBitsPerSample);
}

bool IsValid(const StatusBlock* pBlock) { return pBlock && pBlock->Magic == kStatusBlockMagic; }

}  // namespace

BOOL ReadDwordSetting(HKEY hKey, const char* pszName, DWORD* pdwValue) {
  DWORD value = 0;
  DWORD cb = sizeof(value);
  if (RegQueryValueExA(hKey, pszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb) != ERROR_SUCCESS ||
      cb != sizeof(value))
    return FALSE;
  *pdwValue = value;
  return TRUE;
}

void LoadDriverSettings(StatusBlock* pBlock, DWORD* pdwSampleRate) {
  HKEY hParent, hKey;
  if (!OpenSettingsKey(&hParent, &hKey)) return;
  *pdwSampleRate = ReadOr(hKey, kValueSampleRate, kDefaultSampleRate);
  if (IsValid(pBlock) && pBlock->SettingsLoaded == 0) {
    LoadPreferences(hKey, pBlock);
    pBlock->SettingsLoaded = 1;
    pBlock->Changed = 1;
  }
  CloseKeys(hParent, hKey);
}

void SaveDriverSettings(const StatusBlock* pBlock, DWORD dwSampleRate) {
  HKEY hParent, hKey;
  if (!CreateSettingsKey(&hParent, &hKey)) return;
  if (hKey) {
    WriteDword(hKey, kValueSampleRate, dwSampleRate);
    if (IsValid(pBlock) && pBlock->SettingsLoaded != 0) {
      WriteDword(hKey, kValueBufferSize, pBlock->PreferredBufferTime);
      WriteDword(hKey, kValueBitsPerSample, pBlock->PreferredBits);
      WriteDword(hKey, kValueSupportSampleRate, pBlock->SupportedRateMask);
      WriteDword(hKey, kValueSupportBitsPerSample, pBlock->SupportedWidthMask);
    }
  }
  CloseKeys(hParent, hKey);
}

void LoadPanelSettings(StatusBlock* pBlock) {
  if (!pBlock) return;
  HKEY hParent, hKey;
  OpenSettingsKey(&hParent, &hKey);  // a missing key gives every default
  LoadPreferences(hKey, pBlock);
  pBlock->SettingsLoaded = 1;
  CloseKeys(hParent, hKey);
}

void SavePanelSettings(const StatusBlock* pBlock) {
  if (!pBlock) return;
  HKEY hParent, hKey;
  if (!CreateSettingsKey(&hParent, &hKey)) return;
  if (hKey) {
    WriteDword(hKey, kValueBufferSize, pBlock->PreferredBufferTime);
    WriteDword(hKey, kValueBitsPerSample, pBlock->PreferredBits);
  }
  CloseKeys(hParent, hKey);
}

BOOL ReadPanelFolder(char* pszFolder, DWORD cchFolder) {
  if (!pszFolder || cchFolder == 0) return FALSE;
  pszFolder[0] = 0;
  HKEY hParent, hKey;
  if (!OpenSettingsKey(&hParent, &hKey)) return FALSE;
  DWORD cb = cchFolder;
  LONG status = RegQueryValueExA(hKey, kValueAsioCpl, nullptr, nullptr, reinterpret_cast<BYTE*>(pszFolder), &cb);
  CloseKeys(hParent, hKey);
  if (status != ERROR_SUCCESS) {
    pszFolder[0] = 0;
    return FALSE;
  }
  // A value stored without its zero, or filling the buffer, still ends as a string.
  pszFolder[cb < cchFolder ? cb : cchFolder - 1] = 0;
  return TRUE;
}

}  // namespace t32

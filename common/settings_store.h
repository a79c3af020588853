// The per-user settings key HKEY_CURRENT_USER\Software\ASIO\Ternix32: its values, their
// defaults, and the load and save steps of the driver and of the control panel. Registry
// errors are silent: an unreadable value takes its default, a failed write is ignored.
#pragma once

#include "common/status_block.h"
#include "platform/win32.h"

namespace t32 {

// Reads a DWORD setting the way every reader of the key does: into a 4-byte buffer,
// whatever its type; data that is not exactly 4 bytes long counts as unreadable.
BOOL ReadDwordSetting(HKEY hKey, const char* pszName, DWORD* pdwValue);

// Driver, load: opens the key (never creates it). When it is missing, nothing is read
// and *pdwSampleRate keeps its value. Otherwise *pdwSampleRate = "SampleRate" (44100 when
// unreadable), and when the block is valid with SettingsLoaded 0, the four preferences go
// into it (each with its own default), then SettingsLoaded = 1 and Changed = 1.
void LoadDriverSettings(StatusBlock* pBlock, DWORD* pdwSampleRate);
// Driver, save: creates or opens the key, writes "SampleRate", and when the block is
// valid with SettingsLoaded set, the four preferences from the block.
void SaveDriverSettings(const StatusBlock* pBlock, DWORD dwSampleRate);
// Panel, load (only when the panel created the block): the four preferences with their
// defaults, also when the key is missing; SettingsLoaded = 1; Changed is not set.
void LoadPanelSettings(StatusBlock* pBlock);
// Panel, save: "BufferSize" and "BitsPerSample" from the block.
void SavePanelSettings(const StatusBlock* pBlock);
// Reads "ASIOCPL", the control panel's folder, always zero-terminated. FALSE when the
// key or value cannot be read.
BOOL ReadPanelFolder(char* pszFolder, DWORD cchFolder);

}  // namespace t32

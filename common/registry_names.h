// Registry keys and value names shared by the deliverables.
#pragma once

namespace t32 {

// Per-user driver settings (HKEY_CURRENT_USER) and the ASIO registration
// (HKEY_LOCAL_MACHINE) share the same path below their roots.
constexpr char kAsioKey[] = "Software\\ASIO";
constexpr char kDriverSubkey[] = "Ternix32";
constexpr char kAsioDriverKey[] = "Software\\ASIO\\Ternix32";

// Per-user settings values.
constexpr char kValueSampleRate[] = "SampleRate";
constexpr char kValueBufferSize[] = "BufferSize";
constexpr char kValueBitsPerSample[] = "BitsPerSample";
constexpr char kValueSupportSampleRate[] = "SupportSampleRate";
constexpr char kValueSupportBitsPerSample[] = "SupporBitsPerSample";  // spelled so in every installed key
constexpr char kValueAsioCpl[] = "ASIOCPL";

// Settings defaults (driver and panel alike, except SampleRate which only the driver uses).
constexpr unsigned kDefaultSampleRate = 44100;
constexpr unsigned kDefaultBufferSize = 100;  // tenths of a millisecond: 10 ms
constexpr unsigned kDefaultBitsPerSample = 16;
constexpr unsigned kDefaultSupportSampleRate = 2;    // 44100 only
constexpr unsigned kDefaultSupportBitsPerSample = 2;  // 16-bit only

// ASIO registration values (HKEY_LOCAL_MACHINE\Software\ASIO\Ternix32).
constexpr char kValueClsid[] = "CLSID";
constexpr char kValueDriver[] = "Driver";
// Class registration (HKEY_CLASSES_ROOT\CLSID\{clsid}).
constexpr char kClsidKeyPrefix[] = "CLSID\\";
constexpr char kInprocServer32[] = "InprocServer32";
constexpr char kValueFriendlyName[] = "FriendlyName";
constexpr char kValueThreadingModel[] = "ThreadingModel";
constexpr char kFriendlyName[] = "Ternix32";
constexpr char kThreadingApartment[] = "Apartment";

// Package configuration (HKEY_LOCAL_MACHINE), read from the main key, then its twin.
constexpr char kPackageKey[] = "SOFTWARE\\HALVERON\\Ternix32";
constexpr char kPackageKeyWow64[] = "SOFTWARE\\Wow6432Node\\HALVERON\\Ternix32";
constexpr char kValueCoInstallStatus[] = "CoInstallStatus";
constexpr char kValuePlayRecPP[] = "PlayRecPP";
constexpr char kValueAsioDrvPP[] = "AsioDrvPP";
constexpr char kValueRmtCtrlPP[] = "RmtCtrlPP";

// The log-on entry the co-installer writes (HKEY_LOCAL_MACHINE).
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The control panel's window title and program name.
constexpr char kPanelWindowTitle[] = "Ternix-32 Audio Control Panel";
constexpr char kPanelProgram[] = "Ternix32ACPL.exe";

}  // namespace t32

// The one include for system code. On Windows it pulls in the SDK headers the system
// uses; on Linux it pulls in our own declarations of the same names, implemented by the
// subset in platform/posix.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <winioctl.h>
#include <ks.h>
#include <ksmedia.h>
#include <setupapi.h>
#include <shellapi.h>
// The HID headers of MinGW-w64 declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
#else
#include "posix/win_types.h"
#include "posix/kernel32.h"
#include "posix/winmm.h"
#include "posix/ole32.h"
#include "posix/advapi32.h"
#include "posix/mmreg.h"
#include "posix/ks.h"
#include "posix/setupapi.h"
#include "posix/user32.h"
#include "posix/shell32.h"
#include "posix/hid.h"
#endif

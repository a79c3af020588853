// winmm for Linux builds: the multimedia timer functions the driver uses.
#pragma once

#include "win_types.h"

typedef UINT MMRESULT;
#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

extern "C" {
// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows counter.
DWORD WINAPI timeGetTime(void);
// Periods of 1 to 1000 ms are accepted and counted (begin and end must pair up);
// 0 or more than 1000 gives TIMERR_NOCANDO. Linux timers need no raised resolution, so
// the count only serves the pairing rule, which tests can read.
MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
MMRESULT WINAPI timeEndPeriod(UINT uPeriod);
}

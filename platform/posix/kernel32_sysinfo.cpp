// Processor information.
#include <unistd.h>

#include "kernel32.h"

extern "C" {

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  if (!lpSystemInfo) return;
  std::memset(lpSystemInfo, 0, sizeof(*lpSystemInfo));
  lpSystemInfo->wProcessorArchitecture = sizeof(void*) == 8 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
  lpSystemInfo->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
  lpSystemInfo->dwAllocationGranularity = 65536;
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  lpSystemInfo->dwNumberOfProcessors = n > 0 ? static_cast<DWORD>(n) : 1;
  lpSystemInfo->dwActiveProcessorMask =
      lpSystemInfo->dwNumberOfProcessors >= sizeof(DWORD_PTR) * 8 ? ~DWORD_PTR(0)
                                                                  : (DWORD_PTR(1) << lpSystemInfo->dwNumberOfProcessors) - 1;
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo) { GetSystemInfo(lpSystemInfo); }

}  // extern "C"

// t32status: watches the shared status block "Ternix32_20120823" as the control panel does,
// and prints a line each time what the panel would show changes.
//
//   t32status [--interval MS] [--once]
//
// It opens the block only when someone has created it (it never creates one) and then
// holds it, as the panel does, so the block outlives the driver objects that come and go.
// --once prints the current view and ends. SIGINT and SIGTERM end it cleanly.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/status_block_view.h"
#include "tools/t32status/status_line.h"

namespace {

volatile sig_atomic_t g_bQuit = 0;
void OnSignal(int) { g_bQuit = 1; }

}  // namespace

int main(int argc, char** argv) {
  DWORD dwInterval = 5;
  bool bOnce = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--once") == 0) {
      bOnce = true;
    } else if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc) {
      dwInterval = DWORD(std::strtoul(argv[++i], nullptr, 10));
      if (dwInterval == 0) dwInterval = 5;
    } else {
      std::fprintf(stderr, "usage: t32status [--interval MS] [--once]\n");
      return 2;
    }
  }
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  t32::CStatusBlockView view;
  bool bOpen = false;
  std::string last;
  DWORD dwStart = GetTickCount();
  const bool bTerminal = isatty(STDOUT_FILENO) != 0;
  while (!g_bQuit) {
    if (!bOpen) bOpen = view.OpenExisting() != FALSE;
    std::string line;
    if (!bOpen)
      line = "no status block yet (no driver or panel has created it)";
    else if (!view.IsValid())
      line = "the status block's magic is wrong; ignored";
    else
      line = t32status::StatusLine(*view.Block());
    if (bOnce) {
      std::printf("%s\n", line.c_str());
      return 0;
    }
    if (line != last) {
      // On a terminal, a progress line another program is redrawing is cleared first.
      std::printf("%sstatus [%5.1f s] %s\n", bTerminal ? "\r\033[K" : "", (GetTickCount() - dwStart) / 1000.0,
                  line.c_str());
      std::fflush(stdout);
      last = line;
    }
    Sleep(dwInterval);
  }
  return 0;
}

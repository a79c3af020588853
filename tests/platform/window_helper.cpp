// A program with a top-level window, for the window table tests: enters a window titled
// argv[1], writes argv[2] once it has, and stays until the file argv[3] appears.
#include <unistd.h>

#include <fstream>

#include "platform/posix/test_hooks.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  if (!t32posix::RegisterTestWindow(argv[1])) return 1;
  std::ofstream(argv[2]) << "ready\n";
  while (access(argv[3], F_OK) != 0) usleep(10000);
  return 0;
}

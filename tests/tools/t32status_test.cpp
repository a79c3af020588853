// The status watcher's line: what the panel's ASIO page would show for a block.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/t32status/status_line.h"

namespace {

TEST(StatusLine, ShowsThePanelsViewOfTheBlock) {
  struct Case {
    DWORD dwState, dwBuffer, dwRate, dwBits, dwDsd;
    const char* pszName;
    const char* pszLine;
  } cases[] = {
      {0, 0, 0, 0, 0, "Ternix32", "UNLOAD  Not Available"},
      {1, 100, 44100, 16, 0, "Ternix32", "LOADED  Not Available"},
      {2, 100, 48000, 24, 0, "Ternix32", "INITIALIZED  Ternix32"},
      {3, 512, 48000, 24, 0, "Ternix32", "PREPARED  Ternix32"},
      {4, 512, 48000, 24, 0, "Ternix32", "RUNNING  Ternix32  2 Channel, 24 bits, 48000 Hz, Buffer 10.7 ms"},
      {4, 882, 88200, 32, 1, "Ternix32", "RUNNING  Ternix32  2 Channel, 32 bits, 88200 Hz, Buffer 10.0 ms  (DSD)"},
      {4, 480, 0, 16, 0, "T", "RUNNING  T  2 Channel, 16 bits, 0 Hz, Buffer 0.0 ms"},
      {9, 0, 0, 0, 0, "Ternix32", "UNLOAD  Not Available"},
  };
  for (const Case& c : cases) {
    t32::StatusBlock block = {};
    block.Magic = t32::kStatusBlockMagic;
    block.DriverState = c.dwState;
    block.CurrentBuffer = c.dwBuffer;
    block.CurrentSampleRate = c.dwRate;
    block.CurrentBits = c.dwBits;
    block.DsdMode = c.dwDsd;
    std::strcpy(block.DeviceName, c.pszName);
    EXPECT_EQ(t32status::StatusLine(block), c.pszLine);
  }
  // A name that fills the field without its zero is cut at the field's end.
  t32::StatusBlock block = {};
  block.DriverState = 2;
  std::memset(block.DeviceName, 'N', sizeof(block.DeviceName));
  EXPECT_EQ(t32status::StatusLine(block), "INITIALIZED  " + std::string(sizeof(block.DeviceName), 'N'));
}

}  // namespace

// Prints the sizes, field offsets and GUID values of the structures the system shares
// with Windows. Built for Linux (our declarations) and for Windows (the SDK headers), the
// two outputs must be identical; `make test` compares them.
#include <cstddef>
#include <cstdio>

#include "common/status_block.h"
#include "layout_table.h"
#include "platform/win32.h"

namespace {

void PrintGuid(const char* name, const GUID& g) {
  std::printf("guid %s {%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", name, static_cast<unsigned>(g.Data1),
              g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
              g.Data4[7]);
}

}  // namespace

#define T32_SIZE(type) std::printf("size %s %u\n", #type, static_cast<unsigned>(sizeof(type)))
#define T32_FIELD(type, field) \
  std::printf("offset %s.%s %u\n", #type, #field, static_cast<unsigned>(offsetof(type, field)))
#define T32_GUID(name) PrintGuid(#name, name)
#define T32_VALUE(name) \
  std::printf("value %s 0x%llX\n", #name, static_cast<unsigned long long>(static_cast<long long>(name)))

int main() {
  std::printf("pointer %u\n", static_cast<unsigned>(sizeof(void*)));
  T32_LAYOUT_TABLE
  return 0;
}

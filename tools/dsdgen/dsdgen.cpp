// dsdgen: writes a sine as raw one-channel DSD64 (eight samples per byte, earliest in the
// most significant bit), made by the fifth-order sigma-delta modulator of t32_dsdgen.
//
//   dsdgen [-f HZ] [-l DBFS] [-s SECONDS] [-o OUTPUT]
//
// Defaults: 1000 Hz, -6 dBFS, 1 second, standard output. 0 dBFS is 50 % modulation, the
// level the converter turns into PCM full scale; the modulator is stable up to -3 dBFS.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/dsdgen/dsd_generator.h"

namespace {

int Usage() {
  fprintf(stderr,
          "usage: dsdgen [-f HZ] [-l DBFS] [-s SECONDS] [-o OUTPUT]\n"
          "  a sine as raw one-channel DSD64 (MSB first); defaults 1000 Hz, -6 dBFS, 1 s,\n"
          "  standard output\n");
  return 2;
}

bool ParseDouble(const char* psz, double dMin, double dMax, double* pd) {
  char* pEnd = nullptr;
  errno = 0;
  double d = strtod(psz, &pEnd);
  if (errno != 0 || pEnd == psz || *pEnd != '\0' || !(d >= dMin && d <= dMax)) return false;
  *pd = d;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double dFrequency = 1000.0, dLevel = -6.0, dSeconds = 1.0;
  const char* pszOutput = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "-f") == 0 && i + 1 < argc) {
      if (!ParseDouble(argv[++i], 0.0, kDsd64Rate / 2, &dFrequency)) return Usage();
    } else if (strcmp(argv[i], "-l") == 0 && i + 1 < argc) {
      if (!ParseDouble(argv[++i], -300.0, 6.0, &dLevel)) return Usage();
    } else if (strcmp(argv[i], "-s") == 0 && i + 1 < argc) {
      if (!ParseDouble(argv[++i], 0.0, 3600.0, &dSeconds)) return Usage();
    } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      pszOutput = argv[++i];
    } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      Usage();
      return 0;
    } else {
      return Usage();
    }
  }
  if (dLevel > -3.0) {
    fprintf(stderr, "dsdgen: warning: above -3 dBFS the modulator may be unstable\n");
  }

  FILE* pfOut = pszOutput ? fopen(pszOutput, "wb") : stdout;
  if (!pfOut) {
    fprintf(stderr, "dsdgen: %s: %s\n", pszOutput, strerror(errno));
    return 1;
  }
  int nResets = 0;
  std::vector<uint8_t> vb = DsdSine(dFrequency, dLevel, (size_t)(dSeconds * kDsd64Rate / 8.0), &nResets);
  if (nResets > 0) {
    fprintf(stderr, "dsdgen: warning: the modulator overloaded %d times; the signal is damaged\n", nResets);
  }
  if (fwrite(vb.data(), 1, vb.size(), pfOut) != vb.size() || fflush(pfOut) != 0) {
    fprintf(stderr, "dsdgen: write failed: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}

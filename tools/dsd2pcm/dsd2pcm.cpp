// dsd2pcm: converts a raw one-channel DSD64 stream (eight samples per byte, earliest in the
// most significant bit) into raw little-endian PCM at 88200 Hz, using the driver's
// converter with the per-call length the driver would use.
//
//   dsd2pcm [-b 2|3|4] [-n BYTES] [-o OUTPUT] [INPUT]
//
// INPUT is a file or "-" for standard input (the default); the PCM goes to OUTPUT or to
// standard output. -b: bytes per sample (default 3); -n: DSD bytes per converter call
// (default 3528, one 28224-frame buffer). Every call gives one sample per four bytes, and
// each call starts its four-byte grouping at its own first byte, so the last, shorter call
// drops up to three bytes, as the driver does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "asio_driver/dsd_converter.h"

namespace {

int Usage() {
  fprintf(stderr,
          "usage: dsd2pcm [-b 2|3|4] [-n BYTES] [-o OUTPUT] [INPUT]\n"
          "  raw one-channel DSD64 (MSB first) from INPUT or standard input to raw\n"
          "  little-endian 88200 Hz PCM on OUTPUT or standard output\n"
          "  -b  bytes per PCM sample: 2 (16-bit, noise-shaped), 3 (default) or 4\n"
          "  -n  DSD bytes per conversion call, default 3528\n");
  return 2;
}

bool ParseInt(const char* psz, long lMin, long lMax, int* pn) {
  char* pEnd = nullptr;
  errno = 0;
  long l = strtol(psz, &pEnd, 10);
  if (errno != 0 || pEnd == psz || *pEnd != '\0' || l < lMin || l > lMax) return false;
  *pn = (int)l;
  return true;
}

// Reads up to cb bytes, fewer only at the end of the input.
size_t ReadFull(FILE* pf, BYTE* pb, size_t cb) {
  size_t cbDone = 0;
  while (cbDone < cb) {
    size_t cbRead = fread(pb + cbDone, 1, cb - cbDone, pf);
    if (cbRead == 0) break;
    cbDone += cbRead;
  }
  return cbDone;
}

}  // namespace

int main(int argc, char** argv) {
  int nBytes = 3;
  int nLength = 3528;
  const char* pszInput = "-";
  const char* pszOutput = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "-b") == 0 && i + 1 < argc) {
      if (!ParseInt(argv[++i], 2, 4, &nBytes)) return Usage();
    } else if (strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
      if (!ParseInt(argv[++i], 1, 1 << 24, &nLength)) return Usage();
    } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      pszOutput = argv[++i];
    } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      Usage();
      return 0;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else {
      pszInput = argv[i];
    }
  }

  FILE* pfIn = strcmp(pszInput, "-") == 0 ? stdin : fopen(pszInput, "rb");
  if (!pfIn) {
    fprintf(stderr, "dsd2pcm: %s: %s\n", pszInput, strerror(errno));
    return 1;
  }
  FILE* pfOut = pszOutput ? fopen(pszOutput, "wb") : stdout;
  if (!pfOut) {
    fprintf(stderr, "dsd2pcm: %s: %s\n", pszOutput, strerror(errno));
    return 1;
  }

  CDsdConverter converter;
  if (FAILED(converter.Initialize(nLength, nBytes))) {
    fprintf(stderr, "dsd2pcm: out of memory\n");
    return 1;
  }
  std::vector<BYTE> vbIn(nLength);
  std::vector<BYTE> vbOut((size_t)(nLength / 4) * nBytes + 1);
  for (;;) {
    size_t cb = ReadFull(pfIn, vbIn.data(), vbIn.size());
    if (cb == 0) break;
    converter.Convert(vbIn.data(), (int)cb, vbOut.data());
    size_t cbOut = cb / 4 * nBytes;
    if (fwrite(vbOut.data(), 1, cbOut, pfOut) != cbOut) {
      fprintf(stderr, "dsd2pcm: write failed: %s\n", strerror(errno));
      return 1;
    }
    if (cb < vbIn.size()) break;
  }
  if (ferror(pfIn)) {
    fprintf(stderr, "dsd2pcm: read failed: %s\n", strerror(errno));
    return 1;
  }
  if (fflush(pfOut) != 0) {
    fprintf(stderr, "dsd2pcm: write failed: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}

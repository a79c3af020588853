// DSD to PCM conversion for one output channel (or a few interleaved ones).
//
// One-bit audio at 2822400 Hz, eight samples per byte with the earliest in the most
// significant bit, is decimated by 32 to 88200 Hz PCM of 2, 3 or 4 bytes per sample:
// a 160-tap linear-phase FIR evaluated through byte lookup tables, a 27-tap half-band FIR,
// a gain of 2 (so a stream at 50 % modulation reaches PCM full scale), and for 2-byte
// output a two-section error-feedback noise shaper. Filter history is kept from one call to
// the next, so consecutive buffers join without seams.
//
// The output is a function of plain double arithmetic carried out in a fixed order, and it
// is reproduced bit for bit: the 16-bit noise shaper feeds every rounding error back, so a
// difference in the last bit of one value would show up in later samples.
#pragma once

#include "platform/win32.h"

// Where a converter gets its memory from. pfnAlloc returns a zero-filled block or NULL when
// memory runs out. The driver points this at its module heap; the default uses calloc/free.
struct DSD_ALLOCATOR {
  void* (*pfnAlloc)(SIZE_T cb);
  void (*pfnFree)(void* pv);
};

const DSD_ALLOCATOR* DsdDefaultAllocator();

struct DSD_FIR_STATE;
struct DSD_SHAPER_STATE;

class CDsdConverter {
 public:
  enum { MAX_CHANNELS = 10 };

  // Constructs an empty converter; nothing is allocated until Initialize.
  explicit CDsdConverter(const DSD_ALLOCATOR* pAllocator = nullptr);
  ~CDsdConverter();

  CDsdConverter(const CDsdConverter&) = delete;
  CDsdConverter& operator=(const CDsdConverter&) = delete;

  // Prepares for calls of nInputBytes DSD bytes per channel, producing nOutputBytes (2, 3
  // or 4) bytes per PCM sample, one channel, bytes as delivered (earliest sample in bit 7).
  // Channels that already have filter state keep it: only Release starts the stream afresh.
  // Returns S_OK, E_INVALIDARG for a width other than 2/3/4 or a negative length, or E_FAIL
  // when memory runs out, in which case the converter is left released.
  HRESULT Initialize(int nInputBytes, int nOutputBytes);

  // The same with nChannels (1 to MAX_CHANNELS) interleaved channels, byte by byte, and
  // with bBitReverse set for input whose earliest sample is in bit 0.
  HRESULT Initialize(int nInputBytes, int nOutputBytes, int nChannels, BOOL bBitReverse);

  // Converts nLength bytes per channel (nLength * channels bytes of input) into
  // nLength / 4 samples per channel, interleaved, written from pOutput on. Each call starts
  // its four-byte decimation phase at its first byte, so calls whose lengths are multiples
  // of 4 give the same samples as one call on the joined input. Returns E_FAIL, writing
  // nothing and leaving the state unchanged, when a pointer is NULL or the converter is not
  // initialised, and E_INVALIDARG for a negative length. Allocates nothing.
  HRESULT Convert(const BYTE* pInput, int nLength, BYTE* pOutput);

  // Frees all state; the next Initialize starts from a fresh history.
  void Release();

  int InputBytes() const { return m_nInputBytes; }
  int OutputBytes() const { return m_nOutputBytes; }
  int Channels() const { return m_nChannels; }

 private:
  void* Alloc(SIZE_T cb);
  void Free(void* pv);

  int m_nInputBytes;
  int m_nChannels;
  int m_nBitReverse;
  int m_nOutputBytes;
  DSD_FIR_STATE* m_rgpFir[MAX_CHANNELS];
  DSD_SHAPER_STATE* m_rgpShaper[MAX_CHANNELS];
  const DSD_ALLOCATOR* m_pAllocator;
};

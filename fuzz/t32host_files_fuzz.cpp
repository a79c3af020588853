// The host's WAV and DSF readers on arbitrary bytes: whatever the sizes claim, parsing and
// reading every sample must stay inside the image.
#include <cstddef>
#include <cstdint>

#include "tools/t32host/dsf_file.h"
#include "tools/t32host/wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  t32host::CWavFile wav;
  if (SUCCEEDED(wav.Parse(pData, cbData))) {
    volatile LONG lSum = 0;
    const ULONGLONG ullFrames = wav.FrameCount() < 4096 ? wav.FrameCount() : 4096;
    for (ULONGLONG f = 0; f <= ullFrames; ++f)
      for (UINT c = 0; c <= wav.Format().wChannels; ++c) lSum = lSum + wav.Sample(f, c);
    std::vector<BYTE> vbImage;
    t32host::BuildWavImage(wav.Format(), nullptr, 0, &vbImage);
  }
  t32host::CDsfFile dsf;
  if (SUCCEEDED(dsf.Parse(pData, cbData))) {
    volatile BYTE bSum = 0;
    for (UINT c = 0; c <= dsf.Info().dwChannels; ++c)
      for (BYTE b : dsf.Channel(c)) bSum = BYTE(bSum + b);
  }
  return 0;
}

#include "asio_driver/dsd_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "support/dsd_reference_coefficients.h"
#include "tools/dsdgen/dsd_generator.h"
#include "tools/dsdgen/signal_analysis.h"

namespace {

typedef std::vector<BYTE> Bytes;

// ---- A plain evaluation of the filters, written from their definitions ----

using dsdref::kC;
using dsdref::kD;
using dsdref::kShaper;

// h[k]: the first-stage weight of the one-bit sample k places old.
double Tap(int k) { return k < 80 ? kC[79 - k] : kC[k - 80]; }

LONG RoundLimit(double v, double dMin, double dMax) {
  v = v >= 0 ? v + 0.5 : v - 0.5;
  if (v <= dMin) return (LONG)dMin;
  if (v >= dMax) return (LONG)dMax;
  return (LONG)v;
}

class CReference {
 public:
  explicit CReference(int nBytes) : m_nBytes(nBytes), m_vdFed(27, 0.0) {
    // A fresh converter's window holds the idle byte 0x69 everywhere. Bytes ten or more
    // places old are kept mirrored and read back through the mirror, so the older ones that
    // were never written stand for 0x96. Oldest first: nine 0x96, then ten 0x69.
    for (int i = 0; i < 19; i++) AppendByte(i < 9 ? 0x96 : 0x69);
  }

  // One call: j counts this call's bytes from 0.
  Bytes Convert(const Bytes& vbIn) {
    Bytes vbOut;
    for (size_t j = 0; j < vbIn.size(); j++) {
      AppendByte(vbIn[j]);
      if (j % 2 == 1) {
        m_vdFed.push_back(FirstStage());
      }
      if (j % 4 == 3) {
        double y = 0.0;
        for (int i = 0; i < 27; i++) y += kD[i] * m_vdFed[m_vdFed.size() - 1 - i];
        Emit(2.0 * y, &vbOut);
      }
    }
    return vbOut;
  }

 private:
  void AppendByte(BYTE b) {
    for (int bit = 7; bit >= 0; bit--) m_viSamples.push_back((b >> bit) & 1 ? 1 : -1);
  }

  int Sample(int k) const { return m_viSamples[m_viSamples.size() - 1 - k]; }

  // The 160-tap FIR over the newest 160 samples. Its terms are added in eight-sample
  // groups, each group from its oldest sample on, and each group paired with its mirror
  // group (whose samples meet the same eight coefficients), pairs from the outermost taps
  // inwards. That order is part of the result: the 16-bit output feeds every rounding
  // error back, so the last bit of every value matters.
  double FirstStage() const {
    double x = 0.0;
    for (int t = 0; t < 10; t++) {
      double dNew = 0.0, dOld = 0.0;
      for (int k = 8 * t + 7; k >= 8 * t; k--) dNew += Sample(k) * Tap(k);
      for (int k = 152 - 8 * t; k <= 159 - 8 * t; k++) dOld += Sample(k) * Tap(k);
      x += dNew + dOld;
    }
    return x;
  }

  void Emit(double x, Bytes* pvb) {
    LONG l;
    if (m_nBytes == 4) {
      l = RoundLimit(x * 2147483648.0, -2147483648.0, 2147483647.0);
    } else if (m_nBytes == 3) {
      l = RoundLimit(x * 8388608.0, -8388608.0, 8388607.0);
    } else {
      double acc = 0.0;
      for (int s = 0; s < 2; s++) {
        const double* c = kShaper[s];
        double p = m_rgdLatest[s], q = m_rgdPrevious[s];
        double w = acc - (c[2] * p + c[3] * q);
        m_rgdPrevious[s] = w;
        acc = w + c[0] * p + c[1] * q;
      }
      double v = x * 32768.0 + acc;
      l = RoundLimit(v, -32768.0, 32767.0);
      double e = l - v;
      e = e < -1.0 ? -1.0 : e > 1.0 ? 1.0 : e;
      for (int s = 0; s < 2; s++) {
        m_rgdPrevious[s] += e;
        std::swap(m_rgdPrevious[s], m_rgdLatest[s]);
      }
    }
    for (int i = 0; i < m_nBytes; i++) pvb->push_back((BYTE)((DWORD)l >> (8 * i)));
  }

  int m_nBytes;
  std::vector<int> m_viSamples;
  std::vector<double> m_vdFed;
  double m_rgdLatest[2] = {0, 0};
  double m_rgdPrevious[2] = {0, 0};
};

// ---- Helpers ----

Bytes RandomBytes(size_t n, unsigned uStart) {
  std::mt19937 rng(uStart);
  Bytes vb(n);
  for (BYTE& b : vb) b = (BYTE)rng();
  return vb;
}

// Random data with stretches that drive the output into clipping and back.
Bytes MixedInput(size_t n, unsigned uStart) {
  Bytes vb = RandomBytes(n, uStart);
  std::mt19937 rng(uStart + 1);
  for (size_t i = 0; i + 400 < n; i += 1000 + rng() % 1000) {
    memset(&vb[i], rng() % 2 ? 0xFF : 0x00, 100 + rng() % 300);
  }
  return vb;
}

// Runs the input through the converter in calls of the given lengths (the last one
// repeated until the input is used up).
Bytes ConvertInCalls(CDsdConverter& c, const Bytes& vbIn, const std::vector<int>& vnLengths, int nBytes) {
  Bytes vbOut;
  size_t i = 0;
  for (size_t call = 0; i < vbIn.size(); call++) {
    int n = vnLengths[call < vnLengths.size() ? call : vnLengths.size() - 1];
    if ((size_t)n > vbIn.size() - i) n = (int)(vbIn.size() - i);
    Bytes vb(n / 4 * nBytes + 1);
    EXPECT_EQ(S_OK, c.Convert(vbIn.data() + i, n, vb.data()));
    vbOut.insert(vbOut.end(), vb.begin(), vb.end() - 1);
    i += n;
  }
  return vbOut;
}

Bytes Convert(const Bytes& vbIn, int nBytes, const std::vector<int>& vnLengths = {3528}) {
  CDsdConverter c;
  EXPECT_EQ(S_OK, c.Initialize(3528, nBytes));
  return ConvertInCalls(c, vbIn, vnLengths, nBytes);
}

// Sample i of little-endian PCM as a fraction of full scale.
double SampleAt(const Bytes& vb, size_t i, int nBytes) {
  DWORD u = 0;
  for (int b = 0; b < nBytes; b++) u |= (DWORD)vb[i * nBytes + b] << (8 * b + 32 - 8 * nBytes);
  return (double)(LONG)u / 2147483648.0;
}

class DsdWidth : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Widths, DsdWidth, ::testing::Values(2, 3, 4),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(8 * info.param) + "bit"; });

// ---- Exactness ----

// The converter gives the bytes of the plain evaluation, also for calls whose lengths are
// not multiples of 4 (each call starts its own four-byte grouping) and shorter than the
// filter's reach into the previous call.
TEST_P(DsdWidth, MatchesPlainEvaluationOfBothFilters) {
  const int nBytes = GetParam();
  const Bytes vbIn = MixedInput(3528 * 6, 7);
  const std::vector<std::vector<int>> vvnCalls = {
      {3528},
      {1, 2, 3, 5, 6, 7, 13, 18, 19, 20, 21, 25, 3529, 250},
      {4, 8, 12, 16, 17, 3, 24, 28, 1000},
  };
  for (const auto& vnCalls : vvnCalls) {
    CReference ref(nBytes);
    Bytes vbExpected;
    size_t i = 0;
    for (size_t call = 0; i < vbIn.size(); call++) {
      size_t n = vnCalls[call < vnCalls.size() ? call : vnCalls.size() - 1];
      if (n > vbIn.size() - i) n = vbIn.size() - i;
      Bytes vb = ref.Convert(Bytes(vbIn.begin() + i, vbIn.begin() + i + n));
      vbExpected.insert(vbExpected.end(), vb.begin(), vb.end());
      i += n;
    }
    Bytes vbActual = Convert(vbIn, nBytes, vnCalls);
    ASSERT_EQ(vbExpected.size(), vbActual.size());
    size_t iFirst = 0;
    while (iFirst < vbExpected.size() && vbExpected[iFirst] == vbActual[iFirst]) iFirst++;
    EXPECT_EQ(vbExpected.size(), iFirst) << "first difference at sample " << iFirst / nBytes << ", first call length "
                                         << vnCalls[0];
  }
}

TEST_P(DsdWidth, SplitCallsEqualOneJoinedCall) {
  const int nBytes = GetParam();
  const Bytes vbIn = MixedInput(3528 * 4, 11);
  const Bytes vbJoined = Convert(vbIn, nBytes, {(int)vbIn.size()});
  for (const std::vector<int>& vnCalls :
       std::vector<std::vector<int>>{{4}, {8, 12}, {16, 20, 24}, {3528}, {3524, 3532}, {4, 3528, 40, 7056}}) {
    EXPECT_EQ(vbJoined, Convert(vbIn, nBytes, vnCalls)) << "calls of " << vnCalls[0] << " bytes first";
  }
}

// Interleaved channels convert as separate streams, and mirrored input with bit reversal
// on converts as the original.
TEST_P(DsdWidth, ChannelsAndBitReversal) {
  const int nBytes = GetParam();
  const int nLength = 1000;
  Bytes rgvb[3] = {MixedInput(nLength, 1), RandomBytes(nLength, 2), Bytes(nLength, 0x69)};
  Bytes vbInterleaved(3 * nLength);
  for (int i = 0; i < nLength; i++)
    for (int c = 0; c < 3; c++) vbInterleaved[3 * i + c] = rgvb[c][i];

  CDsdConverter multi;
  ASSERT_EQ(S_OK, multi.Initialize(nLength, nBytes, 3, FALSE));
  Bytes vbOut(3 * (nLength / 4) * nBytes);
  ASSERT_EQ(S_OK, multi.Convert(vbInterleaved.data(), nLength, vbOut.data()));
  for (int c = 0; c < 3; c++) {
    Bytes vbAlone = Convert(rgvb[c], nBytes, {nLength});
    Bytes vbChannel;
    for (int i = 0; i < nLength / 4; i++)
      vbChannel.insert(vbChannel.end(), vbOut.begin() + (3 * i + c) * nBytes, vbOut.begin() + (3 * i + c + 1) * nBytes);
    EXPECT_EQ(vbAlone, vbChannel) << "channel " << c;
  }

  // Mirrored input from the start, and a switch of bit order between calls.
  Bytes vbMirrored = rgvb[0];
  for (BYTE& b : vbMirrored) {
    BYTE r = 0;
    for (int i = 0; i < 8; i++) r = (BYTE)(r | (((b >> i) & 1) << (7 - i)));
    b = r;
  }
  CDsdConverter reversed;
  ASSERT_EQ(S_OK, reversed.Initialize(nLength, nBytes, 1, TRUE));
  Bytes vbReversed = ConvertInCalls(reversed, vbMirrored, {nLength}, nBytes);
  EXPECT_EQ(Convert(rgvb[0], nBytes, {nLength}), vbReversed);

  CDsdConverter switching;
  ASSERT_EQ(S_OK, switching.Initialize(nLength, nBytes));
  Bytes vbSwitched = ConvertInCalls(switching, Bytes(rgvb[0].begin(), rgvb[0].begin() + 500), {500}, nBytes);
  ASSERT_EQ(S_OK, switching.Initialize(nLength, nBytes, 1, TRUE));
  Bytes vbRest = ConvertInCalls(switching, Bytes(vbMirrored.begin() + 500, vbMirrored.end()), {500}, nBytes);
  vbSwitched.insert(vbSwitched.end(), vbRest.begin(), vbRest.end());
  EXPECT_EQ(Convert(rgvb[0], nBytes, {500}), vbSwitched);
}

// ---- Edge cases ----

TEST_P(DsdWidth, IdlePatternGivesValuesNearZero) {
  const int nBytes = GetParam();
  Bytes vbOut = Convert(Bytes(3528 * 4, 0x69), nBytes);
  for (size_t i = 0; i < vbOut.size() / nBytes; i++) {
    // A fresh stream starts with a small transient (the older half of the fresh window
    // reads as 0x96); after it, 24 and 32 bits give 0 and 16 bits stay within a few steps
    // of the noise shaper.
    double dLimit = i < 16 ? 1e-3 : nBytes == 2 ? 8.0 / 32768.0 : 0.0;
    ASSERT_LE(std::fabs(SampleAt(vbOut, i, nBytes)), dLimit) << "sample " << i;
  }
}

TEST_P(DsdWidth, AllOnesAndAllZerosClipToTheLimits) {
  const int nBytes = GetParam();
  const LONG lMax = (LONG)((1u << (8 * nBytes - 1)) - 1);
  for (BYTE b : {BYTE(0xFF), BYTE(0x00)}) {
    Bytes vbOut = Convert(Bytes(3528, b), nBytes);
    // The filters settle within 10 samples; 2.0 before scaling clips to the extreme sample.
    for (size_t i = 10; i < vbOut.size() / nBytes; i++) {
      LONG l = (LONG)std::lround(SampleAt(vbOut, i, nBytes) * (lMax + 1.0));
      ASSERT_EQ(b ? lMax : -lMax - 1, l) << "byte " << (int)b << " sample " << i;
    }
  }
}

TEST_P(DsdWidth, WritesOneSamplePerFourBytesAndNothingMore) {
  const int nBytes = GetParam();
  const Bytes vbIn = RandomBytes(3531, 3);
  for (int n : {3528, 3531, 3, 0}) {
    CDsdConverter c;
    ASSERT_EQ(S_OK, c.Initialize(3528, nBytes));
    Bytes vbOut(4 * 3528, 0xA5);
    ASSERT_EQ(S_OK, c.Convert(vbIn.data(), n, vbOut.data()));
    const size_t cb = (size_t)(n / 4 * nBytes);
    EXPECT_EQ(Convert(Bytes(vbIn.begin(), vbIn.begin() + n), nBytes, {n}), Bytes(vbOut.begin(), vbOut.begin() + cb));
    EXPECT_EQ(Bytes(vbOut.size() - cb, 0xA5), Bytes(vbOut.begin() + cb, vbOut.end())) << n << " bytes";
  }
  // 3528 bytes (a 28224-frame buffer) give 882 samples.
  EXPECT_EQ(882u * nBytes, Convert(RandomBytes(3528, 4), nBytes).size());
}

// ---- Results and state ----

TEST(DsdConverter, NullPointersFailAndChangeNothing) {
  const Bytes vbIn = RandomBytes(3528, 5);
  CDsdConverter c;
  Bytes vbOut(882 * 3, 0xA5);
  EXPECT_EQ(E_FAIL, c.Convert(vbIn.data(), 3528, vbOut.data()));  // not initialised
  ASSERT_EQ(S_OK, c.Initialize(3528, 3));
  EXPECT_EQ(E_FAIL, c.Convert(nullptr, 3528, vbOut.data()));
  EXPECT_EQ(E_FAIL, c.Convert(vbIn.data(), 3528, nullptr));
  EXPECT_EQ(E_INVALIDARG, c.Convert(vbIn.data(), -4, vbOut.data()));
  EXPECT_EQ(Bytes(882 * 3, 0xA5), vbOut);
  // The failed calls left the stream where it was.
  ASSERT_EQ(S_OK, c.Convert(vbIn.data(), 3528, vbOut.data()));
  EXPECT_EQ(Convert(vbIn, 3), vbOut);
}

TEST(DsdConverter, RejectsWidthsAndChannelCountsItCannotProduce) {
  CDsdConverter c;
  for (int nBytes : {0, 1, 5, 8}) EXPECT_EQ(E_INVALIDARG, c.Initialize(3528, nBytes)) << nBytes;
  for (int nChannels : {0, 11}) EXPECT_EQ(E_INVALIDARG, c.Initialize(3528, 3, nChannels, FALSE)) << nChannels;
  EXPECT_EQ(E_INVALIDARG, c.Initialize(-1, 3));
  EXPECT_EQ(0, c.Channels());
}

// Counts live blocks and fails the n-th allocation on request.
struct CountingHeap {
  static int s_nLive, s_nCalls, s_nFailAt;
  static void* Alloc(SIZE_T cb) {
    if (s_nCalls++ == s_nFailAt) return nullptr;
    s_nLive++;
    return calloc(1, cb);
  }
  static void Free(void* pv) {
    s_nLive--;
    free(pv);
  }
};
int CountingHeap::s_nLive, CountingHeap::s_nCalls, CountingHeap::s_nFailAt;
const DSD_ALLOCATOR kCountingHeap = {CountingHeap::Alloc, CountingHeap::Free};

TEST(DsdConverter, RunningOutOfMemoryReleasesEverything) {
  const Bytes vbIn = RandomBytes(3528, 6);
  for (int nFailAt = 0;; nFailAt++) {
    CountingHeap::s_nLive = CountingHeap::s_nCalls = 0;
    CountingHeap::s_nFailAt = nFailAt;
    CDsdConverter c(&kCountingHeap);
    HRESULT hr = c.Initialize(3528, 2, 3, FALSE);
    if (hr == S_OK) {
      EXPECT_EQ(6, nFailAt);  // a filter and a shaper state per channel
      break;
    }
    EXPECT_EQ(E_FAIL, hr) << "allocation " << nFailAt << " failing";
    EXPECT_EQ(0, CountingHeap::s_nLive) << "allocation " << nFailAt << " failing";
    Bytes vbOut(3 * 882 * 2, 0xA5);
    EXPECT_EQ(E_FAIL, c.Convert(vbIn.data(), 3528, vbOut.data()));
    // Memory is back: the converter works and starts from a fresh stream.
    CountingHeap::s_nFailAt = -1;
    ASSERT_EQ(S_OK, c.Initialize(3528, 2));
    ASSERT_EQ(S_OK, c.Convert(vbIn.data(), 3528, vbOut.data()));
    vbOut.resize(882 * 2);
    EXPECT_EQ(Convert(vbIn, 2), vbOut);
  }
}

TEST(DsdConverter, HistoryLastsUntilRelease) {
  const Bytes vbIn = MixedInput(3528 * 2, 8);
  const Bytes vbFirst(vbIn.begin(), vbIn.begin() + 3528), vbSecond(vbIn.begin() + 3528, vbIn.end());
  CountingHeap::s_nLive = CountingHeap::s_nCalls = 0;
  CountingHeap::s_nFailAt = -1;
  {
    CDsdConverter c(&kCountingHeap);
    Bytes vbOut(882 * 2);
    ASSERT_EQ(S_OK, c.Initialize(3528, 2));
    ASSERT_EQ(S_OK, c.Convert(vbFirst.data(), 3528, vbOut.data()));
    // Initialising again keeps the stream going...
    ASSERT_EQ(S_OK, c.Initialize(3528, 2));
    ASSERT_EQ(S_OK, c.Convert(vbSecond.data(), 3528, vbOut.data()));
    const Bytes vbJoined = Convert(vbIn, 2);
    EXPECT_EQ(Bytes(vbJoined.begin() + 882 * 2, vbJoined.end()), vbOut);
    // ...releasing starts it afresh.
    c.Release();
    EXPECT_EQ(0, CountingHeap::s_nLive);
    ASSERT_EQ(S_OK, c.Initialize(3528, 2));
    ASSERT_EQ(S_OK, c.Convert(vbSecond.data(), 3528, vbOut.data()));
    EXPECT_EQ(Convert(vbSecond, 2), vbOut);
    EXPECT_EQ(2, CountingHeap::s_nLive);
  }
  EXPECT_EQ(0, CountingHeap::s_nLive);  // the destructor releases
}

// ---- Signals ----

// PCM samples of a DSD stream, after the filters' start-up.
std::vector<double> ToPcm(const Bytes& vbDsd, int nBytes, size_t nSkip, size_t nSamples) {
  Bytes vbPcm = Convert(vbDsd, nBytes);
  std::vector<double> vd(nSamples);
  for (size_t i = 0; i < nSamples; i++) vd[i] = SampleAt(vbPcm, nSkip + i, nBytes);
  return vd;
}

TEST(DsdConverter, SineThroughGeneratorAndConverterKeepsFrequencyAndLevel) {
  const size_t nSamples = 65536, nSkip = 64;
  const double dFrequency = CoherentFrequency(1000.0, 88200.0, nSamples);
  struct {
    double dLevel;
    int nBytes;
    double dMaxThdn;
  } rgCase[] = {{-6.0, 3, -105.0}, {-6.0, 2, -90.0}, {-3.0, 4, -105.0}};
  for (const auto& c : rgCase) {
    int nResets = -1;
    Bytes vbDsd = DsdSine(dFrequency, c.dLevel, (nSamples + nSkip) * 4, &nResets);
    EXPECT_EQ(0, nResets);
    std::vector<double> vd = ToPcm(vbDsd, c.nBytes, nSkip, nSamples);
    SINE_ANALYSIS a = AnalyzeSine(vd.data(), nSamples, 88200.0, dFrequency);
    SCOPED_TRACE(testing::Message() << c.dLevel << " dBFS, " << 8 * c.nBytes << " bits");
    EXPECT_NEAR(1000.0, a.dFrequency, 1.5);
    EXPECT_NEAR(c.dLevel, a.dLevelDb, 0.01);
    EXPECT_LT(a.dThdnDb, c.dMaxThdn);
  }
}

// The modulator holds -3 dBFS across the audio band and at DC without losing control.
TEST(DsdModulator, StableUpToMinus3Dbfs) {
  const size_t nSamples = 16384, nSkip = 64;
  for (double dWanted : {20.0, 10000.0, 20000.0}) {
    const double dFrequency = CoherentFrequency(dWanted, 88200.0, nSamples);
    int nResets = -1;
    Bytes vbDsd = DsdSine(dFrequency, -3.0, (nSamples + nSkip) * 4, &nResets);
    EXPECT_EQ(0, nResets) << dWanted << " Hz";
    std::vector<double> vd = ToPcm(vbDsd, 4, nSkip, nSamples);
    EXPECT_NEAR(-3.0, AnalyzeSine(vd.data(), nSamples, 88200.0, dFrequency).dLevelDb, 0.01) << dWanted << " Hz";
  }
  for (double dLevel : {0.708, -0.708}) {
    CDsdModulator m;
    std::vector<double> vdIn(8 * 8000, dLevel);
    Bytes vbDsd(8000);
    m.Modulate(vdIn.data(), 8000, vbDsd.data());
    EXPECT_EQ(0, m.Resets());
    std::vector<double> vd = ToPcm(vbDsd, 4, 64, 1000);
    double dMean = 0.0;
    for (double d : vd) dMean += d / vd.size();
    EXPECT_NEAR(dLevel, dMean, 1e-4);
  }
}

}  // namespace

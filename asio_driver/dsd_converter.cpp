#include "asio_driver/dsd_converter.h"

#include <cstdlib>
#include <cstring>

// SSE2 where the target has it (every x86-64 processor; 32-bit x86 builds are asked for it),
// plain C++ otherwise. Both give the same results.
#ifndef DSD_SSE2
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define DSD_SSE2 1
#else
#define DSD_SSE2 0
#endif
#endif
#if DSD_SSE2
#include <emmintrin.h>
#endif

// How the arithmetic is organised
//
// Per input byte j of a call (j counts from 0 in every call):
//   - the first stage is the 160-tap FIR over the newest 160 one-bit samples, each taken as
//     +1 or -1. It is evaluated as ten pairs of table values: table t holds, for every byte
//     value, the signed sum of eight coefficients; pair t is the byte t places old and the
//     byte 19 - t places old, whose bits meet the same eight coefficients in mirrored order
//     since the filter is symmetric. x = sum over t = 0 ... 9 of (pair sum t);
//   - at odd j, x goes into the half-band history (27 values);
//   - at j = 3 mod 4, twice the half-band output is the PCM value.
// Only the first-stage values at odd j and the half-band outputs at j = 3 mod 4 ever reach
// the output, so only those are computed. Every value that is computed is computed with the
// same operations in the same order as a byte-by-byte evaluation, so the doubles are equal.
//
// The older half of the window is read through a second set of tables holding the value of
// the mirrored byte, so bytes are never reversed in place. The factor 2 and the PCM scale
// are powers of two, so folding them into the half-band coefficients changes no bit.

#if defined(__GNUC__)
#define DSD_INLINE inline __attribute__((always_inline))
#else
#define DSD_INLINE __forceinline
#endif

namespace {

const int kHistoryBytes = 19;  // bytes before the newest one that the first stage reads
const int kHalfBandTaps = 27;

// First-stage coefficients from the centre tap (0) outwards; the 160 taps are these
// mirrored, 79 ... 0 0 ... 79.
const double kFirCoef[80] = {
    0.056525498629,  0.055840492249,  0.054487913847,  0.052502058446,  0.049932871014,
    0.046844284981,  0.043312050402,  0.039421223104,  0.035263359547,  0.030933596194,
    0.026527650654,  0.022138915956,  0.017855729908,  0.013758916408,  0.009919703007,
    0.006398048252,  0.003241457045,  0.000484261662,  -0.001852560788, -0.003761123866,
    -0.005245935172, -0.006322760135, -0.007017232478, -0.007363189012, -0.007400821894,
    -0.007174808532, -0.00673237443,  -0.006121505052, -0.005389235914, -0.004580173641,
    -0.00373525545,  -0.002890769392, -0.002077642828, -0.001321040094, -0.000640206039,
    -0.000048555434, 0.000445999205,  0.000840559602,  0.001136630774,  0.001339368522,
    0.001456838101,  0.001499205828,  0.001478008926,  0.001405414194,  0.001293625683,
    0.001154340804,  0.000998329371,  0.000835113227,  0.000672776252,  0.000517837703,
    0.000375259668,  0.000248491764,  0.000139601529,  0.000049442053,  -0.000022158027,
    -0.000076182187, -0.000114213675, -0.000138238072, -0.000150464475, -0.000153161585,
    -0.000148542225, -0.00013865158,  -0.000125303864, -0.00011004135,  -0.000094123185,
    -0.000078510493, -0.00006390363,  -0.00005075708,  -0.000039320439, -0.000029679388,
    -0.000021796674, -0.000015538186, -0.000010721385, -0.000007130206, -0.000004544854,
    -0.00000275299,  -0.000001564622, -0.000000819564, -0.00000037998,  -0.000000156462,
};

// Half-band coefficients of taps 0, 2, 4, ..., 12 and of the centre tap 13; tap 26 - i has
// the coefficient of tap i, and the other odd taps are 0. A half-band output is summed over
// the taps that are not 0 in the order 0, 2, ..., 12, 13, 14, ..., 26 (tap 0 the newest).
const double kHalfBandCoef[8] = {
    0.000162583776, -0.001165683847, 0.004729037639, -0.014184004162,
    0.035739544313, -0.08651175024,  0.311232027598, 0.5,
};

// Noise shaper, two sections of (c0, c1, c2, c3).
const int kShaperSections = 2;
const double kShaperCoef[kShaperSections][4] = {
    {-1.62666423, 0.79410094, 0.61367127, 0.23311013},
    {-1.44870017, 0.54196219, 0.03373857, 0.70316556},
};

BYTE ReverseBits(BYTE b) {
  BYTE r = 0;
  for (int i = 0; i < 8; i++) {
    r = (BYTE)((r << 1) | ((b >> i) & 1));
  }
  return r;
}

// The byte lookup tables, shared by every converter and built on first use.
struct DSD_TABLES {
  // rgdNew[t][v]: bit 7 of v against coefficient 72 - 8t, ..., bit 0 against 79 - 8t,
  // each bit counting +1 when set and -1 when clear, summed from bit 7 to bit 0.
  double rgdNew[10][256];
  // rgdOld[t][v] = rgdNew[t][mirror image of v], for bytes in the older half of the window.
  double rgdOld[10][256];

  DSD_TABLES() {
    for (int t = 0; t < 10; t++) {
      for (int v = 0; v < 256; v++) {
        double dSum = 0.0;
        for (int bit = 7; bit >= 0; bit--) {
          double dCoef = kFirCoef[72 - 8 * t + (7 - bit)];
          dSum += ((v >> bit) & 1) ? dCoef : -dCoef;
        }
        rgdNew[t][v] = dSum;
      }
      for (int v = 0; v < 256; v++) {
        rgdOld[t][v] = rgdNew[t][ReverseBits((BYTE)v)];
      }
    }
  }
};

const DSD_TABLES& Tables() {
  static const DSD_TABLES s_tables;
  return s_tables;
}

// A fresh stream behaves as if it had been preceded by the idle pattern 0x69; the older
// half of that history counts as mirrored already, so it reads as 0x96 bytes. Oldest first.
const BYTE kFreshHistory[kHistoryBytes] = {
    0x96, 0x96, 0x96, 0x96, 0x96, 0x96, 0x96, 0x96, 0x96, 0x69,
    0x69, 0x69, 0x69, 0x69, 0x69, 0x69, 0x69, 0x69, 0x69,
};

typedef const double (*TABLE_SET)[256];

// Pair sum t with p at the newest byte: the byte t places old through table t, the byte
// 19 - t places old through the mirrored table t.
#define DSD_PAIR(t) (pNew[t][p[-(t)]] + pOld[t][p[(t) - 19]])

// First-stage value with p at the newest byte; p[-19] ... p[0] must be readable.
DSD_INLINE double FirstStage(TABLE_SET pNew, TABLE_SET pOld, const BYTE* p) {
  double x = DSD_PAIR(0);
  x += DSD_PAIR(1);
  x += DSD_PAIR(2);
  x += DSD_PAIR(3);
  x += DSD_PAIR(4);
  x += DSD_PAIR(5);
  x += DSD_PAIR(6);
  x += DSD_PAIR(7);
  x += DSD_PAIR(8);
  x += DSD_PAIR(9);
  return x;
}

// Two doubles operated on side by side. Each lane sees exactly the operations it would see
// alone, so the results are those of one value at a time.
#if DSD_SSE2
typedef __m128d D2;
DSD_INLINE D2 Load2(const double* p) { return _mm_loadu_pd(p); }
DSD_INLINE D2 Splat2(double d) { return _mm_set1_pd(d); }
DSD_INLINE D2 Add2(D2 a, D2 b) { return _mm_add_pd(a, b); }
DSD_INLINE D2 Mul2(D2 a, D2 b) { return _mm_mul_pd(a, b); }
DSD_INLINE double Low(D2 a) { return _mm_cvtsd_f64(a); }
DSD_INLINE double High(D2 a) { return _mm_cvtsd_f64(_mm_unpackhi_pd(a, a)); }
#else
struct D2 {
  double lo, hi;
};
DSD_INLINE D2 Load2(const double* p) { return D2{p[0], p[1]}; }
DSD_INLINE D2 Splat2(double d) { return D2{d, d}; }
DSD_INLINE D2 Add2(D2 a, D2 b) { return D2{a.lo + b.lo, a.hi + b.hi}; }
DSD_INLINE D2 Mul2(D2 a, D2 b) { return D2{a.lo * b.lo, a.hi * b.hi}; }
DSD_INLINE double Low(D2 a) { return a.lo; }
DSD_INLINE double High(D2 a) { return a.hi; }
#endif

// The first-stage values at p and p + 2 (*pdLow, *pdHigh). The 22 bytes they read,
// B[i] = p[i - 19] for i = 0 ... 21, are fetched as three 8-byte words rather than one load
// per table lookup, and the two values are computed side by side as independent chains.
DSD_INLINE void FirstStageTwo(TABLE_SET pNew, TABLE_SET pOld, const BYTE* p, double* pdLow, double* pdHigh) {
  ULONGLONG q0, q1, q2;  // little-endian: byte i of a word is bits 8i ... 8i + 7
  memcpy(&q0, p - 19, 8);  // B[0 ... 7]
  memcpy(&q1, p - 11, 8);  // B[8 ... 15]
  memcpy(&q2, p - 5, 8);   // B[14 ... 21]
#define DSD_B(i)                                     \
  ((i) < 8 ? (UINT)(q0 >> (8 * (i))) & 0xFF          \
   : (i) < 16 ? (UINT)(q1 >> (8 * ((i) - 8))) & 0xFF \
              : (UINT)(q2 >> (8 * ((i) - 14))) & 0xFF)
#define DSD_LOW(t) (pNew[t][DSD_B(19 - (t))] + pOld[t][DSD_B(t)])
#define DSD_HIGH(t) (pNew[t][DSD_B(21 - (t))] + pOld[t][DSD_B((t) + 2)])
  double x = DSD_LOW(0), y = DSD_HIGH(0);
#define DSD_STEP(t) \
  x += DSD_LOW(t);  \
  y += DSD_HIGH(t);
  DSD_STEP(1)
  DSD_STEP(2)
  DSD_STEP(3)
  DSD_STEP(4)
  DSD_STEP(5)
  DSD_STEP(6)
  DSD_STEP(7)
  DSD_STEP(8)
  DSD_STEP(9)
#undef DSD_STEP
#undef DSD_HIGH
#undef DSD_LOW
#undef DSD_B
  *pdLow = x;
  *pdHigh = y;
}

DSD_INLINE void StoreLittleEndian(BYTE* p, LONG v, int cb) {
  DWORD u = (DWORD)v;
  for (int i = 0; i < cb; i++) {
    p[i] = (BYTE)(u >> (8 * i));
  }
}

// Rounding to a sample: v + 0.5 when v >= 0, v - 0.5 otherwise, truncated toward zero and
// limited to [dMin, dMax] (whole numbers). Limiting before truncating gives the same result
// and keeps the conversion in range. There are no branches: the sign of a sample is as
// unpredictable as the sample. For v = -0.0 the sign-copying form adds -0.5 where v >= 0
// would add +0.5; both truncate to 0.
#if DSD_SSE2
DSD_INLINE __m128d RoundLimited(__m128d v, __m128d dMin, __m128d dMax) {
  const __m128d kSign = _mm_set1_pd(-0.0);
  const __m128d kHalf = _mm_set1_pd(0.5);
  __m128d r = _mm_add_pd(v, _mm_or_pd(_mm_and_pd(v, kSign), kHalf));
  return _mm_min_pd(_mm_max_pd(r, dMin), dMax);
}

// Both lanes of v as samples of kBytes bytes, low lane first.
template <int kBytes>
DSD_INLINE void EmitTwo(D2 v, BYTE* pOut, int cbStep) {
  const double dMax = kBytes == 4 ? 2147483647.0 : 8388607.0;
  __m128i i = _mm_cvttpd_epi32(RoundLimited(v, _mm_set1_pd(-dMax - 1.0), _mm_set1_pd(dMax)));
  StoreLittleEndian(pOut, _mm_cvtsi128_si32(i), kBytes);
  StoreLittleEndian(pOut + cbStep, _mm_cvtsi128_si32(_mm_srli_si128(i, 4)), kBytes);
}

// The noise shaper's state: each section's latest (a) and previous (b) value, in the low
// lanes. Kept in vector registers across samples, which keeps the sample-to-sample
// dependency short.
struct SHAPER {
  __m128d a0, a1, b0, b1;
};
#define DSD_C(s, i) _mm_set_sd(kShaperCoef[s][i])

// One noise-shaped 16-bit sample from v (the PCM value times 32768).
DSD_INLINE LONG Shape(SHAPER& st, double dValue) {
  // Each section: w = input - (c2 * latest + c3 * previous) becomes its new value, and
  // w + c0 * latest + c1 * previous is passed on. Section 0's input is 0.
  __m128d w0 = _mm_sub_sd(_mm_setzero_pd(), _mm_add_sd(_mm_mul_sd(DSD_C(0, 2), st.a0), _mm_mul_sd(DSD_C(0, 3), st.b0)));
  __m128d acc = _mm_add_sd(_mm_add_sd(w0, _mm_mul_sd(DSD_C(0, 0), st.a0)), _mm_mul_sd(DSD_C(0, 1), st.b0));
  __m128d w1 = _mm_sub_sd(acc, _mm_add_sd(_mm_mul_sd(DSD_C(1, 2), st.a1), _mm_mul_sd(DSD_C(1, 3), st.b1)));
  acc = _mm_add_sd(_mm_add_sd(w1, _mm_mul_sd(DSD_C(1, 0), st.a1)), _mm_mul_sd(DSD_C(1, 1), st.b1));
  __m128d v = _mm_add_sd(_mm_set_sd(dValue), acc);
  __m128i i = _mm_cvttpd_epi32(RoundLimited(v, _mm_set1_pd(-32768.0), _mm_set1_pd(32767.0)));
  // The rounding error goes into both sections, limited so that a clipped sample does not
  // drive the filters.
  __m128d e = _mm_sub_sd(_mm_cvtepi32_pd(i), v);
  e = _mm_min_sd(_mm_max_sd(e, _mm_set1_pd(-1.0)), _mm_set1_pd(1.0));
  st.b0 = st.a0;
  st.b1 = st.a1;
  st.a0 = _mm_add_sd(w0, e);
  st.a1 = _mm_add_sd(w1, e);
  return _mm_cvtsi128_si32(i);
}
#undef DSD_C

DSD_INLINE void LoadShaper(SHAPER& st, const double* pdLatest, const double* pdPrevious) {
  st.a0 = _mm_set_sd(pdLatest[0]);
  st.a1 = _mm_set_sd(pdLatest[1]);
  st.b0 = _mm_set_sd(pdPrevious[0]);
  st.b1 = _mm_set_sd(pdPrevious[1]);
}

DSD_INLINE void SaveShaper(const SHAPER& st, double* pdLatest, double* pdPrevious) {
  pdLatest[0] = _mm_cvtsd_f64(st.a0);
  pdLatest[1] = _mm_cvtsd_f64(st.a1);
  pdPrevious[0] = _mm_cvtsd_f64(st.b0);
  pdPrevious[1] = _mm_cvtsd_f64(st.b1);
}
#else
DSD_INLINE double RoundLimited(double v, double dMin, double dMax) {
  double r = v >= 0.0 ? v + 0.5 : v - 0.5;
  r = r < dMin ? dMin : r;
  return r > dMax ? dMax : r;
}

template <int kBytes>
DSD_INLINE void EmitTwo(D2 v, BYTE* pOut, int cbStep) {
  const double dMax = kBytes == 4 ? 2147483647.0 : 8388607.0;
  StoreLittleEndian(pOut, (LONG)RoundLimited(v.lo, -dMax - 1.0, dMax), kBytes);
  StoreLittleEndian(pOut + cbStep, (LONG)RoundLimited(v.hi, -dMax - 1.0, dMax), kBytes);
}

struct SHAPER {
  double a0, a1, b0, b1;
};

DSD_INLINE LONG Shape(SHAPER& st, double v) {
  const double(*c)[4] = kShaperCoef;
  double w0 = 0.0 - (c[0][2] * st.a0 + c[0][3] * st.b0);
  double acc = w0 + c[0][0] * st.a0 + c[0][1] * st.b0;
  double w1 = acc - (c[1][2] * st.a1 + c[1][3] * st.b1);
  acc = w1 + c[1][0] * st.a1 + c[1][1] * st.b1;
  v += acc;
  LONG lSample = (LONG)RoundLimited(v, -32768.0, 32767.0);
  double e = (double)lSample - v;
  e = e < -1.0 ? -1.0 : e > 1.0 ? 1.0 : e;
  st.b0 = st.a0;
  st.b1 = st.a1;
  st.a0 = w0 + e;
  st.a1 = w1 + e;
  return lSample;
}

DSD_INLINE void LoadShaper(SHAPER& st, const double* pdLatest, const double* pdPrevious) {
  st.a0 = pdLatest[0];
  st.a1 = pdLatest[1];
  st.b0 = pdPrevious[0];
  st.b1 = pdPrevious[1];
}

DSD_INLINE void SaveShaper(const SHAPER& st, double* pdLatest, double* pdPrevious) {
  pdLatest[0] = st.a0;
  pdLatest[1] = st.a1;
  pdPrevious[0] = st.b0;
  pdPrevious[1] = st.b1;
}
#endif

// Half-band outputs for the two samples whose newest inputs are e[0] and e[1] (the
// even-numbered inputs, oldest at e[-13]) and whose centre inputs are o[0] and o[1]; taps in
// the order 0, 2, ..., 12, 13, 14, ..., 26. c0 ... c7 are the coefficients of taps 0, 2,
// ..., 12 and 13 (the filter is symmetric).
#define DSD_HALF_BAND_TAPS(X)                                                          \
  X(c1, -1) X(c2, -2) X(c3, -3) X(c4, -4) X(c5, -5) X(c6, -6) DSD_CENTRE X(c6, -7) X(c5, -8) \
      X(c4, -9) X(c3, -10) X(c2, -11) X(c1, -12) X(c0, -13)

DSD_INLINE D2 HalfBandTwo(const double* e, const double* o, D2 c0, D2 c1, D2 c2, D2 c3, D2 c4, D2 c5, D2 c6, D2 c7) {
  D2 v = Mul2(c0, Load2(e));
#define DSD_CENTRE v = Add2(v, Mul2(c7, Load2(o)));
#define DSD_TAP(c, k) v = Add2(v, Mul2(c, Load2(e + (k))));
  DSD_HALF_BAND_TAPS(DSD_TAP)
#undef DSD_TAP
#undef DSD_CENTRE
  return v;
}

// The same for samples g ... g + 3 as two pairs side by side.
DSD_INLINE void HalfBandFour(const double* e, const double* o, D2 c0, D2 c1, D2 c2, D2 c3, D2 c4, D2 c5, D2 c6,
                             D2 c7, D2* pv0, D2* pv1) {
  D2 v0 = Mul2(c0, Load2(e));
  D2 v1 = Mul2(c0, Load2(e + 2));
#define DSD_CENTRE                        \
  v0 = Add2(v0, Mul2(c7, Load2(o)));      \
  v1 = Add2(v1, Mul2(c7, Load2(o + 2)));
#define DSD_TAP(c, k)                          \
  v0 = Add2(v0, Mul2(c, Load2(e + (k))));      \
  v1 = Add2(v1, Mul2(c, Load2(e + 2 + (k))));
  DSD_HALF_BAND_TAPS(DSD_TAP)
#undef DSD_TAP
#undef DSD_CENTRE
  *pv0 = v0;
  *pv1 = v1;
}

}  // namespace

// Per channel: the bytes the first stage still needs and the half-band history.
struct DSD_FIR_STATE {
  BYTE m_rgbHistory[kHistoryBytes];  // the last 19 input bytes, oldest first, as delivered
  BOOL m_bReversedInput;             // whether those bytes carry their earliest sample in bit 0
  double m_rgdFed[kHalfBandTaps];    // the last 27 half-band inputs, oldest first
};

// Per channel: each noise-shaper section's latest and previous value.
struct DSD_SHAPER_STATE {
  double m_rgdLatest[kShaperSections];
  double m_rgdPrevious[kShaperSections];
};

namespace {

// Converts n bytes of one channel, contiguous at pIn, writing a sample every cbStep bytes
// from pOut on.
//
// Group g of a call is bytes 4g ... 4g + 3: the first-stage values at 4g + 1 and 4g + 3
// enter the half-band history, and the half-band output after the second is sample g.
// Within a call the half-band inputs are numbered F[0], F[1], ... with the 27 carried over
// at F[0 ... 26], group g's two at F[27 + 2g] and F[28 + 2g], and sample g reading
// F[28 + 2g - i] for tap i. F is kept split by parity, rgdEven[q] = F[2q] and
// rgdOdd[q] = F[2q + 1], so that what samples g and g + 1 read for the same tap lies side
// by side and the two are computed together. First-stage values are computed a few groups
// ahead of their use: reading a value straight back after storing it stalls the processor,
// and the work overlaps the noise shaper's sample-to-sample dependency.
// Indices into the split arrays are relative to the current block of groups.
template <int kBytes>
void ConvertChannel(DSD_FIR_STATE* pFir, DSD_SHAPER_STATE* pShaper, const BYTE* pIn, int n,
                    BYTE* pOut, int cbStep) {
  const DSD_TABLES& tables = Tables();
  const TABLE_SET pNew = pFir->m_bReversedInput ? tables.rgdOld : tables.rgdNew;
  const TABLE_SET pOld = pFir->m_bReversedInput ? tables.rgdNew : tables.rgdOld;

  // Gain 2 and the PCM scale folded into the coefficients.
  const double dScale = 2.0 * (kBytes == 4 ? 2147483648.0 : kBytes == 3 ? 8388608.0 : 32768.0);
  double d[8];
  for (int i = 0; i < 8; i++) {
    d[i] = kHalfBandCoef[i] * dScale;
  }
  const D2 c0 = Splat2(d[0]), c1 = Splat2(d[1]), c2 = Splat2(d[2]), c3 = Splat2(d[3]);
  const D2 c4 = Splat2(d[4]), c5 = Splat2(d[5]), c6 = Splat2(d[6]), c7 = Splat2(d[7]);

  SHAPER shaper;
  LoadShaper(shaper, pShaper->m_rgdLatest, pShaper->m_rgdPrevious);

  // The first groups read bytes from before this call: they run over a copy with the
  // history in front. From group 6 on everything they read is in pIn.
  const int kHeadGroups = 6;
  BYTE rgbHead[kHistoryBytes + 4 * kHeadGroups];
  const int nHead = n < 4 * kHeadGroups ? n : 4 * kHeadGroups;
  memcpy(rgbHead, pFir->m_rgbHistory, kHistoryBytes);
  memcpy(rgbHead + kHistoryBytes, pIn, nHead);
  const BYTE* const pHead = rgbHead + kHistoryBytes;
#define DSD_GROUP(gCall) (((gCall) < kHeadGroups ? pHead : pIn) + 4 * (gCall))

  // 16-bit output interleaves the first stage, kAhead groups ahead, with the noise
  // shaper's dependency chain; the other widths run the first stage over a whole block
  // first, which leaves registers for the half-band stage.
  const int kBlock = 64;                      // groups per block
  const int kAhead = kBytes == 2 ? 8 : 0;     // groups the first stage runs ahead
  const int kKeep = 14 + kAhead;
  double rgdEven[kKeep + kBlock];
  double rgdOdd[kKeep + kBlock];
  for (int q = 0; q < 14; q++) rgdEven[q] = pFir->m_rgdFed[2 * q];
  for (int q = 0; q < 13; q++) rgdOdd[q] = pFir->m_rgdFed[2 * q + 1];
  // First stage for group gCall of the call, stored for group g of the block.
#define DSD_FIRST_STAGE(gCall, g) \
  FirstStageTwo(pNew, pOld, DSD_GROUP(gCall) + 1, &rgdOdd[13 + (g)], &rgdEven[14 + (g)])

  const int nGroups = n / 4;
  for (int g = 0; g < kAhead && g < nGroups; g++) {
    DSD_FIRST_STAGE(g, g);
  }
  for (int gBlock = 0; gBlock < nGroups; gBlock += kBlock) {
    const int nBlock = nGroups - gBlock < kBlock ? nGroups - gBlock : kBlock;
    if (kAhead == 0) {
      for (int g = 0; g < nBlock; g++) {
        DSD_FIRST_STAGE(gBlock + g, g);
      }
    }
    int g = 0;
    if (kAhead == 0) {
      // Four samples at a time: two independent chains of additions keep the processor's
      // floating-point queue from filling with operations that wait for each other.
      for (; g + 3 < nBlock; g += 4) {
        D2 v0, v1;
        HalfBandFour(rgdEven + 14 + g, rgdOdd + 7 + g, c0, c1, c2, c3, c4, c5, c6, c7, &v0, &v1);
        EmitTwo<kBytes>(v0, pOut, cbStep);
        EmitTwo<kBytes>(v1, pOut + 2 * cbStep, cbStep);
        pOut += 4 * cbStep;
      }
    }
    for (; g + 1 < nBlock; g += 2) {
      const int gAhead = gBlock + g + kAhead;
      if (kAhead > 0 && gAhead < nGroups) {
        DSD_FIRST_STAGE(gAhead, g + kAhead);
        if (gAhead + 1 < nGroups) DSD_FIRST_STAGE(gAhead + 1, g + kAhead + 1);
      }
      D2 v = HalfBandTwo(rgdEven + 14 + g, rgdOdd + 7 + g, c0, c1, c2, c3, c4, c5, c6, c7);
      if (kBytes == 2) {
        StoreLittleEndian(pOut, Shape(shaper, Low(v)), 2);
        StoreLittleEndian(pOut + cbStep, Shape(shaper, High(v)), 2);
      } else {
        EmitTwo<kBytes>(v, pOut, cbStep);
      }
      pOut += 2 * cbStep;
    }
    if (g < nBlock) {
      // The call's last sample when it has an odd number of them.
      const double* e = rgdEven + 14 + g;
      double v = d[0] * e[0];
      for (int k = 1; k <= 6; k++) v += d[k] * e[-k];
      v += d[7] * rgdOdd[7 + g];
      for (int k = 7; k <= 13; k++) v += d[13 - k] * e[-k];
      if (kBytes == 2) {
        StoreLittleEndian(pOut, Shape(shaper, v), 2);
      } else {
        EmitTwo<kBytes>(Splat2(v), pOut, 0);  // both lanes are the same sample
      }
      pOut += cbStep;
    }
    memmove(rgdEven, rgdEven + nBlock, kKeep * sizeof(double));
    memmove(rgdOdd, rgdOdd + nBlock, kKeep * sizeof(double));
  }

  for (int q = 0; q < 14; q++) pFir->m_rgdFed[2 * q] = rgdEven[q];
  for (int q = 0; q < 13; q++) pFir->m_rgdFed[2 * q + 1] = rgdOdd[q];
  if (n % 4 >= 2) {
    // A call that ends two or three bytes into a group feeds one more value.
    memmove(pFir->m_rgdFed, pFir->m_rgdFed + 1, (kHalfBandTaps - 1) * sizeof(double));
    pFir->m_rgdFed[kHalfBandTaps - 1] = FirstStage(pNew, pOld, DSD_GROUP(nGroups) + 1);
  }

  if (n >= kHistoryBytes) {
    memcpy(pFir->m_rgbHistory, pIn + n - kHistoryBytes, kHistoryBytes);
  } else {
    memcpy(pFir->m_rgbHistory, rgbHead + n, kHistoryBytes);
  }
  SaveShaper(shaper, pShaper->m_rgdLatest, pShaper->m_rgdPrevious);
#undef DSD_FIRST_STAGE
#undef DSD_GROUP
}

void* DefaultAlloc(SIZE_T cb) { return calloc(1, cb); }
void DefaultFree(void* pv) { free(pv); }
const DSD_ALLOCATOR kDefaultAllocator = {DefaultAlloc, DefaultFree};

}  // namespace

const DSD_ALLOCATOR* DsdDefaultAllocator() { return &kDefaultAllocator; }

CDsdConverter::CDsdConverter(const DSD_ALLOCATOR* pAllocator)
    : m_nInputBytes(0),
      m_nChannels(0),
      m_nBitReverse(0),
      m_nOutputBytes(0),
      m_rgpFir(),
      m_rgpShaper(),
      m_pAllocator(pAllocator ? pAllocator : &kDefaultAllocator) {}

CDsdConverter::~CDsdConverter() { Release(); }

void* CDsdConverter::Alloc(SIZE_T cb) { return m_pAllocator->pfnAlloc(cb); }

void CDsdConverter::Free(void* pv) {
  if (pv) m_pAllocator->pfnFree(pv);
}

HRESULT CDsdConverter::Initialize(int nInputBytes, int nOutputBytes) {
  return Initialize(nInputBytes, nOutputBytes, 1, FALSE);
}

HRESULT CDsdConverter::Initialize(int nInputBytes, int nOutputBytes, int nChannels, BOOL bBitReverse) {
  if (nInputBytes < 0 || nOutputBytes < 2 || nOutputBytes > 4 || nChannels < 1 || nChannels > MAX_CHANNELS) {
    return E_INVALIDARG;
  }
  Tables();  // build the shared tables now rather than in the first conversion

  m_nInputBytes = nInputBytes;
  m_nChannels = nChannels;
  m_nBitReverse = bBitReverse ? 1 : 0;
  m_nOutputBytes = nOutputBytes;

  for (int c = 0; c < nChannels; c++) {
    if (!m_rgpFir[c]) {
      DSD_FIR_STATE* pFir = (DSD_FIR_STATE*)Alloc(sizeof(DSD_FIR_STATE));
      if (!pFir) {
        Release();
        return E_FAIL;
      }
      memset(pFir, 0, sizeof(*pFir));
      memcpy(pFir->m_rgbHistory, kFreshHistory, kHistoryBytes);
      m_rgpFir[c] = pFir;
    }
    // Keep the history meaning the same samples when the bit order of the input changes.
    DSD_FIR_STATE* pFir = m_rgpFir[c];
    if (pFir->m_bReversedInput != (BOOL)m_nBitReverse) {
      for (int i = 0; i < kHistoryBytes; i++) {
        pFir->m_rgbHistory[i] = ReverseBits(pFir->m_rgbHistory[i]);
      }
      pFir->m_bReversedInput = (BOOL)m_nBitReverse;
    }
    if (!m_rgpShaper[c]) {
      DSD_SHAPER_STATE* pShaper = (DSD_SHAPER_STATE*)Alloc(sizeof(DSD_SHAPER_STATE));
      if (!pShaper) {
        Release();
        return E_FAIL;
      }
      memset(pShaper, 0, sizeof(*pShaper));
      m_rgpShaper[c] = pShaper;
    }
  }
  return S_OK;
}

HRESULT CDsdConverter::Convert(const BYTE* pInput, int nLength, BYTE* pOutput) {
  if (!pInput || !pOutput || m_nChannels == 0) {
    return E_FAIL;
  }
  if (nLength < 0) {
    return E_INVALIDARG;
  }
  const int nChannels = m_nChannels;
  const int cbStep = nChannels * m_nOutputBytes;
  for (int c = 0; c < nChannels; c++) {
    BYTE* pOut = pOutput + c * m_nOutputBytes;
    auto convert = [&](const BYTE* pIn, int n, BYTE* pDst) {
      switch (m_nOutputBytes) {
        case 4: ConvertChannel<4>(m_rgpFir[c], m_rgpShaper[c], pIn, n, pDst, cbStep); break;
        case 3: ConvertChannel<3>(m_rgpFir[c], m_rgpShaper[c], pIn, n, pDst, cbStep); break;
        default: ConvertChannel<2>(m_rgpFir[c], m_rgpShaper[c], pIn, n, pDst, cbStep); break;
      }
    };
    if (nChannels == 1) {
      convert(pInput, nLength, pOut);
      continue;
    }
    // Interleaved input: gather the channel's bytes in pieces. Pieces are a multiple of 4
    // bytes long, so they keep the same decimation phase as one run would.
    BYTE rgbChannel[1024];
    for (int nDone = 0; nDone < nLength;) {
      int n = nLength - nDone < (int)sizeof(rgbChannel) ? nLength - nDone : (int)sizeof(rgbChannel);
      const BYTE* pSrc = pInput + (SIZE_T)nDone * nChannels + c;
      for (int i = 0; i < n; i++) {
        rgbChannel[i] = pSrc[(SIZE_T)i * nChannels];
      }
      convert(rgbChannel, n, pOut + (SIZE_T)(nDone / 4) * cbStep);
      nDone += n;
    }
  }
  return S_OK;
}

void CDsdConverter::Release() {
  for (int c = 0; c < MAX_CHANNELS; c++) {
    Free(m_rgpFir[c]);
    m_rgpFir[c] = nullptr;
    Free(m_rgpShaper[c]);
    m_rgpShaper[c] = nullptr;
  }
  m_nInputBytes = 0;
  m_nChannels = 0;
  m_nBitReverse = 0;
  m_nOutputBytes = 0;
}

// Speed of the DSD converter against the literal byte-by-byte evaluation of the same
// arithmetic: bytes of one channel's DSD per second and the multiple of real time
// (352800 bytes per second is one channel of DSD64), for 16-, 24- and 32-bit output, in
// calls of 3528 bytes (one 28224-frame buffer) over random data.
//
// Before timing, both evaluations convert the same 32 MB of data (random stretches, idle
// stretches and stretches that clip) and must agree on every byte.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "asio_driver/dsd_converter.h"
#include "dsd_literal.h"

namespace {

const int kCall = 3528;
const double kRealTime = 352800.0;

const std::vector<BYTE>& RandomInput() {
  static const std::vector<BYTE> s_vb = [] {
    std::vector<BYTE> vb(kCall * 256);
    std::mt19937 rng(2024);
    for (BYTE& b : vb) b = (BYTE)rng();
    return vb;
  }();
  return s_vb;
}

template <class Converter>
void Run(benchmark::State& state, Converter& converter) {
  const std::vector<BYTE>& vbIn = RandomInput();
  std::vector<BYTE> vbOut(kCall);
  size_t i = 0;
  for (auto _ : state) {
    converter.Convert(vbIn.data() + i, kCall, vbOut.data());
    benchmark::DoNotOptimize(vbOut.data());
    i = i + 2 * kCall > vbIn.size() ? 0 : i + kCall;
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kCall);
  state.counters["x_realtime"] = benchmark::Counter((double)state.iterations() * kCall / kRealTime,
                                                    benchmark::Counter::kIsRate);
}

void BM_Fast(benchmark::State& state) {
  CDsdConverter converter;
  converter.Initialize(kCall, (int)state.range(0));
  Run(state, converter);
}

void BM_Literal(benchmark::State& state) {
  CDsdLiteralConverter converter(kCall, (int)state.range(0));
  Run(state, converter);
}

BENCHMARK(BM_Fast)->ArgName("bytes")->DenseRange(2, 4)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_Literal)->ArgName("bytes")->DenseRange(2, 4)->Repetitions(7)->ReportAggregatesOnly(true);

// Both evaluations over the same 32 MB; returns the number of samples compared, or -1.
long long CompareOutputs(int nBytes) {
  std::mt19937 rng(nBytes);
  std::vector<BYTE> vbIn(kCall), vbFast(kCall), vbLiteral(kCall);
  CDsdConverter fast;
  fast.Initialize(kCall, nBytes);
  CDsdLiteralConverter literal(kCall, nBytes);
  long long nSamples = 0;
  for (int call = 0; call < (32 << 20) / kCall; call++) {
    for (BYTE& b : vbIn) b = (BYTE)rng();
    switch (call % 16) {
      case 5: memset(vbIn.data(), 0xFF, 1200); break;
      case 9: memset(vbIn.data() + 300, 0x00, 2000); break;
      case 13: memset(vbIn.data(), 0x69, kCall); break;
    }
    fast.Convert(vbIn.data(), kCall, vbFast.data());
    literal.Convert(vbIn.data(), kCall, vbLiteral.data());
    if (memcmp(vbFast.data(), vbLiteral.data(), kCall / 4 * nBytes) != 0) return -1;
    nSamples += kCall / 4;
  }
  return nSamples;
}

}  // namespace

int main(int argc, char** argv) {
  for (int nBytes = 2; nBytes <= 4; nBytes++) {
    long long n = CompareOutputs(nBytes);
    if (n < 0) {
      printf("%d-bit output: the fast and the literal evaluation differ\n", 8 * nBytes);
      return 1;
    }
    printf("%d-bit output: fast and literal evaluation agree on %lld samples\n", 8 * nBytes, n);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

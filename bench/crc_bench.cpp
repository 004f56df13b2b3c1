// TCrcCheck: UpDateCrc (carry-less folding where the processor has it), the portable sixteen-byte
// table update and the byte-at-a-time table, on buffers that fit the first-level cache, the second,
// and neither. The UpDateCrc runs also report "ratio": their throughput divided by the sixteen-byte
// update's on the same size, measured just before them in the same run, both in CPU time of the
// running thread.
#include <benchmark/benchmark.h>

#include <time.h>

#include <map>
#include <random>
#include <vector>

#include "pack/Ovpack.h"

namespace ovelta {
namespace {

std::vector<Byte> Buffer(std::size_t Size) {
  std::vector<Byte> data(Size);
  std::mt19937 rng(1);
  for (auto& b : data) b = static_cast<Byte>(rng());
  return data;
}

// CPU time of this thread, so that other load on the machine does not bend the ratio.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Throughput of the sixteen-byte runs by buffer size, read by the UpDateCrc runs for the ratio.
std::map<std::int64_t, double>& TableRates() {
  static std::map<std::int64_t, double> rates;
  return rates;
}

using Update = Word (TCrcCheck::*)(Word, const void*, std::int32_t) const;

// Runs Fn over the buffer and returns its throughput in bytes per second of thread CPU time.
double Run(benchmark::State& State, Update Fn) {
  std::vector<Byte> data = Buffer(static_cast<std::size_t>(State.range(0)));
  TCrcCheck crc;
  Word word = 0;
  double start = ThreadSeconds();
  for (auto _ : State) {
    word = (crc.*Fn)(0xFFFF, data.data(), static_cast<std::int32_t>(data.size()));
    benchmark::DoNotOptimize(word);
  }
  double elapsed = ThreadSeconds() - start;
  if (word != crc.UpDateCrcBytewise(0xFFFF, data.data(), static_cast<std::int32_t>(data.size())))
    State.SkipWithError("the update differs from the byte table");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * State.range(0));
  return elapsed > 0 ? static_cast<double>(State.iterations()) *
                           static_cast<double>(State.range(0)) / elapsed
                     : 0;
}

void BM_CrcSixteenBytes(benchmark::State& State) {
  TableRates()[State.range(0)] = Run(State, &TCrcCheck::UpDateCrcTables);
}

void BM_CrcUpDateCrc(benchmark::State& State) {
  double rate = Run(State, &TCrcCheck::UpDateCrc);
  State.SetLabel(TCrcCheck::CarrylessAvailable() ? "carry-less" : "tables");
  double tables = TableRates()[State.range(0)];
  if (tables > 0) State.counters["ratio"] = rate / tables;
}

void BM_CrcByteTable(benchmark::State& State) { Run(State, &TCrcCheck::UpDateCrcBytewise); }

BENCHMARK(BM_CrcSixteenBytes)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20)->MinTime(0.2);
BENCHMARK(BM_CrcUpDateCrc)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20)->MinTime(0.2);
BENCHMARK(BM_CrcByteTable)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20)->MinTime(0.2);

}  // namespace
}  // namespace ovelta

BENCHMARK_MAIN();

// TCrcCheck: the sixteen-byte update beside the byte-at-a-time table update, on buffers that fit
// the first-level cache, the second, and neither.
#include <benchmark/benchmark.h>

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

void BM_CrcSixteenBytes(benchmark::State& State) {
  std::vector<Byte> data = Buffer(static_cast<std::size_t>(State.range(0)));
  TCrcCheck crc;
  Word word = 0;
  for (auto _ : State) {
    word = crc.UpDateCrc(0xFFFF, data.data(), static_cast<std::int32_t>(data.size()));
    benchmark::DoNotOptimize(word);
  }
  if (word != crc.UpDateCrcBytewise(0xFFFF, data.data(), static_cast<std::int32_t>(data.size())))
    State.SkipWithError("the two updates differ");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * State.range(0));
}

void BM_CrcByteTable(benchmark::State& State) {
  std::vector<Byte> data = Buffer(static_cast<std::size_t>(State.range(0)));
  TCrcCheck crc;
  for (auto _ : State) {
    Word word = crc.UpDateCrcBytewise(0xFFFF, data.data(), static_cast<std::int32_t>(data.size()));
    benchmark::DoNotOptimize(word);
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * State.range(0));
}

BENCHMARK(BM_CrcSixteenBytes)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20)->MinTime(0.2);
BENCHMARK(BM_CrcByteTable)->Arg(16 << 10)->Arg(1 << 20)->Arg(32 << 20)->MinTime(0.2);

}  // namespace
}  // namespace ovelta

BENCHMARK_MAIN();

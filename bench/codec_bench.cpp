// Corvel encode and decode speed and ratio beside zlib level 1 and LZ4, and beside the plain
// search over all 1535 distances, on text, machine code and random bytes (see codec_corpus.h).
// Ratio = compressed size / original size.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <cstring>

#include "bench/codec_corpus.h"
#include "pack/Corvel.h"
#include "tests/pack/CorvelReference.h"

namespace ovelta {
namespace {

using bench_corpus::Bytes;

// The plain search is about a thousand times slower: it gets a prefix of each corpus.
constexpr std::size_t kPlainBytes = 1u << 20;

const Bytes& Corpus(int Which) {
  switch (Which) {
    case 0:
      return bench_corpus::TextCorpus();
    case 1:
      return bench_corpus::BinaryCorpus();
    default:
      return bench_corpus::RandomCorpus();
  }
}

void Label(benchmark::State& State, int Which, std::size_t In, std::size_t Out) {
  static const char* const kNames[] = {"text", "binary", "random"};
  State.SetLabel(std::string(kNames[Which]) + " " + std::to_string(In >> 20) + " MiB");
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) *
                          static_cast<std::int64_t>(In));
  State.counters["ratio"] = static_cast<double>(Out) / static_cast<double>(In);
}

Bytes CorvelEncode(const Bytes& In) {
  Bytes out;
  out.reserve(In.size() + In.size() / 8 + 64);
  TCorvelEncode encoder;
  CorvelEncodeAll(encoder, In.data(), static_cast<std::int32_t>(In.size()),
                  [&](const Byte* Data, std::int32_t Count) {
                    out.insert(out.end(), Data, Data + Count);
                    return true;
                  });
  return out;
}

void CorvelDecode(const Bytes& Stream, Bytes& Out) {
  TCorvelDecode decoder;
  std::size_t written = 0;
  CorvelDecodeAll(decoder, Stream.data(), static_cast<std::int32_t>(Out.size()),
                  static_cast<std::int32_t>(Stream.size()),
                  [&](const Byte* Data, std::int32_t Count) {
                    std::memcpy(Out.data() + written, Data, static_cast<std::size_t>(Count));
                    written += static_cast<std::size_t>(Count);
                    return true;
                  });
}

void BM_CorvelEncode(benchmark::State& State) {
  const Bytes& in = Corpus(static_cast<int>(State.range(0)));
  Bytes out;
  for (auto _ : State) {
    out = CorvelEncode(in);
    benchmark::DoNotOptimize(out.data());
  }
  Label(State, static_cast<int>(State.range(0)), in.size(), out.size());
}

void BM_CorvelDecode(benchmark::State& State) {
  const Bytes& in = Corpus(static_cast<int>(State.range(0)));
  Bytes stream = CorvelEncode(in);
  Bytes out(in.size());
  for (auto _ : State) {
    CorvelDecode(stream, out);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != in) State.SkipWithError("Corvel round trip differs");
  Label(State, static_cast<int>(State.range(0)), in.size(), stream.size());
}

void BM_PlainSearchEncode(benchmark::State& State) {
  const Bytes& whole = Corpus(static_cast<int>(State.range(0)));
  Bytes in(whole.begin(),
           whole.begin() + static_cast<std::ptrdiff_t>(std::min(kPlainBytes, whole.size())));
  Bytes out;
  for (auto _ : State) {
    out = corvel_reference::Encode(in);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != CorvelEncode(in))
    State.SkipWithError("hash-chain stream differs from the plain search");
  Label(State, static_cast<int>(State.range(0)), in.size(), out.size());
}

void BM_Zlib1Encode(benchmark::State& State) {
  const Bytes& in = Corpus(static_cast<int>(State.range(0)));
  Bytes out(compressBound(in.size()));
  uLongf size = 0;
  for (auto _ : State) {
    size = out.size();
    compress2(out.data(), &size, in.data(), in.size(), 1);
    benchmark::DoNotOptimize(out.data());
  }
  Label(State, static_cast<int>(State.range(0)), in.size(), size);
}

void BM_Zlib1Decode(benchmark::State& State) {
  const Bytes& in = Corpus(static_cast<int>(State.range(0)));
  Bytes packed(compressBound(in.size()));
  uLongf packedSize = packed.size();
  compress2(packed.data(), &packedSize, in.data(), in.size(), 1);
  Bytes out(in.size());
  for (auto _ : State) {
    uLongf size = out.size();
    uncompress(out.data(), &size, packed.data(), packedSize);
    benchmark::DoNotOptimize(out.data());
  }
  Label(State, static_cast<int>(State.range(0)), in.size(), packedSize);
}

void BM_Lz4Encode(benchmark::State& State) {
  const Bytes& in = Corpus(static_cast<int>(State.range(0)));
  Bytes out(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
  int size = 0;
  for (auto _ : State) {
    size = LZ4_compress_default(reinterpret_cast<const char*>(in.data()),
                                reinterpret_cast<char*>(out.data()), static_cast<int>(in.size()),
                                static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  Label(State, static_cast<int>(State.range(0)), in.size(), static_cast<std::size_t>(size));
}

void BM_Lz4Decode(benchmark::State& State) {
  const Bytes& in = Corpus(static_cast<int>(State.range(0)));
  Bytes packed(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
  int packedSize = LZ4_compress_default(
      reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(packed.data()),
      static_cast<int>(in.size()), static_cast<int>(packed.size()));
  Bytes out(in.size());
  for (auto _ : State) {
    LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()),
                        reinterpret_cast<char*>(out.data()), packedSize,
                        static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  Label(State, static_cast<int>(State.range(0)), in.size(), static_cast<std::size_t>(packedSize));
}

// Corpus 0 text, 1 binary, 2 random. Few iterations: each one moves tens of megabytes.
#define CODEC_BENCH(fn) BENCHMARK(fn)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(0.3)
CODEC_BENCH(BM_CorvelEncode);
CODEC_BENCH(BM_CorvelDecode);
BENCHMARK(BM_PlainSearchEncode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);
CODEC_BENCH(BM_Zlib1Encode);
CODEC_BENCH(BM_Zlib1Decode);
CODEC_BENCH(BM_Lz4Encode);
CODEC_BENCH(BM_Lz4Decode);

}  // namespace
}  // namespace ovelta

BENCHMARK_MAIN();

// Drawing speed on a 640 x 480 surface: the plain pattern copy against memcpy of the same rows, the
// whole-surface fill against memset, keyed and XOR blits against plain per-pixel loops, and lines
// in pixels per second. Run briefly: bench_draw --benchmark_min_time=0.2
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "graphics/Ovdib.h"
#include "graphics/Raster_p.h"

namespace {

using ovelta::Byte;
namespace raster = ovelta::raster;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPixels = kWidth * kHeight;

struct Fixture {
  std::vector<Byte> surface = std::vector<Byte>(kPixels);
  std::vector<Byte> pattern = std::vector<Byte>(kPixels);
  Fixture() {
    std::mt19937 rng(5);
    for (Byte& b : pattern) b = static_cast<Byte>(rng() % 8);  // about one byte in eight is key 0
    for (Byte& b : surface) b = static_cast<Byte>(rng());
  }
  raster::Surface View() { return raster::Surface{surface.data(), kWidth, kWidth, kHeight}; }
};

void SetPixelRate(benchmark::State& State, double PixelsPerIteration) {
  State.counters["px/s"] =
      benchmark::Counter(PixelsPerIteration * State.iterations(), benchmark::Counter::kIsRate);
}

// ---- PutPat (Ov_SET, unkeyed) against memcpy of the same rows ----

void BM_PutPatSet(benchmark::State& State) {
  ovelta::TOvDib dib(nullptr, kWidth, kHeight);
  Fixture f;
  for (auto _ : State) {
    dib.PutPat(0, 0, kWidth, kHeight, f.pattern.data());
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_PutPatSet);

void BM_MemcpyRows(benchmark::State& State) {
  Fixture f;
  for (auto _ : State) {
    for (int y = 0; y < kHeight; ++y)
      std::memcpy(f.surface.data() + y * kWidth, f.pattern.data() + y * kWidth, kWidth);
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_MemcpyRows);

// ---- BoxFill of the whole surface against memset ----

void BM_BoxFillWhole(benchmark::State& State) {
  ovelta::TOvDib dib(nullptr, kWidth, kHeight);
  Byte colour = 0;
  for (auto _ : State) {
    dib.BoxFill(0, 0, kWidth - 1, kHeight - 1, ++colour);
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_BoxFillWhole);

void BM_Memset(benchmark::State& State) {
  Fixture f;
  Byte colour = 0;
  for (auto _ : State) {
    std::memset(f.surface.data(), ++colour, f.surface.size());
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_Memset);

// ---- Keyed PasPat and Ov_XOR blits against plain per-pixel loops ----

void BM_PasPatKeyed(benchmark::State& State) {
  ovelta::TOvDib dib(nullptr, kWidth, kHeight);
  Fixture f;
  for (auto _ : State) {
    dib.PasPat(0, 0, kWidth, kHeight, f.pattern.data(), 0);
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_PasPatKeyed);

void BM_PutPatXor(benchmark::State& State) {
  ovelta::TOvDib dib(nullptr, kWidth, kHeight);
  dib.SetMethod(ovelta::Ov_XOR);
  Fixture f;
  for (auto _ : State) {
    dib.PutPat(0, 0, kWidth, kHeight, f.pattern.data());
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_PutPatXor);

// The plain per-pixel loop: each pixel's key test and operator call through the operator table.
void PerPixelBlit(Byte* Surface, const Byte* Pattern, bool Keyed, Byte Key, int Method) {
  const raster::PixelOperator op = raster::OperatorOf(Method);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const Byte s = Pattern[y * kWidth + x];
      if (Keyed && s == Key) continue;
      Byte& d = Surface[y * kWidth + x];
      d = op(d, s);
    }
}

void BM_PerPixelKeyed(benchmark::State& State) {
  Fixture f;
  for (auto _ : State) {
    PerPixelBlit(f.surface.data(), f.pattern.data(), true, 0, raster::kOpSet);
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_PerPixelKeyed);

void BM_PerPixelXor(benchmark::State& State) {
  Fixture f;
  for (auto _ : State) {
    PerPixelBlit(f.surface.data(), f.pattern.data(), false, 0, raster::kOpXor);
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_PerPixelXor);

// The same loops with the operator written inline (no call), as a compiler sees a hand-written one.
void BM_InlineLoopKeyed(benchmark::State& State) {
  Fixture f;
  for (auto _ : State) {
    Byte* d = f.surface.data();
    const Byte* s = f.pattern.data();
    for (int i = 0; i < kPixels; ++i)
      if (s[i] != 0) d[i] = s[i];
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_InlineLoopKeyed);

void BM_InlineLoopXor(benchmark::State& State) {
  Fixture f;
  for (auto _ : State) {
    Byte* d = f.surface.data();
    const Byte* s = f.pattern.data();
    for (int i = 0; i < kPixels; ++i) d[i] ^= s[i];
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, kPixels);
}
BENCHMARK(BM_InlineLoopXor);

// ---- Lines ----

// A fan of lines from the centre to every 8th point of the border: all slopes, each 240 to 400
// pixels long.
void BM_Line(benchmark::State& State) {
  ovelta::TOvDib dib(nullptr, kWidth, kHeight);
  dib.SetMethod(static_cast<ovelta::TOvMethod>(State.range(0)));
  struct Segment {
    int x, y;
  };
  std::vector<Segment> ends;
  for (int x = 0; x < kWidth; x += 8) ends.push_back({x, 0}), ends.push_back({x, kHeight - 1});
  for (int y = 0; y < kHeight; y += 8) ends.push_back({0, y}), ends.push_back({kWidth - 1, y});
  double pixels = 0;
  for (const Segment& e : ends) {
    const int dx = std::abs(e.x - kWidth / 2), dy = std::abs(e.y - kHeight / 2);
    pixels += std::max(dx, dy) + 1;
  }
  Byte colour = 0;
  for (auto _ : State) {
    ++colour;
    for (const Segment& e : ends) dib.Line(kWidth / 2, kHeight / 2, e.x, e.y, colour);
    benchmark::ClobberMemory();
  }
  SetPixelRate(State, pixels);
}
BENCHMARK(BM_Line)->Arg(ovelta::Ov_SET)->Arg(ovelta::Ov_XOR);

}  // namespace

BENCHMARK_MAIN();

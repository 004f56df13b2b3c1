// MD5 throughput of the Ovmd5 unit beside OpenSSL's MD5 (libcrypto, EVP interface) on 16 KiB and
// 1 MiB inputs, in one run. Each benchmark reports bytes per second; the OpenSSL runs also report
// "ratio", the Ovmd5 throughput on the same size divided by OpenSSL's (measured just before them),
// both in CPU time of the running thread.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "digest/Ovmd5.h"

namespace {

using ovelta::Byte;
using ovelta::DWord;

std::vector<Byte> RandomBytes(std::size_t Size) {
  std::vector<Byte> data(Size);
  std::mt19937 random(1321);
  for (Byte& b : data) b = static_cast<Byte>(random());
  return data;
}

// Throughput of the Ovmd5 runs by input size, read by the OpenSSL runs for the ratio.
std::map<std::int64_t, double>& OvmdRates() {
  static std::map<std::int64_t, double> rates;
  return rates;
}

// CPU time of this thread, so that other load on the machine does not bend the ratio.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Rate(const benchmark::State& State, std::size_t Size, double Seconds) {
  return Seconds > 0 ? static_cast<double>(State.iterations()) * static_cast<double>(Size) / Seconds
                     : 0.0;
}

void BM_Ovmd5(benchmark::State& State) {
  const std::size_t size = static_cast<std::size_t>(State.range(0));
  const std::vector<Byte> data = RandomBytes(size);
  Byte digest[16];
  double start = ThreadSeconds();
  for (auto _ : State) {
    ovelta::Md5Context context;
    ovelta::Md5Init(&context);
    ovelta::Md5Update(&context, data.data(), static_cast<DWord>(size));
    ovelta::Md5Final(digest, &context);
    benchmark::DoNotOptimize(digest);
  }
  double elapsed = ThreadSeconds() - start;
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * size));
  OvmdRates()[State.range(0)] = Rate(State, size, elapsed);
}

void BM_OpenSslMd5(benchmark::State& State) {
  const std::size_t size = static_cast<std::size_t>(State.range(0));
  const std::vector<Byte> data = RandomBytes(size);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  Byte digest[16];
  unsigned int digestSize = 0;
  double start = ThreadSeconds();
  for (auto _ : State) {
    EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr);
    EVP_DigestUpdate(context.get(), data.data(), size);
    EVP_DigestFinal_ex(context.get(), digest, &digestSize);
    benchmark::DoNotOptimize(digest);
  }
  double elapsed = ThreadSeconds() - start;
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * size));
  double openssl = Rate(State, size, elapsed);
  auto ours = OvmdRates().find(State.range(0));
  if (ours != OvmdRates().end() && openssl > 0) State.counters["ratio"] = ours->second / openssl;
}

constexpr std::int64_t k16KiB = 16 * 1024;
constexpr std::int64_t k1MiB = 1024 * 1024;

// Registered in pairs, ours first, so that each OpenSSL run can report the ratio.
BENCHMARK(BM_Ovmd5)->Arg(k16KiB);
BENCHMARK(BM_OpenSslMd5)->Arg(k16KiB);
BENCHMARK(BM_Ovmd5)->Arg(k1MiB);
BENCHMARK(BM_OpenSslMd5)->Arg(k1MiB);

}  // namespace

BENCHMARK_MAIN();

// TRandom: the additive lagged-Fibonacci generator on 16-bit words, x(n) = x(n - 32) + x(n - 7)
// modulo 65536, with its uniform and approximately normal draws.
#include <algorithm>
#include <iterator>

#include "util/Ovelta.h"

namespace ovelta {
namespace {

// The Fibonacci numbers F(33) down to F(2), modulo 65536.
constexpr Word kInitialTable[] = {51170, 15621, 35549, 45608, 55477, 55667, 65346, 55857,
                                  9489,  46368, 28657, 17711, 10946, 6765,  4181,  2584,
                                  1597,  987,   610,   377,   233,   144,   89,    55,
                                  34,    21,    13,    8,     5,     3,     2,     1};

constexpr int kSecondLag = 7;
constexpr int kMaxNormalRange = 4096;
// One more than the largest sum of three draws, 3 x 65535 + 1.
constexpr int kNormalDivisor = 0x2FFFE;

}  // namespace

TRandom::TRandom() : FFirst(0), FSecond(kSecondLag) {
  static_assert(std::size(kInitialTable) == kTableWords);
  std::copy(std::begin(kInitialTable), std::end(kInitialTable), FTable);
}

Word TRandom::Rnd() {
  Word value = static_cast<Word>(FTable[FFirst] + FTable[FSecond]);
  FTable[FFirst] = value;
  FFirst = FFirst == 0 ? kTableWords - 1 : FFirst - 1;
  FSecond = FSecond == 0 ? kTableWords - 1 : FSecond - 1;
  return value;
}

int TRandom::Random(int N) {
  if (N < 1) return -1;
  // The smallest all-ones pattern covering N - 1; draws beyond it are rejected.
  unsigned mask = 0;
  for (int rest = N - 1; rest > 0; rest /= 2) mask = mask * 2 + 1;
  const Word drawMask = static_cast<Word>(mask);
  int value;
  do {
    value = Rnd() & drawMask;
  } while (value >= N);
  return value;
}

int TRandom::NormalDistribution(int N) {
  if (N < 1 || N > kMaxNormalRange) return 0;
  int sum = Rnd();
  sum += Rnd();
  sum += Rnd();
  // At most 196605 x 8193, well inside an int.
  return sum * (2 * N + 1) / kNormalDivisor - N;
}

}  // namespace ovelta

// TCounter's wrap and clamp rules and TRandom's sequence, with the known first values of a fresh
// generator.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "util/Ovelta.h"

namespace ovelta {
namespace {

TEST(TCounter, ConstructorsClampMaximumAndStep) {
  TCounter plain;
  EXPECT_EQ(plain.GetMaxVal(), 9999);
  EXPECT_EQ(plain.GetAddVal(), 1);
  EXPECT_EQ(plain.GetCount(), 0);
  EXPECT_TRUE(plain.IsZero());

  EXPECT_EQ(TCounter(0).GetMaxVal(), 1);
  EXPECT_EQ(TCounter(-7).GetMaxVal(), 1);
  EXPECT_EQ(TCounter(50).GetAddVal(), 1);

  TCounter bigStep(10, 25);
  EXPECT_EQ(bigStep.GetAddVal(), 10);
  EXPECT_EQ(TCounter(10, -3).GetAddVal(), 0);
  // The step is clamped against the already clamped maximum.
  EXPECT_EQ(TCounter(-1, 5).GetAddVal(), 1);
}

TEST(TCounter, DefaultCounterWrapsOnThe9999thIncrement) {
  TCounter counter;
  for (int i = 1; i < 9999; ++i) {
    ASSERT_FALSE(counter.IncVal()) << i;
    ASSERT_EQ(counter.GetCount(), i);
  }
  EXPECT_TRUE(counter.IncVal());
  EXPECT_EQ(counter.GetCount(), 0);
  EXPECT_TRUE(counter.IsZero());
}

TEST(TCounter, UpWrapsOnceDownClampsAtZero) {
  TCounter counter(5, 3);
  EXPECT_FALSE(counter.IncVal());
  EXPECT_EQ(counter.GetCount(), 3);
  EXPECT_TRUE(counter.IncVal());
  EXPECT_EQ(counter.GetCount(), 1);
  EXPECT_TRUE(counter.DecVal());
  EXPECT_EQ(counter.GetCount(), 0);
  EXPECT_TRUE(counter.DecVal());  // already at the bottom: still reported
  EXPECT_EQ(counter.GetCount(), 0);

  // One subtraction of the maximum, not a modulo.
  EXPECT_TRUE(counter.AddVal(12));
  EXPECT_EQ(counter.GetCount(), 7);
  EXPECT_FALSE(counter.SubVal(2));
  EXPECT_EQ(counter.GetCount(), 5);
  // A negative amount counts the other way without a clamp.
  EXPECT_FALSE(counter.AddVal(-9));
  EXPECT_EQ(counter.GetCount(), -4);
  EXPECT_FALSE(counter.SubVal(-10));
  EXPECT_EQ(counter.GetCount(), 6);  // and no wrap either: counting down never wraps
}

TEST(TCounter, SettersKeepTheInvariants) {
  TCounter counter(100, 40);
  counter.SetCount(80);
  counter.SetMaxVal(50);
  EXPECT_EQ(counter.GetMaxVal(), 50);
  EXPECT_EQ(counter.GetAddVal(), 40);
  EXPECT_EQ(counter.GetCount(), 49);

  for (int max : {0, -3}) {
    TCounter small(100, 40);
    small.SetCount(70);
    small.SetMaxVal(max);
    EXPECT_EQ(small.GetMaxVal(), 1);
    EXPECT_EQ(small.GetAddVal(), 1);
    EXPECT_EQ(small.GetCount(), 0);
  }

  counter.SetAddVal(-2);
  EXPECT_EQ(counter.GetAddVal(), 0);
  counter.SetAddVal(51);
  EXPECT_EQ(counter.GetAddVal(), 50);

  // SetCount accepts the maximum itself and any negative value.
  counter.SetCount(1000);
  EXPECT_EQ(counter.GetCount(), 50);
  EXPECT_TRUE(counter.AddVal(0));
  EXPECT_EQ(counter.GetCount(), 0);
  counter.SetCount(-17);
  EXPECT_EQ(counter.GetCount(), -17);
  EXPECT_FALSE(counter.IsZero());
}

TEST(TCounter, ExtremeAmountsWrapInTwosComplementWithoutTrapping) {
  TCounter counter(INT_MAX);
  counter.SetCount(INT_MAX - 1);
  EXPECT_TRUE(counter.AddVal(1));
  EXPECT_EQ(counter.GetCount(), 0);
  counter.SetCount(INT_MAX - 1);
  // INT_MAX - 1 + INT_MAX wraps to -3: below the maximum, so no wrap is reported.
  EXPECT_FALSE(counter.AddVal(INT_MAX));
  EXPECT_EQ(counter.GetCount(), -3);
  counter.SetCount(INT_MIN + 1);
  EXPECT_FALSE(counter.SubVal(2));  // wraps to INT_MAX
  EXPECT_EQ(counter.GetCount(), INT_MAX);
}

std::vector<int> Draw(int Count, auto Next) {
  std::vector<int> values;
  for (int i = 0; i < Count; ++i) values.push_back(Next());
  return values;
}

TEST(TRandom, FreshGeneratorsGiveTheKnownSequences) {
  TRandom raw;
  EXPECT_EQ(Draw(8, [&] { return raw.Rnd(); }),
            (std::vector<int>{41491, 65347, 55669, 55480, 45613, 35557, 15634, 41512}));
  TRandom uniform;
  EXPECT_EQ(Draw(8, [&] { return uniform.Random(10); }),
            (std::vector<int>{3, 3, 5, 8, 5, 2, 8, 5}));
  TRandom normal;
  EXPECT_EQ(Draw(8, [&] { return normal.NormalDistribution(100); }),
            (std::vector<int>{66, 39, 25, 60, -4, 18, 22, 30}));
}

// x(n) = x(n - 32) + x(n - 7) modulo 65536, well past the first turn of the table.
TEST(TRandom, SequenceFollowsTheLaggedFibonacciRecurrence) {
  TRandom generator;
  std::vector<int> x = {51170, 15621, 35549, 45608, 55477, 55667, 65346, 55857, 9489, 46368, 28657,
                        17711, 10946, 6765,  4181,  2584,  1597,  987,   610,   377,  233,   144,
                        89,    55,    34,    21,    13,    8,     5,     3,     2,    1};
  // The table is consumed from index 0 downwards (wrapping to 31), so in time order the lags refer
  // to that order: x(n - 32) is the word being replaced, x(n - 7) the one seven places above it.
  std::vector<int> history;
  for (int i = 0; i < 32; ++i) history.push_back(x[(32 - i) % 32]);
  for (int n = 0; n < 5000; ++n) {
    const std::size_t size = history.size();
    const int expected = (history[size - 32] + history[size - 7]) % 65536;
    ASSERT_EQ(generator.Rnd(), expected) << "value " << n;
    history.push_back(expected);
  }
}

TEST(TRandom, RandomRangesAndConsumption) {
  TRandom a, b;
  EXPECT_EQ(a.Random(0), -1);
  EXPECT_EQ(a.Random(-5), -1);
  EXPECT_EQ(a.Rnd(), b.Rnd());  // nothing was consumed

  EXPECT_EQ(a.Random(1), 0);
  b.Rnd();
  EXPECT_EQ(a.Rnd(), b.Rnd());  // exactly one value was consumed

  for (int n : {2, 3, 7, 100, 1000, 65535, 65536}) {
    for (int i = 0; i < 2000; ++i) {
      const int r = a.Random(n);
      ASSERT_GE(r, 0);
      ASSERT_LT(r, n);
    }
  }
  // Beyond 16 bits the draw stays within one 16-bit value.
  for (int i = 0; i < 2000; ++i) ASSERT_LE(a.Random(INT_MAX), 65535);
}

TEST(TRandom, NormalDistributionRangesAndConsumption) {
  TRandom a, b;
  EXPECT_EQ(a.NormalDistribution(0), 0);
  EXPECT_EQ(a.NormalDistribution(4097), 0);
  EXPECT_EQ(a.NormalDistribution(-1), 0);
  EXPECT_EQ(a.Rnd(), b.Rnd());

  a.NormalDistribution(5);
  b.Rnd();
  b.Rnd();
  b.Rnd();
  EXPECT_EQ(a.Rnd(), b.Rnd());  // three values per draw

  long long sum = 0;
  for (int i = 0; i < 3000; ++i) {
    const int r = a.NormalDistribution(4096);
    ASSERT_GE(r, -4096);
    ASSERT_LE(r, 4096);
    sum += r;
  }
  EXPECT_LT(std::abs(sum / 3000), 300);  // centred on 0
}

}  // namespace
}  // namespace ovelta

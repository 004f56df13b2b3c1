// TCounter: the bounded counter that wraps at its maximum when counting up and clamps at zero when
// counting down.
#include <algorithm>
#include <cstdint>

#include "util/Ovelta.h"

namespace ovelta {
namespace {

constexpr int kDefaultMaxVal = 9999;
constexpr int kDefaultAddVal = 1;

// Sum and difference of 32-bit ints wrapping in two's complement, as the counter's registers do,
// instead of overflowing.
int WrappingAdd(int A, int B) {
  return static_cast<int>(static_cast<std::uint32_t>(A) + static_cast<std::uint32_t>(B));
}
int WrappingSub(int A, int B) {
  return static_cast<int>(static_cast<std::uint32_t>(A) - static_cast<std::uint32_t>(B));
}

}  // namespace

TCounter::TCounter() : FMaxVal(kDefaultMaxVal), FAddVal(kDefaultAddVal), FCount(0) {}

TCounter::TCounter(int MaxVal) : FMaxVal(std::max(MaxVal, 1)), FAddVal(kDefaultAddVal), FCount(0) {}

TCounter::TCounter(int MaxVal, int AddVal)
    : FMaxVal(std::max(MaxVal, 1)), FAddVal(std::min(std::max(AddVal, 0), FMaxVal)), FCount(0) {}

void TCounter::SetMaxVal(int Value) {
  FMaxVal = std::max(Value, 1);
  FAddVal = std::min(FAddVal, FMaxVal);
  FCount = std::min(FCount, FMaxVal - 1);
}

void TCounter::SetAddVal(int Value) { FAddVal = std::min(std::max(Value, 0), FMaxVal); }

void TCounter::SetCount(int Value) { FCount = std::min(Value, FMaxVal); }

bool TCounter::AddVal(int Value) {
  FCount = WrappingAdd(FCount, Value);
  if (FCount >= FMaxVal) {
    FCount -= FMaxVal;  // FCount >= FMaxVal >= 1: cannot overflow
    return true;
  }
  return false;
}

bool TCounter::SubVal(int Value) {
  FCount = WrappingSub(FCount, Value);
  if (FCount < 0) {
    FCount = 0;
    return true;
  }
  return false;
}

}  // namespace ovelta

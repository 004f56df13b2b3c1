// The row kernels of the drawing workers: each per-pixel operator as a type with a one-byte form
// and a 16-byte form (the compiler's generic vector extension, which g++ and clang both lower to
// the machine's SIMD registers), the loops that apply one across a row (constant colour, pattern
// row forwards or mirrored, with or without a colour key), and WithOperator, which picks the
// operator type from a TOvMethod value once per operation. Private to DibDraw.cpp and DibBlit.cpp.
#pragma once

#include <cstring>

#include "graphics/Raster_p.h"

namespace ovelta::raster::kernels {

inline constexpr int kLanes = 16;
typedef Byte Vec __attribute__((vector_size(kLanes)));

inline Vec Load(const Byte* P) {
  Vec v;
  std::memcpy(&v, P, sizeof v);
  return v;
}
inline void Store(Byte* P, Vec V) { std::memcpy(P, &V, sizeof V); }
inline Vec Splat(Byte B) { return Vec{} + B; }
inline Vec Reversed(Vec V) {
  return __builtin_shufflevector(V, V, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
}

struct OpSet {
  static Byte Pixel(Byte, Byte S) { return S; }
  static Vec Lanes(Vec, Vec S) { return S; }
};
struct OpAnd {
  static Byte Pixel(Byte D, Byte S) { return static_cast<Byte>(D & S); }
  static Vec Lanes(Vec D, Vec S) { return D & S; }
};
struct OpOr {
  static Byte Pixel(Byte D, Byte S) { return static_cast<Byte>(D | S); }
  static Vec Lanes(Vec D, Vec S) { return D | S; }
};
struct OpXor {
  static Byte Pixel(Byte D, Byte S) { return static_cast<Byte>(D ^ S); }
  static Vec Lanes(Vec D, Vec S) { return D ^ S; }
};
struct OpAdd {
  static Byte Pixel(Byte D, Byte S) {
    const int sum = D + S;
    return static_cast<Byte>(sum > 255 ? 255 : sum);
  }
  static Vec Lanes(Vec D, Vec S) {
    const Vec sum = D + S;  // wraps; a lane that wrapped is smaller than D
    return sum | reinterpret_cast<Vec>(sum < D);
  }
};
struct OpSub {
  static Byte Pixel(Byte D, Byte S) { return static_cast<Byte>(S < D ? D - S : 0); }
  static Vec Lanes(Vec D, Vec S) { return (D - S) & reinterpret_cast<Vec>(S < D); }
};
struct OpMed {
  static Byte Pixel(Byte D, Byte S) { return static_cast<Byte>((D + S) >> 1); }
  // (d + s) / 2 without the ninth bit: the common bits plus half the differing ones.
  static Vec Lanes(Vec D, Vec S) { return (D & S) + ((D ^ S) >> 1); }
};

// Calls F with the operator type of Method (a value-initialised OpXxx), once per operation.
template <class F> decltype(auto) WithOperator(int Method, F&& Fn) {
  switch (Method) {
    case kOpAnd:
      return Fn(OpAnd{});
    case kOpOr:
      return Fn(OpOr{});
    case kOpXor:
      return Fn(OpXor{});
    case kOpAdd:
      return Fn(OpAdd{});
    case kOpSub:
      return Fn(OpSub{});
    case kOpMed:
      return Fn(OpMed{});
    default:
      return Fn(OpSet{});  // kOpSet, kOpNot and every other value store the value
  }
}

// Dst[i] = op(Dst[i], S) for i < Count.
template <class Op> void FillRow(Byte* Dst, int Count, Byte S) {
  const Vec s = Splat(S);
  int i = 0;
  for (; i + kLanes <= Count; i += kLanes) Store(Dst + i, Op::Lanes(Load(Dst + i), s));
  for (; i < Count; ++i) Dst[i] = Op::Pixel(Dst[i], S);
}

// Dst[i] = op(Dst[i], Src[i]) for i < Count, skipping Src bytes equal to Key when Keyed. A skipped
// lane is written back with its own value.
template <class Op, bool Keyed> void BlendRow(Byte* Dst, const Byte* Src, int Count, Byte Key) {
  const Vec key = Splat(Key);
  int i = 0;
  for (; i + kLanes <= Count; i += kLanes) {
    const Vec d = Load(Dst + i);
    const Vec s = Load(Src + i);
    Vec result = Op::Lanes(d, s);
    if constexpr (Keyed) {
      const Vec skip = reinterpret_cast<Vec>(s == key);
      result = (result & ~skip) | (d & skip);
    }
    Store(Dst + i, result);
  }
  for (; i < Count; ++i) {
    if (Keyed && Src[i] == Key) continue;
    Dst[i] = Op::Pixel(Dst[i], Src[i]);
  }
}

// The mirrored row: DstRight[-i] = op(DstRight[-i], Src[i]) for i < Count, DstRight being the
// rightmost pixel written.
template <class Op, bool Keyed>
void BlendRowMirrored(Byte* DstRight, const Byte* Src, int Count, Byte Key) {
  const Vec key = Splat(Key);
  int i = 0;
  for (; i + kLanes <= Count; i += kLanes) {
    Byte* dst = DstRight - i - (kLanes - 1);  // lowest address of the 16 destination bytes
    const Vec d = Load(dst);
    const Vec s = Reversed(Load(Src + i));
    Vec result = Op::Lanes(d, s);
    if constexpr (Keyed) {
      const Vec skip = reinterpret_cast<Vec>(s == key);
      result = (result & ~skip) | (d & skip);
    }
    Store(dst, result);
  }
  for (; i < Count; ++i) {
    if (Keyed && Src[i] == Key) continue;
    DstRight[-i] = Op::Pixel(DstRight[-i], Src[i]);
  }
}

}  // namespace ovelta::raster::kernels

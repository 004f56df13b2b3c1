// TCrcCheck: the 16-bit reflected CRC of the library's check words. The byte-at-a-time table
// belongs to each object; the portable fast update works sixteen bytes per step with sixteen
// derived tables, and on x86-64 processors with carry-less multiplication (checked at run time)
// long inputs are folded sixteen bytes per multiplication instead. All three give the same check
// words.
#include "pack/Crc.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define OVELTA_CRC_CARRYLESS 1
#endif

namespace ovelta {

namespace {

constexpr Word kConstant1021 = 0x8408;  // 0x1021 reflected
constexpr Word kConstant8003 = 0xC001;  // 0x8003 reflected
constexpr int kSliceBytes = 16;
constexpr std::size_t kPrefetchAhead = 1024;

constexpr Word ConstantOf(TCrcType Type) {
  return Type == ctPoly8003 ? kConstant8003 : kConstant1021;
}

constexpr Word TableEntry(Word Constant, unsigned Index) {
  Word r = static_cast<Word>(Index);
  for (int bit = 0; bit < 8; ++bit)
    r = (r & 1) ? static_cast<Word>((r >> 1) ^ Constant) : static_cast<Word>(r >> 1);
  return r;
}

// Tables[k][b]: the CRC contribution of byte b followed by k zero bytes.
struct SliceTables {
  Word Tables[kSliceBytes][256];
};

constexpr SliceTables MakeSliceTables(Word Constant) {
  SliceTables t{};
  for (unsigned i = 0; i < 256; ++i) t.Tables[0][i] = TableEntry(Constant, i);
  for (int k = 1; k < kSliceBytes; ++k)
    for (unsigned i = 0; i < 256; ++i) {
      Word prev = t.Tables[k - 1][i];
      t.Tables[k][i] = static_cast<Word>((prev >> 8) ^ t.Tables[0][prev & 0xFF]);
    }
  return t;
}

constexpr SliceTables kSlices1021 = MakeSliceTables(kConstant1021);
constexpr SliceTables kSlices8003 = MakeSliceTables(kConstant8003);

// One sixteen-byte step: byte j of the step is followed by 15 - j more bytes, so it goes through
// table 15 - j. The running word folds into the first two bytes (it is reflected: low byte first).
inline std::uint32_t SliceStep(const Word (*t)[256], std::uint32_t Running, const Byte* At) {
  std::uint32_t b0 = At[0] ^ (Running & 0xFF);
  std::uint32_t b1 = At[1] ^ (Running >> 8);
  return t[15][b0] ^ t[14][b1] ^ t[13][At[2]] ^ t[12][At[3]] ^ t[11][At[4]] ^ t[10][At[5]] ^
         t[9][At[6]] ^ t[8][At[7]] ^ t[7][At[8]] ^ t[6][At[9]] ^ t[5][At[10]] ^ t[4][At[11]] ^
         t[3][At[12]] ^ t[2][At[13]] ^ t[1][At[14]] ^ t[0][At[15]];
}

#ifdef OVELTA_CRC_CARRYLESS

// Carry-less folding. A block of sixteen input bytes, read as a little-endian 128-bit number, is
// the polynomial whose x^127 coefficient is bit 0 of the first byte (the CRC is reflected). Feeding
// the running word in is adding it to the first two bytes, and a block B followed by D more bits of
// input counts as B * x^D; modulo the CRC polynomial P that is the sum, over its two 64-bit halves,
// of half * (x^k mod P), a product of at most 80 bits that fits a block again. The product of two
// reflected 64-bit numbers comes out one place up (x^1), so the constants are taken one power
// lower. At the end one block is left whose CRC from 0, then the tail's, is the CRC of the whole
// input.

// x^N modulo the polynomial x^16 + Normal (Normal in normal, unreflected form).
constexpr std::uint32_t PowerModulo(unsigned N, std::uint32_t Normal) {
  std::uint32_t r = 1;
  for (unsigned i = 0; i < N; ++i) {
    r <<= 1;
    if (r & 0x10000u) r = (r ^ Normal) & 0xFFFFu;
  }
  return r;
}

// A polynomial of degree below 64 in the reflected 64-bit form: bit t holds x^(63 - t).
constexpr std::uint64_t Reflect64(std::uint32_t Poly) {
  std::uint64_t r = 0;
  for (int i = 0; i < 16; ++i)
    if (Poly >> i & 1) r |= std::uint64_t{1} << (63 - i);
  return r;
}

constexpr int kLanes = 4;  // blocks folded side by side
constexpr std::size_t kBlockBytes = 16;
constexpr std::size_t kStrideBytes = kLanes * kBlockBytes;
constexpr std::size_t kCarrylessMinimum = 2 * kStrideBytes;  // shorter inputs take the tables

// The two constants that move a block Bits further on: for its first (lower) 64 bits, which stand
// Bits + 64 places up, and for its second 64 bits.
struct FoldPair {
  std::uint64_t First;
  std::uint64_t Second;
};

constexpr FoldPair FoldBy(unsigned Bits, std::uint32_t Normal) {
  return {Reflect64(PowerModulo(Bits + 64 - 1, Normal)), Reflect64(PowerModulo(Bits - 1, Normal))};
}

struct FoldConstants {
  FoldPair Stride;  // a lane to the same lane of the next stride
  FoldPair Block1;  // one block on
  FoldPair Block2;
  FoldPair Block3;
};

constexpr FoldConstants MakeFoldConstants(std::uint32_t Normal) {
  return {FoldBy(8 * kStrideBytes, Normal), FoldBy(128, Normal), FoldBy(256, Normal),
          FoldBy(384, Normal)};
}

constexpr std::uint32_t kNormal1021 = 0x1021;
constexpr std::uint32_t kNormal8003 = 0x8003;
constexpr FoldConstants kFold1021 = MakeFoldConstants(kNormal1021);
constexpr FoldConstants kFold8003 = MakeFoldConstants(kNormal8003);

[[gnu::target("sse2,pclmul"), gnu::always_inline]] inline __m128i Pair(const FoldPair& K) {
  return _mm_set_epi64x(static_cast<long long>(K.Second), static_cast<long long>(K.First));
}

// Block moved on by K (its two halves times their constants).
[[gnu::target("sse2,pclmul"), gnu::always_inline]] inline __m128i Fold(__m128i Block, __m128i K) {
  return _mm_xor_si128(_mm_clmulepi64_si128(Block, K, 0x00), _mm_clmulepi64_si128(Block, K, 0x11));
}

// The CRC of Length (at least kCarrylessMinimum) bytes at P from the running word Crc.
[[gnu::target("sse2,pclmul")]] std::uint32_t CarrylessUpdate(const FoldConstants& C,
                                                             const Word (*t)[256],
                                                             std::uint32_t Crc, const Byte* P,
                                                             std::size_t Length) {
  __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 32));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 48));
  x0 = _mm_xor_si128(x0, _mm_cvtsi32_si128(static_cast<int>(Crc)));
  P += kStrideBytes;
  Length -= kStrideBytes;
  const __m128i stride = Pair(C.Stride);
  while (Length >= kStrideBytes) {
    x0 = _mm_xor_si128(Fold(x0, stride), _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)));
    x1 = _mm_xor_si128(Fold(x1, stride), _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16)));
    x2 = _mm_xor_si128(Fold(x2, stride), _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 32)));
    x3 = _mm_xor_si128(Fold(x3, stride), _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 48)));
    P += kStrideBytes;
    Length -= kStrideBytes;
  }
  const __m128i block1 = Pair(C.Block1);
  __m128i x = _mm_xor_si128(_mm_xor_si128(Fold(x0, Pair(C.Block3)), Fold(x1, Pair(C.Block2))),
                            _mm_xor_si128(Fold(x2, block1), x3));
  while (Length >= kBlockBytes) {
    x = _mm_xor_si128(Fold(x, block1), _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)));
    P += kBlockBytes;
    Length -= kBlockBytes;
  }
  Byte last[kBlockBytes];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
  std::uint32_t crc = SliceStep(t, 0, last);
  while (Length-- > 0) crc = t[0][(crc ^ *P++) & 0xFF] ^ (crc >> 8);
  return crc;
}

bool HasCarryless() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  }();
  return has;
}

#endif  // OVELTA_CRC_CARRYLESS

}  // namespace

TCrcCheck::TCrcCheck() { MakeCrcTable(); }

void TCrcCheck::MakeCrcTable() {
  Word constant = ConstantOf(FCrcType);
  for (unsigned i = 0; i < 256; ++i) FCrcTable[i] = TableEntry(constant, i);
  FSliceTables = (constant == kConstant8003 ? kSlices8003 : kSlices1021).Tables;
}

void TCrcCheck::SetCrcType(TCrcType Value) {
  FCrcType = Value;
  MakeCrcTable();
}

bool TCrcCheck::CarrylessAvailable() {
#ifdef OVELTA_CRC_CARRYLESS
  return HasCarryless();
#else
  return false;
#endif
}

Word TCrcCheck::UpDateCrcBytewise(Word Crc, const void* Data, std::int32_t Length) const {
  if (Length <= 0) return Crc;
  const auto* p = static_cast<const Byte*>(Data);
  for (std::int32_t i = 0; i < Length; ++i)
    Crc = static_cast<Word>(FCrcTable[(Crc ^ p[i]) & 0xFF] ^ (Crc >> 8));
  return Crc;
}

Word TCrcCheck::UpDateCrc(Word Crc, const void* Data, std::int32_t Length) const {
#ifdef OVELTA_CRC_CARRYLESS
  if (Length >= static_cast<std::int32_t>(kCarrylessMinimum) && HasCarryless())
    return static_cast<Word>(
        CarrylessUpdate(FSliceTables == kSlices8003.Tables ? kFold8003 : kFold1021, FSliceTables,
                        Crc, static_cast<const Byte*>(Data), static_cast<std::size_t>(Length)));
#endif
  return UpDateCrcTables(Crc, Data, Length);
}

Word TCrcCheck::UpDateCrcTables(Word Crc, const void* Data, std::int32_t Length) const {
  if (Length <= 0) return Crc;
  const auto* p = static_cast<const Byte*>(Data);
  const Word(*t)[256] = FSliceTables;
  std::uint32_t crc = Crc;
  std::size_t left = static_cast<std::size_t>(Length);
  // Every step waits for the previous one, so on long inputs the bytes are asked for well ahead:
  // without that, a late cache line stalls the chain of steps.
  while (left >= kPrefetchAhead + kSliceBytes) {
    __builtin_prefetch(p + kPrefetchAhead);
    crc = SliceStep(t, crc, p);
    p += kSliceBytes;
    left -= kSliceBytes;
  }
  while (left >= kSliceBytes) {
    crc = SliceStep(t, crc, p);
    p += kSliceBytes;
    left -= kSliceBytes;
  }
  while (left-- > 0) crc = FCrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return static_cast<Word>(crc);
}

}  // namespace ovelta

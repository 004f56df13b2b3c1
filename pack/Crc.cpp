// TCrcCheck: the 16-bit reflected CRC of the library's check words. The byte-at-a-time table belongs
// to each object; the fast update works sixteen bytes per step with sixteen derived tables, which
// are constants of the two polynomials computed at compile time and give the same check words.
#include "pack/Ovpack.h"

namespace ovelta {

namespace {

constexpr Word kConstant1021 = 0x8408;  // 0x1021 reflected
constexpr Word kConstant8003 = 0xC001;  // 0x8003 reflected
constexpr int kSliceBytes = 16;

constexpr Word ConstantOf(TCrcType Type) { return Type == ctPoly8003 ? kConstant8003 : kConstant1021; }

constexpr Word TableEntry(Word Constant, unsigned Index) {
  Word r = static_cast<Word>(Index);
  for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? static_cast<Word>((r >> 1) ^ Constant) : static_cast<Word>(r >> 1);
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

Word TCrcCheck::UpDateCrcBytewise(Word Crc, const void* Data, std::int32_t Length) const {
  if (Length <= 0) return Crc;
  const auto* p = static_cast<const Byte*>(Data);
  for (std::int32_t i = 0; i < Length; ++i) Crc = static_cast<Word>(FCrcTable[(Crc ^ p[i]) & 0xFF] ^ (Crc >> 8));
  return Crc;
}

Word TCrcCheck::UpDateCrc(Word Crc, const void* Data, std::int32_t Length) const {
  if (Length <= 0) return Crc;
  const auto* p = static_cast<const Byte*>(Data);
  const Word(*t)[256] = FSliceTables;
  std::uint32_t crc = Crc;
  std::size_t left = static_cast<std::size_t>(Length);
  while (left >= kSliceBytes) {
    // Byte j of the step is followed by 15 - j more bytes, so it goes through table 15 - j. The
    // running word folds into the first two bytes (it is reflected: low byte first).
    std::uint32_t b0 = p[0] ^ (crc & 0xFF);
    std::uint32_t b1 = p[1] ^ (crc >> 8);
    crc = t[15][b0] ^ t[14][b1] ^ t[13][p[2]] ^ t[12][p[3]] ^ t[11][p[4]] ^ t[10][p[5]] ^
          t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^
          t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
    p += kSliceBytes;
    left -= kSliceBytes;
  }
  while (left-- > 0) crc = FCrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return static_cast<Word>(crc);
}

}  // namespace ovelta

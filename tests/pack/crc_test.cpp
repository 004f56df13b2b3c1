// TCrcCheck: the published check values of both polynomials, the table of the second one, pieces
// fed in any split, and both fast updates against a bit-by-bit reference.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <random>
#include <vector>

#include "pack/Crc.h"

namespace ovelta {
namespace {

// Bit-by-bit reflected CRC: the definition, with no table at all.
Word ReferenceCrc(Word Constant, Word Crc, const Byte* Data, std::size_t Length) {
  for (std::size_t i = 0; i < Length; ++i) {
    Crc ^= Data[i];
    for (int bit = 0; bit < 8; ++bit)
      Crc = (Crc & 1) ? static_cast<Word>((Crc >> 1) ^ Constant) : static_cast<Word>(Crc >> 1);
  }
  return Crc;
}

TEST(CrcCheck, CheckValuesOfBothTypes) {
  // CRC-16/MCRF4XX check value (width 16, poly 0x1021 reflected, init 0xFFFF, no final XOR).
  const char* digits = "123456789";
  TCrcCheck crc;
  EXPECT_EQ(crc.CrcType(), ctPoly1021);
  EXPECT_EQ(crc.Crc(digits, 9), 0x6F91);
  EXPECT_EQ(crc.Crc("abc", 3), 0x61DA);
  crc.SetCrcType(ctPoly8003);
  EXPECT_EQ(crc.Crc(digits, 9), 0x7ABB);
  EXPECT_EQ(crc.Crc("abc", 3), 0x564E);
  EXPECT_EQ(crc.UpDateCrcBytewise(0xFFFF, digits, 9), 0x7ABB);
}

TEST(CrcCheck, TablesOfBothConstants) {
  TCrcCheck crc;
  EXPECT_EQ(crc.CrcTable(0), 0x0000);
  EXPECT_EQ(crc.CrcTable(1), 0x1189);
  EXPECT_EQ(crc.CrcTable(128), 0x8408);
  EXPECT_EQ(crc.CrcTable(255), 0x0F78);
  crc.SetCrcType(ctPoly8003);
  EXPECT_EQ(crc.CrcTable(0), 0x0000);
  EXPECT_EQ(crc.CrcTable(1), 0x8081);
  EXPECT_EQ(crc.CrcTable(2), 0x8101);
  EXPECT_EQ(crc.CrcTable(3), 0x0180);
  EXPECT_EQ(crc.CrcTable(255), 0x7F80);
  // Any value other than 1 selects the default constant.
  crc.SetCrcType(static_cast<TCrcType>(7));
  EXPECT_EQ(crc.CrcTable(1), 0x1189);
  EXPECT_EQ(crc.Crc("123456789", 9), 0x6F91);
}

TEST(CrcCheck, EmptyAndNegativeLengthsLeaveTheWordAlone) {
  TCrcCheck crc;
  EXPECT_EQ(crc.Crc(nullptr, 0), 0xFFFF);
  EXPECT_EQ(crc.UpDateCrc(0x1234, nullptr, 0), 0x1234);
  EXPECT_EQ(crc.UpDateCrc(0x1234, nullptr, -5), 0x1234);
  EXPECT_EQ(crc.UpDateCrcBytewise(0x1234, nullptr, -1), 0x1234);
}

// Pieces long enough for the carry-less path and short ones, in any split: the running word must
// carry over between the paths.
TEST(CrcCheck, PiecesGiveTheWholeWord) {
  TCrcCheck crc;
  Word first = crc.Crc("1234", 4);
  EXPECT_EQ(crc.UpDateCrc(first, "56789", 5), 0x6F91);

  std::mt19937 rng(7);
  std::vector<Byte> data(5000);
  for (auto& b : data) b = static_cast<Byte>(rng());
  Word whole = crc.UpDateCrcBytewise(0xFFFF, data.data(), static_cast<std::int32_t>(data.size()));
  for (int trial = 0; trial < 50; ++trial) {
    Word running = 0xFFFF;
    std::size_t at = 0;
    while (at < data.size()) {
      std::size_t piece = std::min<std::size_t>(rng() % (trial % 2 ? 70 : 700), data.size() - at);
      running = crc.UpDateCrc(running, data.data() + at, static_cast<std::int32_t>(piece));
      at += piece;
    }
    ASSERT_EQ(running, whole) << "trial " << trial;
  }
}

// UpDateCrc (carry-less folding on inputs of 128 bytes or more where the processor has it) and the
// portable table update, against the definition: every start offset within a block, every length
// up to several strides with every tail of blocks and bytes, and long inputs.
TEST(CrcCheck, BothFastPathsMatchTheDefinitionAtEveryLengthAndAlignment) {
  std::mt19937 rng(11);
  std::vector<Byte> data(3000);
  for (auto& b : data) b = static_cast<Byte>(rng());
  std::cout << "carry-less multiplication: "
            << (TCrcCheck::CarrylessAvailable() ? "used" : "not available") << "\n";
  for (TCrcType type : {ctPoly1021, ctPoly8003}) {
    TCrcCheck crc;
    crc.SetCrcType(type);
    Word constant = type == ctPoly8003 ? 0xC001 : 0x8408;
    auto check = [&](Word Start, std::size_t Offset, std::size_t Length) {
      Word expected = ReferenceCrc(constant, Start, data.data() + Offset, Length);
      const Byte* at = data.data() + Offset;
      auto length = static_cast<std::int32_t>(Length);
      ASSERT_EQ(crc.UpDateCrc(Start, at, length), expected)
          << "type " << int(type) << " offset " << Offset << " length " << Length;
      ASSERT_EQ(crc.UpDateCrcTables(Start, at, length), expected)
          << "type " << int(type) << " offset " << Offset << " length " << Length;
      ASSERT_EQ(crc.UpDateCrcBytewise(Start, at, length), expected);
    };
    for (std::size_t offset = 0; offset < 17; ++offset)
      for (std::size_t length = 0; length + offset <= 420; ++length) {
        check(static_cast<Word>(rng()), offset, length);
        if (::testing::Test::HasFatalFailure()) return;
      }
    // Long inputs read ahead; their end falls at every place in a step.
    for (std::size_t length = 2000; length < 2040 && !::testing::Test::HasFatalFailure(); ++length)
      check(0xFFFF, 3, length);
  }
}

TEST(CrcCheck, SwitchingTypesBackGivesAFreshInstancesResults) {
  std::vector<Byte> data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<Byte>(i * 31 + 7);
  TCrcCheck fresh, switched;
  switched.SetCrcType(ctPoly8003);
  Word other = switched.Crc(data.data(), 1000);
  switched.SetCrcType(ctPoly1021);
  EXPECT_EQ(switched.Crc(data.data(), 1000), fresh.Crc(data.data(), 1000));
  EXPECT_NE(other, fresh.Crc(data.data(), 1000));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(switched.CrcTable(i), fresh.CrcTable(i));
}

}  // namespace
}  // namespace ovelta

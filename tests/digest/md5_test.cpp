// The MD5 unit: the RFC 1321 test suite fed whole and in pieces, the padding boundaries, the RFC
// 1939 APOP example, the bit count across its two words, the wiping, and the system's own MD5
// (OpenSSL's on Linux, CNG's on Windows) as an oracle on random inputs split at random points.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "digest/Md5Oracle.h"
#include "digest/Ovmd5.h"

namespace ovelta {
namespace {

std::string Hex(const Byte (&Digest)[16]) {
  std::string text;
  char pair[3];
  for (Byte b : Digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

const Byte* Bytes(const std::string& Text) { return reinterpret_cast<const Byte*>(Text.data()); }

std::string Md5Whole(const std::string& Text) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, Bytes(Text), static_cast<DWord>(Text.size()));
  Byte digest[16];
  Md5Final(digest, &context);
  return Hex(digest);
}

// Feeds Text in pieces of PieceSize bytes, with an empty piece before every piece and at the end.
std::string Md5Pieces(const std::string& Text, std::size_t PieceSize) {
  Md5Context context;
  Md5Init(&context);
  for (std::size_t at = 0; at < Text.size(); at += PieceSize) {
    Md5Update(&context, nullptr, 0);
    std::size_t n = std::min(PieceSize, Text.size() - at);
    Md5Update(&context, Bytes(Text) + at, static_cast<DWord>(n));
  }
  Md5Update(&context, Bytes(Text), 0);
  Byte digest[16];
  Md5Final(digest, &context);
  return Hex(digest);
}

std::string OracleMd5(const std::vector<Byte>& Data) {
  Byte digest[16];
  OracleMd5Digest(Data.data(), Data.size(), digest);
  return Hex(digest);
}

struct KnownAnswer {
  std::string Input;
  const char* Digest;
};

// RFC 1321, appendix A.5.
const std::vector<KnownAnswer> kRfc1321Suite = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

// Runs of "a" around the lengths where the padding needs one block or two (values from coreutils'
// md5sum).
const std::vector<KnownAnswer> kPaddingBoundaries = {
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
    {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
    {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
};

TEST(Md5KnownAnswers, Rfc1321SuiteWholeAndInPiecesOfEverySize) {
  for (const KnownAnswer& answer : kRfc1321Suite) {
    SCOPED_TRACE(answer.Input);
    EXPECT_EQ(Md5Whole(answer.Input), answer.Digest);
    for (std::size_t piece = 1; piece <= answer.Input.size() + 1; ++piece)
      ASSERT_EQ(Md5Pieces(answer.Input, piece), answer.Digest) << "pieces of " << piece;
  }
}

TEST(Md5KnownAnswers, PaddingBoundariesWholeInPiecesAndSplitAnywhere) {
  for (const KnownAnswer& answer : kPaddingBoundaries) {
    const std::string& text = answer.Input;
    SCOPED_TRACE(text.size());
    EXPECT_EQ(Md5Whole(text), answer.Digest);
    for (std::size_t piece = 1; piece <= text.size(); ++piece)
      ASSERT_EQ(Md5Pieces(text, piece), answer.Digest) << "pieces of " << piece;
    for (std::size_t split = 0; split <= text.size(); ++split) {
      Md5Context context;
      Md5Init(&context);
      Md5Update(&context, Bytes(text), static_cast<DWord>(split));
      Md5Update(&context, Bytes(text) + split, static_cast<DWord>(text.size() - split));
      Byte digest[16];
      Md5Final(digest, &context);
      ASSERT_EQ(Hex(digest), answer.Digest) << "split at " << split;
    }
  }
}

// RFC 1939, section 7: the APOP digest of the greeting timestamp followed by the shared secret.
TEST(Md5KnownAnswers, Rfc1939ApopExample) {
  EXPECT_EQ(Md5Whole("<1896.697170952@dbc.mtview.ca.us>tanstaaf"),
            "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(Md5Context, InitSetsChainingValuesAndLeavesTheBuffer) {
  Md5Context context;
  std::memset(&context, 0x5A, sizeof context);
  Md5Init(&context);
  EXPECT_EQ(context.state[0], 0x67452301u);
  EXPECT_EQ(context.state[1], 0xEFCDAB89u);
  EXPECT_EQ(context.state[2], 0x98BADCFEu);
  EXPECT_EQ(context.state[3], 0x10325476u);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 0u);
  for (Byte b : context.buffer) ASSERT_EQ(b, 0x5A);
}

TEST(Md5Context, FinalWipesTheWholeContext) {
  Md5Context context;
  Md5Init(&context);
  std::string text(100, 'q');
  Md5Update(&context, Bytes(text), static_cast<DWord>(text.size()));
  Byte digest[16];
  Md5Final(digest, &context);
  const Byte* raw = reinterpret_cast<const Byte*>(&context);
  for (std::size_t i = 0; i < sizeof context; ++i) ASSERT_EQ(raw[i], 0) << "byte " << i;
}

TEST(Md5Context, BitCountCarriesIntoTheHighWord) {
  Md5Context context;
  Md5Init(&context);
  // 2^29 - 1 bytes fed so far: the low word is one byte short of wrapping.
  context.count[0] = 0xFFFFFFF8u;
  Byte one = 'x';
  Md5Update(&context, &one, 1);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
  Md5Update(&context, &one, 1);
  EXPECT_EQ(context.count[0], 8u);
  EXPECT_EQ(context.count[1], 1u);
}

// The byte order of the length field and the count across many blocks, against an independent MD5.
TEST(Md5Oracle, RandomInputsSplitAtRandomPointsMatchTheSystemMd5) {
  std::mt19937 random(1321);
  std::vector<Byte> data;
  std::vector<std::size_t> sizes;
  for (std::size_t n = 0; n <= 1100; ++n) sizes.push_back(n);
  sizes.push_back(1 << 20);
  sizes.push_back((1 << 20) + 37);
  for (std::size_t size : sizes) {
    data.resize(size);
    for (Byte& b : data) b = static_cast<Byte>(random());
    Md5Context context;
    Md5Init(&context);
    std::size_t at = 0;
    while (at < size) {
      std::size_t n = std::min<std::size_t>(size - at, random() % 300);
      Md5Update(&context, data.data() + at, static_cast<DWord>(n));
      at += n;
    }
    Byte digest[16];
    Md5Final(digest, &context);
    ASSERT_EQ(Hex(digest), OracleMd5(data)) << "size " << size;
  }
}

}  // namespace
}  // namespace ovelta

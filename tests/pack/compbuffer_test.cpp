// TOvCompBuffer: blocks and check words, round trips across slice sizes, and refusal of damaged
// blocks, wrong sizes and foreign bytes without touching memory outside the blocks.
#include <gtest/gtest.h>

#include "CodecTestData.h"
#include "pack/CompBuffer.h"
#include "pack/Crc.h"
#include "platform/core/Heap.h"
#include "platform/core/HeapTesting_p.h"

namespace ovelta {
namespace {

using codec_test::Bytes;

struct Encoded {
  bool Ok = false;
  Bytes Block;
  std::int32_t Size = 0;
  Word Crc = 0;
};

Encoded EncodeToBytes(const Bytes& Data) {
  TOvCompBuffer comp;
  Encoded e;
  void* block = nullptr;
  e.Ok =
      comp.EncodeBuffer(Data.data(), static_cast<std::int32_t>(Data.size()), block, e.Size, e.Crc);
  if (e.Ok) {
    const auto* bytes = static_cast<const Byte*>(block);
    e.Block.assign(bytes, bytes + e.Size);
    EXPECT_GE(GlobalSize(block), static_cast<std::size_t>(e.Size));
    GlobalFree(block);
  }
  return e;
}

// DecodeBuffer on an exact-size copy of Block (so that a read past it shows under the address
// sanitizer); the decoded bytes, or nothing when refused.
bool DecodeFromBytes(const Bytes& Block, std::int32_t DecodeSize, Word Crc, Bytes* Out = nullptr) {
  TOvCompBuffer comp;
  void* dest = reinterpret_cast<void*>(0x1);  // must be replaced or left alone, never read
  bool ok = comp.DecodeBuffer(Block.data(), static_cast<std::int32_t>(Block.size()), DecodeSize,
                              Crc, dest);
  if (ok) {
    EXPECT_EQ(GlobalSize(dest), static_cast<std::size_t>(DecodeSize));
    if (Out)
      Out->assign(static_cast<const Byte*>(dest), static_cast<const Byte*>(dest) + DecodeSize);
    GlobalFree(dest);
  } else {
    EXPECT_TRUE(dest == nullptr || dest == reinterpret_cast<void*>(0x1));
  }
  return ok;
}

TEST(CompBuffer, OneByteMakesAFiveByteBlockWithItsCheckWord) {
  Encoded e = EncodeToBytes({0x41});
  ASSERT_TRUE(e.Ok);
  EXPECT_EQ(e.Block, (Bytes{0x00, 0x00, 0x00, 0x00, 0x41}));
  TCrcCheck crc;
  EXPECT_EQ(e.Crc, crc.UpDateCrc(0xFFFF, e.Block.data(), 5));
  Bytes back;
  ASSERT_TRUE(DecodeFromBytes(e.Block, 1, e.Crc, &back));
  EXPECT_EQ(back, (Bytes{0x41}));
}

TEST(CompBuffer, RoundTripsOfEveryKindAndSize) {
  struct Case {
    const char* Name;
    Bytes Data;
  };
  const Case cases[] = {
      {"text across a slice", codec_test::Text(16385, 1)},
      {"random, stream over one slice", codec_test::RandomBytes(100000, 2)},
      {"compressible, several hundred kilobytes", codec_test::Runs(600000, 3)},
      {"zeros", Bytes(500000, 0)},
      {"program bytes", codec_test::ProgramBytes(70000)},
  };
  std::int64_t before = heap_testing::LiveBlocks();
  for (const Case& c : cases) {
    Encoded e = EncodeToBytes(c.Data);
    ASSERT_TRUE(e.Ok) << c.Name;
    EXPECT_EQ(e.Block, codec_test::Encode(c.Data)) << c.Name;
    Bytes back;
    ASSERT_TRUE(DecodeFromBytes(e.Block, static_cast<std::int32_t>(c.Data.size()), e.Crc, &back))
        << c.Name;
    EXPECT_TRUE(back == c.Data) << c.Name;
  }
  // Random bytes do not compress: the block is about an eighth larger and still fits.
  Encoded random = EncodeToBytes(codec_test::RandomBytes(100000, 2));
  EXPECT_GT(random.Size, 112000);
  EXPECT_LE(random.Size, 100000 + 4 * 3125);
  EXPECT_EQ(heap_testing::LiveBlocks(), before);
}

TEST(CompBuffer, RefusesSizesOfZeroWithoutTouchingTheOutputs) {
  TOvCompBuffer comp;
  void* dest = reinterpret_cast<void*>(0x1);
  std::int32_t size = 77;
  Word crc = 0x1234;
  Byte byte = 0;
  EXPECT_FALSE(comp.EncodeBuffer(&byte, 0, dest, size, crc));
  EXPECT_FALSE(comp.EncodeBuffer(&byte, -3, dest, size, crc));
  EXPECT_EQ(dest, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(size, 77);
  EXPECT_EQ(crc, 0x1234);
  EXPECT_FALSE(comp.DecodeBuffer(&byte, 0, 10, 0xFFFF, dest));
  EXPECT_FALSE(comp.DecodeBuffer(&byte, 1, 0, TCrcCheck().Crc(&byte, 1), dest));
  EXPECT_EQ(dest, reinterpret_cast<void*>(0x1));
}

TEST(CompBuffer, AnyChangedByteIsRefusedBeforeAnythingIsAllocated) {
  Bytes data = codec_test::Text(40000, 4);
  Encoded e = EncodeToBytes(data);
  ASSERT_TRUE(e.Ok);
  std::int64_t before = heap_testing::LiveBlocks();
  for (std::size_t at = 0; at < e.Block.size(); at += 1 + at / 8) {
    Bytes damaged = e.Block;
    damaged[at] ^= 0x01 << (at % 8);
    heap_testing::ResetLargestRequest();
    ASSERT_FALSE(DecodeFromBytes(damaged, static_cast<std::int32_t>(data.size()), e.Crc)) << at;
    ASSERT_EQ(heap_testing::LargestRequest(), 0u) << at;
  }
  EXPECT_EQ(heap_testing::LiveBlocks(), before);
}

TEST(CompBuffer, MatchingCheckWordWithWrongSizesIsRefused) {
  Bytes data = codec_test::Text(50000, 5);
  Encoded e = EncodeToBytes(data);
  ASSERT_TRUE(e.Ok);
  const auto size = static_cast<std::int32_t>(data.size());
  std::int64_t before = heap_testing::LiveBlocks();
  for (std::int32_t wrong : {1, 100, size - 1, size + 1, size * 2, size * 40}) {
    EXPECT_FALSE(DecodeFromBytes(e.Block, wrong, e.Crc)) << wrong;
  }
  // A shorter or longer block whose check word was made to match.
  TCrcCheck crc;
  for (std::size_t cut : {std::size_t{1}, std::size_t{7}, e.Block.size() / 2}) {
    Bytes shorter(e.Block.begin(), e.Block.end() - static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(DecodeFromBytes(
        shorter, size, crc.Crc(shorter.data(), static_cast<std::int32_t>(shorter.size()))));
  }
  Bytes longer = e.Block;
  longer.insert(longer.end(), {0x00, 0x00, 0x00, 0x00, 0x41});
  EXPECT_FALSE(DecodeFromBytes(longer, size,
                               crc.Crc(longer.data(), static_cast<std::int32_t>(longer.size()))));
  EXPECT_EQ(heap_testing::LiveBlocks(), before);
}

TEST(CompBuffer, ForeignBytesWithTheirCheckWordNeverOverrun) {
  std::mt19937 rng(6);
  TCrcCheck crc;
  std::int64_t before = heap_testing::LiveBlocks();
  int accepted = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Bytes block = codec_test::RandomBytes(1 + rng() % 3000, static_cast<unsigned>(rng()));
    if (trial % 2 && block.size() > 3)
      block[3] = 0;  // literals first: more of these get far before failing
    auto told = static_cast<std::int32_t>(1 + rng() % 5000);
    Bytes out;
    if (DecodeFromBytes(block, told, crc.Crc(block.data(), static_cast<std::int32_t>(block.size())),
                        &out)) {
      ++accepted;
      EXPECT_EQ(out.size(), static_cast<std::size_t>(told));
    }
  }
  EXPECT_LT(accepted, 10);
  EXPECT_EQ(heap_testing::LiveBlocks(), before);
}

TEST(CompBuffer, AllocationFailuresLeaveNothingBehind) {
  Bytes data = codec_test::Text(30000, 7);
  Encoded e = EncodeToBytes(data);
  ASSERT_TRUE(e.Ok);
  std::int64_t before = heap_testing::LiveBlocks();
  TOvCompBuffer comp;
  for (int failAfter = 0; failAfter < 3; ++failAfter) {
    void* dest = reinterpret_cast<void*>(0x1);
    std::int32_t size = 0;
    Word crc = 0;
    heap_testing::FailAfter(failAfter);
    bool encoded =
        comp.EncodeBuffer(data.data(), static_cast<std::int32_t>(data.size()), dest, size, crc);
    heap_testing::FailAfter(-1);
    EXPECT_FALSE(encoded) << failAfter;
    EXPECT_EQ(dest, nullptr) << failAfter;

    dest = reinterpret_cast<void*>(0x1);
    heap_testing::FailAfter(failAfter);
    bool decoded = comp.DecodeBuffer(e.Block.data(), e.Size, static_cast<std::int32_t>(data.size()),
                                     e.Crc, dest);
    heap_testing::FailAfter(-1);
    EXPECT_FALSE(decoded) << failAfter;
    EXPECT_EQ(dest, nullptr) << failAfter;
    EXPECT_EQ(heap_testing::LiveBlocks(), before) << failAfter;
  }
}

}  // namespace
}  // namespace ovelta

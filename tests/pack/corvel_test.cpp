// The Corvel codec: the worked streams of the format, the length and distance code boundaries, the
// calling order and slice boundaries, byte-identical streams against the plain search, round trips,
// bounded memory, independent encoders on several threads, and a decoder that stops on every kind
// of damaged stream.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "CodecTestData.h"
#include "CorvelReference.h"
#include "pack/Corvel.h"
#include "platform/core/Heap.h"
#include "platform/core/HeapTesting_p.h"

namespace ovelta {
namespace {

using codec_test::Bytes;
namespace ref = corvel_reference;

Bytes Of(const std::string& Text) { return Bytes(Text.begin(), Text.end()); }

Bytes Concat(std::initializer_list<Bytes> Parts) {
  Bytes out;
  for (const auto& p : Parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Bytes in which no two-byte string occurs twice and no byte repeats within 10 positions, so that
// nothing in them matches anything before.
Bytes Unrepeated(std::size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  std::vector<bool> seen(65536);
  Bytes out;
  while (out.size() < Size) {
    std::uint8_t b = static_cast<std::uint8_t>(rng());
    bool near = false;
    for (std::size_t k = 1; k <= 10 && k <= out.size(); ++k)
      near = near || out[out.size() - k] == b;
    if (near || (!out.empty() && seen[out.back() << 8 | b])) continue;
    if (!out.empty()) seen[out.back() << 8 | b] = true;
    out.push_back(b);
  }
  return out;
}

void ExpectRoundTrip(const Bytes& Data, const std::string& What) {
  Bytes stream = codec_test::Encode(Data);
  ASSERT_FALSE(stream.empty()) << What;
  codec_test::DecodeRun run = codec_test::DecodeAll(stream, static_cast<std::int32_t>(Data.size()));
  ASSERT_FALSE(run.Failed) << What;
  ASSERT_EQ(run.Consumed, static_cast<std::int64_t>(stream.size())) << What;
  ASSERT_TRUE(run.Out == Data) << What;
}

TEST(CorvelStream, WorkedExamples) {
  struct Case {
    const char* Name;
    Bytes Input;
    Bytes Stream;
  };
  Bytes aToL = Of("abcdefghijkl");
  const Case cases[] = {
      {"abc", Of("abc"), {0x00, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63}},
      {"ten a", Bytes(10, 0x61), {0x00, 0x00, 0x00, 0x40, 0x61, 0x80}},
      {"300 x", Bytes(300, 0x78), {0x00, 0x00, 0x00, 0x40, 0x78, 0xF0, 0x2B, 0x01}},
      {"abc six times",
       Of("abcabcabcabcabcabc"),
       {0x00, 0x00, 0x00, 0x10, 0x61, 0x62, 0x63, 0xE2, 0x0F}},
      {"a to l twice", Concat({aToL, aToL}),
       Concat({{0x00, 0x00, 0x08, 0x00}, aToL, {0xBA, 0x0C}})},
      {"one byte", {0x41}, {0x00, 0x00, 0x00, 0x00, 0x41}},
      // A literal and five matches at distance 1: four of 8192 and one of 7231.
      {"40000 zero bytes", Bytes(40000, 0), {0x00, 0x00, 0x00, 0x7C, 0x00, 0xF0, 0x00,
                                             0x20, 0xF0, 0x00, 0x20, 0xF0, 0x00, 0x20,
                                             0xF0, 0x00, 0x20, 0xF0, 0x3F, 0x1C}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(codec_test::Encode(c.Input), c.Stream) << c.Name;
    EXPECT_EQ(ref::Encode(c.Input), c.Stream) << c.Name << " (plain search)";
    codec_test::DecodeRun run =
        codec_test::DecodeAll(c.Stream, static_cast<std::int32_t>(c.Input.size()));
    EXPECT_FALSE(run.Failed) << c.Name;
    EXPECT_EQ(run.Out, c.Input) << c.Name;
  }
}

TEST(CorvelStream, LengthCodeBoundaries) {
  // A literal, then a run at distance 1 of the given length: token, then its length bytes.
  struct Case {
    int Length;
    Bytes Match;
  };
  const Case cases[] = {{1, {0x00}},
                        {2, {0x10}},
                        {14, {0xD0}},
                        {15, {0xE0, 0x0F}},
                        {255, {0xE0, 0xFF}},
                        {256, {0xF0, 0x00, 0x01}},
                        {8191, {0xF0, 0xFF, 0x1F}},
                        {8192, {0xF0, 0x00, 0x20}}};
  for (const Case& c : cases) {
    Bytes input(static_cast<std::size_t>(c.Length) + 1, 0x5A);
    Bytes expected = Concat({{0x00, 0x00, 0x00, 0x40, 0x5A}, c.Match});
    EXPECT_EQ(codec_test::Encode(input), expected) << "length " << c.Length;
  }
  // A run one longer than the longest match: the last byte is a 1-byte match at distance 1.
  EXPECT_EQ(codec_test::Encode(Bytes(8194, 0x5A)),
            (Bytes{0x00, 0x00, 0x00, 0x60, 0x5A, 0xF0, 0x00, 0x20, 0x00}));
}

TEST(CorvelStream, DistanceCodeBoundaries) {
  // Distance bytes after an unrepeated prefix: a 4-byte copy of the prefix's first bytes at
  // exactly the given distance ends the stream with its token (L = 3) and distance byte.
  struct Case {
    int Distance;
    Bytes Tail;
  };
  const Case cases[] = {{1, {0x30}},          {10, {0x39}},         {11, {0x3A, 0x0B}},
                        {255, {0x3A, 0xFF}},  {256, {0x3B, 0x00}},  {511, {0x3B, 0xFF}},
                        {512, {0x3C, 0x00}},  {1024, {0x3E, 0x00}}, {1279, {0x3E, 0xFF}},
                        {1280, {0x3F, 0x00}}, {1535, {0x3F, 0xFF}}};
  for (const Case& c : cases) {
    Bytes prefix =
        c.Distance == 1 ? Bytes{0x77} : Unrepeated(static_cast<std::size_t>(c.Distance), 3);
    Bytes input = prefix;
    for (int i = 0; i < 4; ++i)
      input.push_back(input[input.size() - static_cast<std::size_t>(c.Distance)]);
    Bytes stream = codec_test::Encode(input);
    ASSERT_GE(stream.size(), c.Tail.size());
    EXPECT_EQ(Bytes(stream.end() - static_cast<std::ptrdiff_t>(c.Tail.size()), stream.end()),
              c.Tail)
        << "distance " << c.Distance;
    EXPECT_EQ(stream, ref::Encode(input)) << "distance " << c.Distance;
  }
  // 1536 back is out of reach: the copy is all literals.
  Bytes input = Unrepeated(1536, 3);
  for (int i = 0; i < 4; ++i) input.push_back(input[input.size() - 1536]);
  Bytes stream = codec_test::Encode(input);
  EXPECT_EQ(stream, ref::Encode(input));
  EXPECT_EQ(stream.size(), input.size() + 4 * ((input.size() + 31) / 32));
}

TEST(CorvelStream, OneByteMatchesOnlyWithinTenBytes) {
  // "q" recurs 10 back (a 1-byte match costs one byte, like a literal) and then 11 back (a
  // literal: the match would cost two).
  Bytes ten = Of("q123456789q");
  Bytes stream = codec_test::Encode(ten);
  EXPECT_EQ(stream.back(), 0x09);
  EXPECT_EQ(stream[3], 0x00);
  EXPECT_EQ(stream[2], 0x20);  // item 10 is the match: bit 21
  Bytes eleven = Of("q1234567890q");
  EXPECT_EQ(codec_test::Encode(eleven), Concat({{0, 0, 0, 0}, eleven}));
}

TEST(CorvelStream, IncompressibleDataGrowsByAFlagWordPer32Bytes) {
  Bytes data = codec_test::RandomBytes(5000, 1);
  Bytes stream = codec_test::Encode(data);
  EXPECT_GT(stream.size(), 5000u + 4 * 157 - 100);
  EXPECT_LE(stream.size(), 5000u + 4 * 157);
}

TEST(CorvelEncoder, CallingOrderAtSliceBoundaries) {
  for (int size : {1, 100, 16383, 16384, 16385, 32767, 32768, 32769, 49152, 65537}) {
    Bytes data = codec_test::Text(static_cast<std::size_t>(size), static_cast<unsigned>(size));
    TCorvelEncode encoder;
    codec_test::EncodeRun run = codec_test::EncodeAll(encoder, data);
    EXPECT_TRUE(run.ResultsFit) << size;
    if (size > kCorvelSliceSize) {
      EXPECT_EQ(run.FirstResult, 0) << size;
    } else {
      EXPECT_EQ(run.Calls, 1) << size;
    }
    // One call per slice, plus the calls after the last slice that finish the window.
    EXPECT_LE(run.Calls, (size + kCorvelSliceSize - 1) / kCorvelSliceSize + 2) << size;
    EXPECT_EQ(run.Stream, ref::Encode(data)) << size;
    ExpectRoundTrip(data, "text of " + std::to_string(size));
  }
}

TEST(CorvelEncoder, ClosedOrFinishedEncoderReturnsNothing) {
  TCorvelEncode encoder;
  EXPECT_TRUE(encoder.Finished());
  EXPECT_FALSE(encoder.Opened());
  Byte one = 1;
  EXPECT_EQ(encoder.Encode(&one), 0);
  ASSERT_NE(encoder.Open(1), nullptr);
  EXPECT_FALSE(encoder.Finished());
  EXPECT_EQ(encoder.Encode(&one), 5);
  EXPECT_TRUE(encoder.Finished());
  EXPECT_EQ(encoder.Encode(&one), 0);
  EXPECT_EQ(encoder.Committed(), 5);
  EXPECT_TRUE(encoder.Close());
  EXPECT_TRUE(encoder.Close());
}

TEST(CorvelEncoder, RefusedSizesAndMissingInput) {
  std::int64_t before = heap_testing::LiveBlocks();
  TCorvelEncode encoder;
  EXPECT_EQ(encoder.Open(0), nullptr);
  EXPECT_EQ(encoder.Open(-5), nullptr);
  // The worst-case stream of this size would not fit in 31 bits.
  EXPECT_EQ(encoder.Open(INT32_MAX - 1000), nullptr);
  EXPECT_TRUE(encoder.Finished());
  EXPECT_EQ(heap_testing::LiveBlocks(), before);
  // A slice that is due but not given ends the encoder instead of reading through null.
  ASSERT_NE(encoder.Open(40000), nullptr);
  Bytes slice(kCorvelSliceSize, 7);
  EXPECT_EQ(encoder.Encode(slice.data()), 0);
  EXPECT_EQ(encoder.Encode(nullptr), 0);
  EXPECT_TRUE(encoder.Failed());
  EXPECT_TRUE(encoder.Finished());
  // Opening again starts afresh.
  ASSERT_NE(encoder.Open(3), nullptr);
  EXPECT_FALSE(encoder.Failed());
  EXPECT_EQ(encoder.Encode("abc"), 7);
}

TEST(CorvelEncoder, SameStreamsAsThePlainSearch) {
  struct Input {
    std::string Name;
    Bytes Data;
  };
  std::vector<Input> inputs;
  for (std::size_t size : {std::size_t{2}, std::size_t{3}, std::size_t{33}, std::size_t{1536},
                           std::size_t{16383}, std::size_t{16385}})
    inputs.push_back({"text " + std::to_string(size), codec_test::Text(size, 17)});
  inputs.push_back({"source code", codec_test::SourceCode(70000)});
  inputs.push_back({"program bytes", codec_test::ProgramBytes(40000, 4096)});
  inputs.push_back({"program bytes, later", codec_test::ProgramBytes(33000, 200000)});
  inputs.push_back({"runs", codec_test::Runs(60000, 2)});
  inputs.push_back({"random", codec_test::RandomBytes(20000, 3)});
  // Few symbols: long chains of candidates that share their first bytes.
  Bytes twoSymbols = codec_test::RandomBytes(30000, 4);
  for (auto& b : twoSymbols) b = 'a' + (b & 1);
  inputs.push_back({"two symbols", twoSymbols});
  Bytes fourSymbols = codec_test::RandomBytes(20000, 5);
  for (auto& b : fourSymbols) b &= 3;
  inputs.push_back({"four symbols", fourSymbols});
  // A period just inside and just outside the window, and runs that cross the slice edges.
  Bytes period = Unrepeated(1535, 6);
  Bytes periodic;
  while (periodic.size() < 20000) periodic.insert(periodic.end(), period.begin(), period.end());
  inputs.push_back({"period 1535", periodic});
  period.push_back(0xEE);
  periodic.clear();
  while (periodic.size() < 20000) periodic.insert(periodic.end(), period.begin(), period.end());
  inputs.push_back({"period 1536", periodic});
  Bytes edges = codec_test::Text(50000, 8);
  std::fill(edges.begin() + 16000, edges.begin() + 17000, 0x20);
  std::fill(edges.begin() + 32700, edges.begin() + 41000, 'z');
  inputs.push_back({"runs across slice edges", edges});

  for (const Input& in : inputs) {
    TCorvelEncode encoder;
    codec_test::EncodeRun run = codec_test::EncodeAll(encoder, in.Data);
    EXPECT_TRUE(run.ResultsFit) << in.Name;
    EXPECT_TRUE(run.Stream == ref::Encode(in.Data)) << in.Name;
    ExpectRoundTrip(in.Data, in.Name);
  }
}

// A match longer than the 2048 links the encoder keeps: the links of its last positions must be
// the ones found right after it (here the run's end is reached only through them), wherever the
// match starts in the ring and however far it runs past the ring's end.
TEST(CorvelEncoder, LinksWrittenPastTheRingAfterLongMatches) {
  for (std::size_t prefix : {std::size_t{1600}, std::size_t{2000}, std::size_t{2900}}) {
    for (std::size_t run :
         {std::size_t{3000}, std::size_t{4300}, std::size_t{8100}, std::size_t{9000}}) {
      Bytes data = Concat({codec_test::Text(prefix, 21), Bytes(run, 'z'), Of("Qzzzzzz7zzzzzzzzzR"),
                           codec_test::Text(9000, 22)});
      TCorvelEncode encoder;
      codec_test::EncodeRun encoded = codec_test::EncodeAll(encoder, data);
      EXPECT_TRUE(encoded.Stream == ref::Encode(data)) << prefix << " " << run;
    }
  }
}

TEST(CorvelEncoder, NewSearchMatchesThePlainSearch) {
  Bytes data = Concat({codec_test::Text(3000, 9), Bytes(2000, 'x'), codec_test::Runs(3000, 10)});
  TCorvelEncode encoder;
  const int size = static_cast<int>(data.size());
  for (int pos = 0; pos < size; pos += (pos < 40 || pos > size - 40) ? 1 : 37) {
    Word length = 0, distance = 0;
    encoder.NewSearch(data.data() + pos, pos, size, length, distance);
    ref::Match m = ref::PlainSearch(data.data(), pos, size);
    ASSERT_EQ(length, m.Length) << pos;
    ASSERT_EQ(distance, m.Distance) << pos;
  }
  EXPECT_EQ(TCorvelEncode::Search(reinterpret_cast<const Byte*>("abcdefghij"),
                                  reinterpret_cast<const Byte*>("abcdefgXij"), 10),
            7);
  EXPECT_EQ(TCorvelEncode::Search(reinterpret_cast<const Byte*>("abc"),
                                  reinterpret_cast<const Byte*>("abc"), 2),
            2);
}

TEST(CorvelRoundTrip, LargeInputsOfEveryKind) {
  ExpectRoundTrip(codec_test::Text(600000, 11), "text");
  ExpectRoundTrip(codec_test::SourceCode(400000), "source code");
  ExpectRoundTrip(codec_test::ProgramBytes(500000), "program bytes");
  ExpectRoundTrip(codec_test::Runs(700000, 12), "runs");
  ExpectRoundTrip(codec_test::RandomBytes(300000, 13), "random");
  ExpectRoundTrip(Bytes(1000000, 0), "zeros");
}

TEST(CorvelMemory, BuffersAreFixedWhateverTheSize) {
  std::int64_t before = heap_testing::LiveBlocks();
  heap_testing::ResetLargestRequest();
  Bytes data = codec_test::Runs(300000, 14);
  Bytes stream = codec_test::Encode(data);
  codec_test::DecodeRun run = codec_test::DecodeAll(stream, static_cast<std::int32_t>(data.size()));
  EXPECT_TRUE(run.Out == data);
  EXPECT_EQ(heap_testing::LargestRequest(), static_cast<std::size_t>(kCorvelWindowSize));
  EXPECT_EQ(heap_testing::LiveBlocks(), before);

  for (int failAfter : {0, 1}) {
    heap_testing::FailAfter(failAfter);
    TCorvelEncode encoder;
    TCorvelDecode decoder;
    EXPECT_EQ(encoder.Open(100), nullptr);
    heap_testing::FailAfter(failAfter);
    EXPECT_EQ(decoder.Open(100, 10), nullptr);
    heap_testing::FailAfter(-1);
    EXPECT_TRUE(encoder.Finished());
    EXPECT_TRUE(decoder.Finished());
    EXPECT_EQ(heap_testing::LiveBlocks(), before) << failAfter;
  }
}

TEST(CorvelEncoder, EncodersOnSeveralThreadsDoNotDisturbEachOther) {
  std::vector<Bytes> inputs = {codec_test::Text(120000, 20), codec_test::Runs(120000, 21),
                               codec_test::ProgramBytes(120000, 1000),
                               codec_test::SourceCode(120000)};
  std::vector<Bytes> alone;
  for (const Bytes& in : inputs) alone.push_back(codec_test::Encode(in));
  std::vector<Bytes> together(inputs.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < inputs.size(); ++i)
    threads.emplace_back([&, i] {
      for (int repeat = 0; repeat < 3; ++repeat) together[i] = codec_test::Encode(inputs[i]);
    });
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < inputs.size(); ++i) EXPECT_TRUE(together[i] == alone[i]) << i;
}

// ---- Whole-stream drivers
// --------------------------------------------------------------------------

// A source that gives out or a sink that refuses ends the run at once, with its own status, the
// codec closed and nothing asked of the source or handed to the sink afterwards.
TEST(CorvelDrivers, RunsEndWhereTheSourceOrTheSinkFails) {
  const Bytes data = codec_test::Text(200000, 40);
  const Bytes stream = codec_test::Encode(data);
  ASSERT_GT(stream.size(), 3u * kCorvelSliceSize);
  const auto size = static_cast<std::int32_t>(data.size());
  const auto stored = static_cast<std::int32_t>(stream.size());
  int asked = 0;
  int handed = 0;
  // The source fails on its third slice.
  auto source = [&](const Bytes& From) {
    return [&asked, &From](std::int64_t Offset, std::int32_t Count) -> const Byte* {
      return Count > 0 && ++asked == 3 ? nullptr : From.data() + Offset;
    };
  };
  auto keep = [&](const Byte*, std::int32_t) {
    ++handed;
    return true;
  };
  TCorvelEncode encoder;
  TCorvelRun run = CorvelEncodeAll(encoder, size, source(data), keep);
  EXPECT_EQ(run.Status, TCorvelStatus::SourceFailed);
  EXPECT_EQ(run.Consumed, 2 * kCorvelSliceSize);
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(encoder.Opened());

  asked = 0;
  TCorvelDecode decoder;
  run = CorvelDecodeAll(decoder, size, stored, source(stream), keep);
  EXPECT_EQ(run.Status, TCorvelStatus::SourceFailed);
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(decoder.Opened());

  // The sink refuses its second piece.
  handed = 0;
  auto refuse = [&](const Byte*, std::int32_t Count) { return ++handed < 2 && Count > 0; };
  run = CorvelEncodeAll(encoder, data.data(), size, refuse);
  EXPECT_EQ(run.Status, TCorvelStatus::SinkFailed);
  EXPECT_EQ(handed, 2);
  handed = 0;
  run = CorvelDecodeAll(decoder, stream.data(), size, stored, refuse);
  EXPECT_EQ(run.Status, TCorvelStatus::SinkFailed);
  EXPECT_EQ(handed, 2);
  EXPECT_LT(run.Produced, size);

  // Sizes the codec refuses: neither source nor sink is called.
  asked = handed = 0;
  EXPECT_EQ(CorvelEncodeAll(encoder, 0, source(data), keep).Status, TCorvelStatus::NotOpened);
  EXPECT_EQ(CorvelDecodeAll(decoder, size, 0, source(stream), keep).Status,
            TCorvelStatus::NotOpened);
  EXPECT_EQ(asked + handed, 0);
}

// ---- The decoder and damaged streams ------------------------------------------------------------

TEST(CorvelDecoder, SmallStreamsAreLoadedOnceAndLargeOnesAsked) {
  Bytes data = codec_test::RandomBytes(14000, 30);
  Bytes stream = codec_test::Encode(data);
  ASSERT_LE(stream.size(), static_cast<std::size_t>(kCorvelSliceSize));
  codec_test::DecodeRun small = codec_test::DecodeAll(stream, 14000);
  EXPECT_EQ(small.InputCalls, 1);
  EXPECT_TRUE(small.Out == data);

  data = codec_test::RandomBytes(100000, 31);
  stream = codec_test::Encode(data);
  codec_test::DecodeRun large = codec_test::DecodeAll(stream, 100000);
  EXPECT_EQ(large.InputCalls,
            static_cast<int>((stream.size() + kCorvelSliceSize - 1) / kCorvelSliceSize));
  EXPECT_TRUE(large.Out == data);
}

TEST(CorvelDecoder, EveryCallHandsOutAtLeastTheHistoryOrTheRest) {
  Bytes data = codec_test::Text(200000, 32);
  Bytes stream = codec_test::Encode(data);
  TCorvelDecode decoder;
  const Byte* out = decoder.Open(200000, static_cast<std::int32_t>(stream.size()));
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(decoder.NeedInput());
  std::size_t next = 0;
  Bytes got;
  while (!decoder.Finished()) {
    std::int32_t n;
    if (decoder.NeedInput()) {
      n = decoder.Decode(stream.data() + next);
      next += kCorvelSliceSize;
    } else {
      n = decoder.Decode(nullptr);
    }
    ASSERT_TRUE(n == 0 || n >= kCorvelHistory || decoder.Finished()) << n;
    ASSERT_LE(n, kCorvelWindowSize - kCorvelHistory);
    got.insert(got.end(), out, out + n);
  }
  EXPECT_FALSE(decoder.Failed());
  EXPECT_TRUE(got == data);
  EXPECT_EQ(decoder.Decode(nullptr), 0);
}

TEST(CorvelDecoder, RefusesStreamsOutsideTheFormat) {
  struct Case {
    const char* Name;
    Bytes Stream;
    std::int32_t Size;
  };
  const Case cases[] = {
      {"match before the first byte", {0x00, 0x00, 0x00, 0x80, 0x00}, 4},
      {"match reaching one too far back", {0x00, 0x00, 0x00, 0x40, 0x61, 0x11}, 3},
      {"distance 0 from a far code", {0x00, 0x00, 0x00, 0x40, 0x61, 0x0A, 0x00}, 2},
      {"far distance before the first byte", {0x00, 0x00, 0x00, 0x40, 0x61, 0x0F, 0xFF}, 2},
      {"length past the decoded size", {0x00, 0x00, 0x00, 0x40, 0x61, 0x80}, 5},
      {"long length past the decoded size",
       {0x00, 0x00, 0x00, 0x40, 0x61, 0xF0, 0xFF, 0xFF},
       60000},
      {"length 0", {0x00, 0x00, 0x00, 0x40, 0x61, 0xE0, 0x00}, 5},
      {"two-byte length 0", {0x00, 0x00, 0x00, 0x40, 0x61, 0xF0, 0x00, 0x00}, 5},
      {"items past the stored size", {0x00, 0x00, 0x00, 0x00, 0x61, 0x62}, 3},
      {"flag word cut short", {0x00, 0x00, 0x00}, 1},
      {"length bytes cut short", {0x00, 0x00, 0x00, 0x40, 0x61, 0xF0, 0x10}, 100},
      {"distance byte cut short", {0x00, 0x00, 0x00, 0x40, 0x61, 0x1A}, 3},
      {"next flag word missing", Concat({{0, 0, 0, 0}, Bytes(32, 'a')}), 33},
  };
  for (const Case& c : cases) {
    codec_test::DecodeRun run = codec_test::DecodeAll(c.Stream, c.Size);
    EXPECT_TRUE(run.Failed) << c.Name;
  }
}

TEST(CorvelDecoder, RefusesDistanceZeroDeepInALongStream) {
  // Far from the stream's ends the decoder runs its quick loop; a far distance code with a zero
  // distance byte must be refused there too, for every length in the token and with a length byte.
  auto literalGroups = [](int Groups) {
    Bytes out;
    for (int g = 0; g < Groups; ++g) {
      out.insert(out.end(), {0, 0, 0, 0});
      for (int i = 0; i < 32; ++i) out.push_back(static_cast<Byte>('a' + (g + i) % 26));
    }
    return out;
  };
  for (Byte lengthCode = 0; lengthCode <= 14; ++lengthCode) {
    Bytes damaged = {0x00, 0x00, 0x00, 0x80, static_cast<Byte>(lengthCode << 4 | 0x0A)};
    if (lengthCode == 14) damaged.push_back(40);
    damaged.push_back(0x00);  // distance 0
    Bytes stream = Concat({literalGroups(200), damaged, Bytes(31, 'z'), literalGroups(200)});
    // The size the stream would decode to if the match were taken.
    const std::int32_t length = lengthCode == 14 ? 40 : lengthCode + 1;
    codec_test::DecodeRun run = codec_test::DecodeAll(stream, 400 * 32 + 31 + length);
    EXPECT_TRUE(run.Failed) << "length code " << int(lengthCode);
  }
}

// Follows the decoder's own calling order over Stream, handing each slice in a buffer of its exact
// size. Overran is set when a call hands out more than what is left of the decoded size: a caller
// copying into a buffer of that size would write past it.
struct DirectRun {
  Bytes Out;
  bool Failed = false;
  bool Overran = false;
};

DirectRun DecodeDirect(const Bytes& Stream, std::int32_t DecodedSize) {
  DirectRun run;
  TCorvelDecode decoder;
  const Byte* out = decoder.Open(DecodedSize, static_cast<std::int32_t>(Stream.size()));
  if (!out) return {{}, true, false};
  std::size_t next = 0;
  Bytes slice;
  for (int call = 0; call < 1000 && !decoder.Finished(); ++call) {
    const Byte* source = nullptr;
    if (decoder.NeedInput()) {
      const std::size_t count = std::min<std::size_t>(kCorvelSliceSize, Stream.size() - next);
      slice.assign(Stream.begin() + static_cast<std::ptrdiff_t>(next),
                   Stream.begin() + static_cast<std::ptrdiff_t>(next + count));
      next += count;
      source = slice.data();
    }
    const std::int32_t n = decoder.Decode(source);
    if (n > DecodedSize - static_cast<std::int32_t>(run.Out.size())) run.Overran = true;
    run.Out.insert(run.Out.end(), out, out + n);
  }
  run.Failed = decoder.Failed() || !decoder.Finished();
  return run;
}

Bytes FromHex(const std::string& Hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < Hex.size(); i += 2)
    out.push_back(static_cast<Byte>(std::stoi(Hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(CorvelDecoder, ShortMatchEndingPastTheDecodedSizeIsRefusedOnEveryPath) {
  // Found in the wild: three literal groups, then 24 literals and a 13-byte match that ends one
  // byte past the decoded size of 132, with the stream long enough for the quick loop.
  const Bytes found = FromHex(
      "0000000096ec11838f222633e6ccdba1e9e1234941ef7b64ca6b60b570206281a29ae8e2000000000d65ce3e87"
      "a41a359688e63dbb7cf4bc7d1edd736f802076b6471629a64bd7cf00001000699787e8b35ad4ef86d5ab006847"
      "ad1be3a222dd0b14510ad59da34c120ea0b2800000009b1b061eea98ba43da61d451901c81a715847b99ef3aaa"
      "f5c1a20e1440000000c2b4e191");
  ASSERT_EQ(found.size(), 148u);
  DirectRun direct = DecodeDirect(found, 132);
  EXPECT_FALSE(direct.Overran);
  EXPECT_TRUE(direct.Failed);
  EXPECT_TRUE(codec_test::DecodeAll(found, 132).Failed);

  // The same shape everywhere: Groups whole groups of literals, then Run literals and a short
  // match of Length at distance 1, then padding (so that the item lies within the quick loop's
  // reach of the input). Told one byte less than the stream decodes to (so that the match starts
  // within the size and runs one byte past it), the decoder refuses it without handing out a byte
  // too many, whether called directly or through the driver; told the exact size, it decodes. The
  // group counts put the item in the first call, and just before, on and after a slice boundary.
  for (int groups : {1, 2, 511, 512, 513}) {
    for (int run = 0; run < 32; ++run) {
      for (int length = 2; length <= 14; ++length) {
        Bytes stream;
        Bytes expected;
        for (int g = 0; g < groups; ++g) {
          stream.insert(stream.end(), {0, 0, 0, 0});
          for (int i = 0; i < 32; ++i) stream.push_back(static_cast<Byte>('a' + (g + i) % 26));
        }
        const DWord flags = DWord{1} << (31 - run);
        stream.insert(stream.end(),
                      {static_cast<Byte>(flags), static_cast<Byte>(flags >> 8),
                       static_cast<Byte>(flags >> 16), static_cast<Byte>(flags >> 24)});
        for (int i = 0; i < run; ++i) stream.push_back(static_cast<Byte>('A' + i % 26));
        stream.push_back(static_cast<Byte>((length - 1) << 4));  // distance 1
        stream.insert(stream.end(), 64, 0);
        const auto size = static_cast<std::int32_t>(groups * 32 + run + length);
        const std::string where = "groups " + std::to_string(groups) + " run " +
                                  std::to_string(run) + " length " + std::to_string(length);
        DirectRun over = DecodeDirect(stream, size - 1);
        ASSERT_FALSE(over.Overran) << where;
        ASSERT_TRUE(over.Failed) << where;
        ASSERT_TRUE(codec_test::DecodeAll(stream, size - 1).Failed) << where;
        DirectRun exact = DecodeDirect(stream, size);
        ASSERT_FALSE(exact.Failed) << where;
        ASSERT_EQ(exact.Out.size(), static_cast<std::size_t>(size)) << where;
        ASSERT_EQ(exact.Out.back(), exact.Out[exact.Out.size() - 1 - length]) << where;
      }
    }
  }
}

TEST(CorvelDecoder, FailureEndsTheDecoderAndReturnsNothing) {
  Bytes stream = {0x00, 0x00, 0x00, 0x80, 0x00};
  TCorvelDecode decoder;
  ASSERT_NE(decoder.Open(4, 5), nullptr);
  EXPECT_FALSE(decoder.Failed());
  EXPECT_EQ(decoder.Decode(stream.data()), 0);
  EXPECT_TRUE(decoder.Failed());
  EXPECT_TRUE(decoder.Finished());
  EXPECT_FALSE(decoder.NeedInput());
  EXPECT_EQ(decoder.Decode(stream.data()), 0);
  // A failed decoder opens again as new.
  Bytes good = {0x00, 0x00, 0x00, 0x00, 0x41};
  const Byte* out = decoder.Open(1, 5);
  ASSERT_NE(out, nullptr);
  EXPECT_FALSE(decoder.Failed());
  EXPECT_EQ(decoder.Decode(good.data()), 1);
  EXPECT_EQ(out[0], 0x41);
}

TEST(CorvelDecoder, RefusesSizesThatDoNotFit) {
  std::int64_t before = heap_testing::LiveBlocks();
  TCorvelDecode decoder;
  for (auto [decoded, stored] :
       {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, 5}, std::pair{5, -1}}) {
    EXPECT_EQ(decoder.Open(decoded, stored), nullptr);
    EXPECT_TRUE(decoder.Failed());
    EXPECT_TRUE(decoder.Finished());
  }
  EXPECT_EQ(heap_testing::LiveBlocks(), before);

  Bytes data = codec_test::Text(50000, 40);
  Bytes stream = codec_test::Encode(data);
  const auto size = static_cast<std::int32_t>(data.size());
  const auto stored = static_cast<std::int32_t>(stream.size());
  // Told more bytes than the stream holds: it runs out of stream and fails.
  EXPECT_TRUE(codec_test::DecodeAll(stream, size + 1).Failed);
  EXPECT_TRUE(codec_test::DecodeAll(stream, size * 2).Failed);
  // Told a shorter stream: items run past the stored size.
  EXPECT_TRUE(codec_test::DecodeAll(stream, size, stored - 1).Failed);
  EXPECT_TRUE(codec_test::DecodeAll(stream, size, stored / 2).Failed);
  // Told fewer bytes: it stops there, with stream bytes left over.
  codec_test::DecodeRun shorter = codec_test::DecodeAll(stream, 1000);
  if (!shorter.Failed) {
    EXPECT_LT(shorter.Consumed, stored);
    EXPECT_TRUE(std::equal(shorter.Out.begin(), shorter.Out.end(), data.begin()));
    EXPECT_EQ(shorter.Out.size(), 1000u);
  }
}

TEST(CorvelDecoder, TruncatedAndDamagedStreamsNeverOverrun) {
  // Every run goes through buffers of their exact size, so the address sanitizer sees any read
  // past a slice; the decoder must end (failed or not) and never hand out more than the size.
  Bytes data = Concat({codec_test::Text(20000, 50), codec_test::Runs(20000, 51)});
  Bytes stream = codec_test::Encode(data);
  const auto size = static_cast<std::int32_t>(data.size());
  for (std::size_t cut = 0; cut < stream.size(); cut += 1 + cut / 50) {
    Bytes shortStream(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    codec_test::DecodeRun run = codec_test::DecodeAll(shortStream, size);
    ASSERT_TRUE(run.Failed) << "cut at " << cut;
    ASSERT_LE(run.Out.size(), data.size());
  }
  std::mt19937 rng(52);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes damaged = stream;
    for (int k = 0; k < 1 + trial % 4; ++k)
      damaged[rng() % damaged.size()] = static_cast<Byte>(rng());
    std::int32_t told = trial % 3 == 0 ? static_cast<std::int32_t>(rng() % 80000) + 1 : size;
    codec_test::DecodeRun run = codec_test::DecodeAll(damaged, told);
    ASSERT_LE(run.Out.size(), static_cast<std::size_t>(told));
    if (!run.Failed) {
      ASSERT_EQ(run.Out.size(), static_cast<std::size_t>(told));
    }
  }
}

TEST(CorvelDecoder, AgreesWithThePlainDecoderOnDamagedLongStreams) {
  // Damage deep inside long streams, where the decoder runs its quick loop over whole groups:
  // wherever the plain decoder accepts (with matches the encoder could write), the sliced decoder
  // gives the same bytes from the same stream bytes; wherever it refuses, so does the sliced one.
  Bytes data = Concat({codec_test::Text(60000, 70), codec_test::Runs(30000, 71),
                       codec_test::RandomBytes(20000, 72), codec_test::Text(40000, 73)});
  Bytes stream = codec_test::Encode(data);
  const auto size = static_cast<std::int32_t>(data.size());
  std::mt19937 rng(74);
  int accepted = 0, refused = 0;
  for (int trial = 0; trial < 200; ++trial) {
    Bytes damaged = stream;
    for (int k = 0; k < 1 + trial % 3; ++k)
      damaged[rng() % damaged.size()] = static_cast<Byte>(rng());
    Bytes expected;
    std::size_t consumed = 0;
    int longest = 0;
    bool plainOk = ref::Decode(damaged, size, expected, &consumed, &longest);
    if (plainOk && longest > kCorvelMaxLength) continue;  // the window decides those
    codec_test::DecodeRun run = codec_test::DecodeAll(damaged, size);
    ASSERT_EQ(run.Failed, !plainOk) << trial;
    if (plainOk) {
      ++accepted;
      ASSERT_EQ(run.Out, expected) << trial;
      ASSERT_EQ(run.Consumed, static_cast<std::int64_t>(consumed)) << trial;
    } else {
      ++refused;
    }
  }
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);
}

TEST(CorvelDecoder, MatchesLongerThanTheEncoderWritesFillTheWindowAndNoMore) {
  // A literal, a run of 16383 (a whole slice decoded), then a run that starts at the last
  // position a call can reach: 16384 bytes end exactly at the window's end; one more is refused.
  auto stream = [](int Second) {
    return Bytes{0x00,
                 0x00,
                 0x00,
                 0x60,
                 0x61,
                 0xF0,
                 0xFF,
                 0x3F,
                 0xF0,
                 static_cast<Byte>(Second),
                 static_cast<Byte>(Second >> 8)};
  };
  codec_test::DecodeRun fits = codec_test::DecodeAll(stream(16384), 1 + 16383 + 16384);
  EXPECT_FALSE(fits.Failed);
  EXPECT_EQ(fits.Out, Bytes(1 + 16383 + 16384, 0x61));
  EXPECT_TRUE(codec_test::DecodeAll(stream(16385), 1 + 16383 + 16385).Failed);
  // Lengths the encoder never writes are still fine where they fit.
  codec_test::DecodeRun longRun = codec_test::DecodeAll(stream(12000), 1 + 16383 + 12000);
  EXPECT_FALSE(longRun.Failed);
  EXPECT_EQ(longRun.Out.size(), 1u + 16383 + 12000);
}

TEST(CorvelDecoder, AgreesWithThePlainDecoderOnRandomStreams) {
  // Random flag words and items: wherever the plain decoder accepts the stream, the sliced
  // decoder gives the same bytes; wherever it refuses, the sliced one refuses too.
  std::mt19937 rng(60);
  int accepted = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes stream = codec_test::RandomBytes(4 + rng() % 200, static_cast<unsigned>(rng()));
    stream[3] = static_cast<Byte>(rng() & rng() & 0x3F);  // the first items literals, mostly
    std::int32_t size = 1 + static_cast<std::int32_t>(rng() % 400);
    Bytes expected;
    std::size_t consumed = 0;
    bool plainOk = ref::Decode(stream, size, expected, &consumed);
    codec_test::DecodeRun run = codec_test::DecodeAll(stream, size);
    ASSERT_EQ(run.Failed, !plainOk) << trial;
    if (plainOk) {
      ++accepted;
      ASSERT_EQ(run.Out, expected) << trial;
      ASSERT_EQ(run.Consumed, static_cast<std::int64_t>(consumed)) << trial;
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace ovelta

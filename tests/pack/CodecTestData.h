// Test inputs for the codec (generated text, source files of the tree, the running program's own
// bytes, runs, random bytes) and whole-buffer runs of CorvelEncodeAll and CorvelDecodeAll that
// record what the tests look at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pack/Corvel.h"

namespace ovelta::codec_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  Bytes out(Size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Word salad with a skewed word frequency, punctuation and line breaks: compresses like prose.
inline Bytes Text(std::size_t Size, unsigned Seed) {
  static const char* const kWords[] = {
      "the",       "of",      "and",      "to",          "in",        "a",        "is",
      "that",      "for",     "it",       "as",          "was",       "with",     "be",
      "by",        "on",      "not",      "he",          "this",      "are",      "or",
      "his",       "from",    "at",       "which",       "but",       "have",     "an",
      "had",       "they",    "you",      "were",        "their",     "one",      "all",
      "we",        "can",     "her",      "has",         "there",     "been",     "if",
      "more",      "when",    "will",     "would",       "who",       "so",       "no",
      "mailbox",   "server",  "password", "compression", "archive",   "window",   "distance",
      "length",    "literal", "message",  "connection",  "timestamp", "greeting", "member",
      "directory", "palette", "pattern"};
  constexpr std::size_t kCount = sizeof(kWords) / sizeof(kWords[0]);
  std::mt19937 rng(Seed);
  std::string text;
  std::size_t column = 0;
  while (text.size() < Size) {
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    std::string word = kWords[static_cast<std::size_t>(u * u * u * kCount) % kCount];
    if (rng() % 9 == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    if (rng() % 23 == 0) word += std::to_string(rng() % 1000);
    text += word;
    column += word.size() + 1;
    unsigned r = rng() % 16;
    text += r == 0 ? ". " : r == 1 ? ", " : " ";
    if (column > 72) {
      text += "\n";
      column = 0;
    }
  }
  text.resize(Size);
  return Bytes(text.begin(), text.end());
}

// The tree's own C++ sources, in name order, repeated to Size bytes.
inline Bytes SourceCode(std::size_t Size) {
  std::vector<std::filesystem::path> files;
  for (const char* dir : {"pack", "platform", "tests/pack", "tests/platform"}) {
    std::error_code ec;
    for (const auto& e :
         std::filesystem::directory_iterator(std::filesystem::path(MERLIG_SOURCE_DIR) / dir, ec))
      if (e.path().extension() == ".cpp" || e.path().extension() == ".h") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  Bytes all;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (all.empty()) all = Text(4096, 99);
  Bytes out;
  while (out.size() < Size)
    out.insert(out.end(), all.begin(),
               all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), Size - out.size())));
  return out;
}

// Machine code: the bytes of the running test program, from Offset on (wrapping round).
inline Bytes ProgramBytes(std::size_t Size, std::size_t Offset = 0) {
  std::ifstream in("/proc/self/exe", std::ios::binary);
  Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (all.empty()) all = RandomBytes(65536, 5);
  Bytes out(Size);
  for (std::size_t i = 0; i < Size; ++i) out[i] = all[(Offset + i) % all.size()];
  return out;
}

// Runs of one byte, repeated short patterns and random stretches, of random lengths.
inline Bytes Runs(std::size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  Bytes out;
  while (out.size() < Size) {
    std::size_t length = 1 + rng() % (rng() % 4 == 0 ? 20000 : 300);
    switch (rng() % 3) {
      case 0:
        out.insert(out.end(), length, static_cast<std::uint8_t>(rng()));
        break;
      case 1: {
        std::size_t period = 2 + rng() % 40;
        Bytes pattern = RandomBytes(period, static_cast<unsigned>(rng()));
        for (std::size_t i = 0; i < length; ++i) out.push_back(pattern[i % period]);
        break;
      }
      default: {
        Bytes noise = RandomBytes(length % 700, static_cast<unsigned>(rng()));
        out.insert(out.end(), noise.begin(), noise.end());
      }
    }
  }
  out.resize(Size);
  return out;
}

// Runs an encoder over Data with CorvelEncodeAll, each slice copied to a buffer of its exact size
// so that a read past a slice shows under the address sanitizer; the stream, or empty when the
// run fails. Records the calls, the first call's result and whether every result fitted the
// output buffer and the stream came out whole.
struct EncodeRun {
  Bytes Stream;
  int Calls = 0;
  std::int32_t FirstResult = -1;
  bool ResultsFit = true;
};

inline EncodeRun EncodeAll(TCorvelEncode& Encoder, const Bytes& Data) {
  EncodeRun run;
  Bytes slice;
  int calls = 0;  // the source is asked before every call
  const TCorvelRun result = CorvelEncodeAll(
      Encoder, static_cast<std::int32_t>(Data.size()),
      [&](std::int64_t Offset, std::int32_t Count) {
        ++calls;
        slice.assign(Data.begin() + Offset, Data.begin() + Offset + Count);
        return slice.data();
      },
      [&](const Byte* Out, std::int32_t Count) {
        if (run.FirstResult < 0) run.FirstResult = calls == 1 ? Count : 0;
        run.Stream.insert(run.Stream.end(), Out, Out + Count);
        return true;
      });
  run.Calls = result.Calls;
  if (run.FirstResult < 0) run.FirstResult = 0;
  // A result outside the output buffer or a stream not whole ends the run as a codec fault.
  run.ResultsFit = result.Status != TCorvelStatus::CodecFault;
  if (!result.Ok()) run.Stream.clear();
  return run;
}

inline Bytes Encode(const Bytes& Data) {
  TCorvelEncode encoder;
  return EncodeAll(encoder, Data).Stream;
}

// Runs a decoder over Stream with CorvelDecodeAll, told StoredSize stream bytes (Stream's size
// when negative; bytes past Stream are zeros). Failed is true when the run did not end Ok (the
// sizes refused or the stream outside the format); a fault of the codec (CodecFault: a call handed
// out more than the size left, say) fails the calling test as well, whatever it expects. Slices
// handed in are copied to buffers of their exact size, so that a read past a slice shows under the
// address sanitizer.
struct DecodeRun {
  Bytes Out;
  bool Failed = false;
  int InputCalls = 0;
  std::int64_t Consumed = 0;
};

inline DecodeRun DecodeAll(const Bytes& Stream, std::int32_t DecodedSize,
                           std::int32_t StoredSize = -1) {
  DecodeRun run;
  if (StoredSize < 0) StoredSize = static_cast<std::int32_t>(Stream.size());
  Bytes slice;
  TCorvelDecode decoder;
  const TCorvelRun result = CorvelDecodeAll(
      decoder, DecodedSize, StoredSize,
      [&](std::int64_t Offset, std::int32_t Count) {
        slice.assign(static_cast<std::size_t>(Count), 0);
        for (std::size_t i = 0; i < slice.size(); ++i)
          if (Offset + i < Stream.size()) slice[i] = Stream[Offset + i];
        ++run.InputCalls;
        return slice.data();
      },
      [&](const Byte* Out, std::int32_t Count) {
        run.Out.insert(run.Out.end(), Out, Out + Count);
        return true;
      });
  if (result.Status == TCorvelStatus::CodecFault)
    ADD_FAILURE() << "the decoder faulted after " << result.Calls << " calls, " << result.Produced
                  << " of " << DecodedSize << " bytes handed out";
  run.Failed = !result.Ok();
  run.Consumed = result.Consumed;
  return run;
}

}  // namespace ovelta::codec_test

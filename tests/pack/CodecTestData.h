// Test inputs for the codec (generated text, source files of the tree, the running program's own
// bytes, runs, random bytes) and drivers that run TCorvelEncode and TCorvelDecode in their calling
// order over whole buffers.
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

#include "pack/Ovpack.h"

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
      "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by",
      "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an",
      "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has", "there",
      "been", "if", "more", "when", "will", "would", "who", "so", "no", "mailbox", "server",
      "password", "compression", "archive", "window", "distance", "length", "literal", "message",
      "connection", "timestamp", "greeting", "member", "directory", "palette", "pattern"};
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
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(MERLIG_SOURCE_DIR) / dir, ec))
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
  while (out.size() < Size) out.insert(out.end(), all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), Size - out.size())));
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
      case 0: out.insert(out.end(), length, static_cast<std::uint8_t>(rng())); break;
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

// Drives an encoder over Data in its calling order; the stream, or empty when Open fails. Counts
// the calls and checks after each that the result fits the output buffer.
struct EncodeRun {
  Bytes Stream;
  int Calls = 0;
  std::int32_t FirstResult = -1;
  bool ResultsFit = true;
};

inline EncodeRun EncodeAll(TCorvelEncode& Encoder, const Bytes& Data) {
  EncodeRun run;
  const Byte* out = Encoder.Open(static_cast<std::int32_t>(Data.size()));
  if (!out) return run;
  std::size_t next = 0;
  while (!Encoder.Finished() && run.Calls < 1000000) {
    const Byte* slice = next < Data.size() ? Data.data() + next : nullptr;
    next += kCorvelSliceSize;
    std::int32_t n = Encoder.Encode(slice);
    if (run.Calls++ == 0) run.FirstResult = n;
    if (n < 0 || n > kCorvelOutputSize) run.ResultsFit = false;
    if (n > 0) run.Stream.insert(run.Stream.end(), out, out + n);
  }
  if (static_cast<std::size_t>(Encoder.Committed()) != run.Stream.size()) run.ResultsFit = false;
  Encoder.Close();
  return run;
}

inline Bytes Encode(const Bytes& Data) {
  TCorvelEncode encoder;
  return EncodeAll(encoder, Data).Stream;
}

// Drives a decoder over Stream in its calling order. Failed is true when Open failed or the decoder
// reported a failure. Slices handed in are copied to buffers of their exact size, so that a read
// past a slice shows under the address sanitizer.
struct DecodeRun {
  Bytes Out;
  bool Failed = false;
  int InputCalls = 0;
  std::int64_t Consumed = 0;
};

inline DecodeRun DecodeAll(const Bytes& Stream, std::int32_t DecodedSize, std::int32_t StoredSize = -1) {
  DecodeRun run;
  if (StoredSize < 0) StoredSize = static_cast<std::int32_t>(Stream.size());
  TCorvelDecode decoder;
  const Byte* out = decoder.Open(DecodedSize, StoredSize);
  if (!out) {
    run.Failed = true;
    return run;
  }
  std::size_t next = 0;
  for (int calls = 0; !decoder.Finished(); ++calls) {
    if (calls > 10000000) {
      run.Failed = true;  // an endless loop: the decoder must never make one
      return run;
    }
    std::int32_t n;
    if (decoder.NeedInput()) {
      std::size_t count = std::min<std::size_t>(kCorvelSliceSize, static_cast<std::size_t>(StoredSize) - std::min<std::size_t>(next, StoredSize));
      Bytes slice(count);
      for (std::size_t i = 0; i < count; ++i) slice[i] = next + i < Stream.size() ? Stream[next + i] : 0;
      next += count;
      ++run.InputCalls;
      n = decoder.Decode(slice.data());
    } else {
      n = decoder.Decode(nullptr);
    }
    if (n > 0) run.Out.insert(run.Out.end(), out, out + n);
  }
  run.Failed = decoder.Failed();
  run.Consumed = decoder.Consumed();
  decoder.Close();
  return run;
}

}  // namespace ovelta::codec_test

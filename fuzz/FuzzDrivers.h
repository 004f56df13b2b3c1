// Shared by the codec fuzz targets: run the decoder in its calling order over a stream, handing it
// each slice in a buffer of exactly the slice's size so that the address sanitizer sees any read
// past it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pack/Ovpack.h"

namespace ovelta::fuzz {

struct Decoded {
  std::vector<std::uint8_t> Out;
  bool Failed = false;
  std::int64_t Consumed = 0;
};

// Stream bytes past Size (when StoredSize is larger) are zeros.
inline Decoded DecodeStream(const std::uint8_t* Stream, std::size_t Size, std::int32_t DecodedSize,
                            std::int32_t StoredSize) {
  Decoded result;
  TCorvelDecode decoder;
  const Byte* out = decoder.Open(DecodedSize, StoredSize);
  if (!out) {
    result.Failed = true;
    return result;
  }
  std::size_t next = 0;
  for (long calls = 0; !decoder.Finished(); ++calls) {
    if (calls > 1000000) std::abort();  // the decoder must never loop without end
    std::int32_t n;
    if (decoder.NeedInput()) {
      std::size_t count = std::min<std::size_t>(kCorvelSliceSize, static_cast<std::size_t>(StoredSize) - next);
      std::vector<std::uint8_t> slice(count);
      for (std::size_t i = 0; i < count; ++i) slice[i] = next + i < Size ? Stream[next + i] : 0;
      next += count;
      n = decoder.Decode(slice.data());
    } else {
      n = decoder.Decode(nullptr);
    }
    if (n < 0 || n > kCorvelWindowSize - kCorvelHistory) std::abort();
    result.Out.insert(result.Out.end(), out, out + n);
    if (result.Out.size() > static_cast<std::size_t>(DecodedSize)) std::abort();
  }
  result.Failed = decoder.Failed();
  result.Consumed = decoder.Consumed();
  if (!result.Failed && result.Out.size() != static_cast<std::size_t>(DecodedSize)) std::abort();
  if (result.Consumed > StoredSize) std::abort();
  return result;
}

}  // namespace ovelta::fuzz

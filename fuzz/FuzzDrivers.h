// Shared by the codec fuzz targets: decode a stream with CorvelDecodeAll, handing the decoder each
// slice in a buffer of exactly the slice's size so that the address sanitizer sees any read past
// it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pack/Corvel.h"

namespace ovelta::fuzz {

struct Decoded {
  std::vector<std::uint8_t> Out;
  bool Failed = false;
  std::int64_t Consumed = 0;
};

// Runs CorvelDecodeAll over Stream (Size bytes; bytes past Size, when StoredSize is larger, are
// zeros). Aborts on a fault of the codec: a call handing out more than its buffer or than the
// size left, input asked past the stored size, calls without end, a finished run short of the
// decoded size, or more stream used than stored.
inline Decoded DecodeStream(const std::uint8_t* Stream, std::size_t Size, std::int32_t DecodedSize,
                            std::int32_t StoredSize) {
  Decoded result;
  std::vector<std::uint8_t> slice;
  TCorvelDecode decoder;
  const TCorvelRun run = CorvelDecodeAll(
      decoder, DecodedSize, StoredSize,
      [&](std::int64_t Offset, std::int32_t Count) {
        slice.assign(static_cast<std::size_t>(Count), 0);
        for (std::size_t i = 0; i < slice.size(); ++i)
          if (Offset + i < Size) slice[i] = Stream[Offset + i];
        return slice.data();
      },
      [&](const Byte* Out, std::int32_t Count) {
        result.Out.insert(result.Out.end(), Out, Out + Count);
        return true;
      });
  if (run.Status == TCorvelStatus::CodecFault) std::abort();
  result.Failed = !run.Ok();
  result.Consumed = run.Consumed;
  if (run.Status != TCorvelStatus::NotOpened && result.Consumed > StoredSize) std::abort();
  return result;
}

}  // namespace ovelta::fuzz

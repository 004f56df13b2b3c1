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

// The same stream through the decoder's own calling order, without the driver's checks between
// the calls, as code that must see each call uses it. Aborts on any call that hands out more than
// what is left of the decoded size or more than the window, on input asked past the stored size,
// on a call count past the driver's bound, and on a run that ends without failing short of the
// decoded size.
inline Decoded DecodeCalls(const std::uint8_t* Stream, std::size_t Size, std::int32_t DecodedSize,
                           std::int32_t StoredSize) {
  Decoded result;
  TCorvelDecode decoder;
  const Byte* out = decoder.Open(DecodedSize, StoredSize);
  if (!out) {
    result.Failed = true;
    return result;
  }
  const std::int64_t mostCalls = std::int64_t{StoredSize} / kCorvelSliceSize +
                                 std::int64_t{DecodedSize} / kCorvelSliceSize + 8;
  std::vector<std::uint8_t> slice;
  std::int64_t given = 0;
  for (std::int64_t calls = 0; !decoder.Finished(); ++calls) {
    if (calls >= mostCalls) std::abort();
    const Byte* source = nullptr;
    if (decoder.NeedInput()) {
      if (given >= StoredSize) std::abort();
      const std::int64_t count = std::min<std::int64_t>(kCorvelSliceSize, StoredSize - given);
      slice.assign(static_cast<std::size_t>(count), 0);
      for (std::size_t i = 0; i < slice.size(); ++i)
        if (given + static_cast<std::int64_t>(i) < static_cast<std::int64_t>(Size))
          slice[i] = Stream[given + static_cast<std::int64_t>(i)];
      given += count;
      source = slice.data();
    }
    const std::int32_t ready = decoder.Decode(source);
    const std::int64_t left = DecodedSize - static_cast<std::int64_t>(result.Out.size());
    if (ready < 0 || ready > left || ready > kCorvelWindowSize - kCorvelHistory) std::abort();
    result.Out.insert(result.Out.end(), out, out + ready);
  }
  result.Failed = decoder.Failed();
  result.Consumed = decoder.Consumed();
  if (!result.Failed && result.Out.size() != static_cast<std::size_t>(DecodedSize)) std::abort();
  return result;
}

}  // namespace ovelta::fuzz

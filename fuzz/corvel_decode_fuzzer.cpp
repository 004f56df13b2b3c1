// The Corvel decoder on arbitrary streams and sizes: it must never read or write outside its
// buffers, never loop without end, never hand out more than the decoded size (through the driver
// or called directly: a fault of the codec aborts), and wherever the plain decoder accepts the
// stream it must give the same bytes.
//
// Input: 3 bytes of decoded size (little-endian, the top two bits dropped: 0 to 4 MiB; with bit 22
// set, a size inside one of the stream's matches, chosen by the low 16 bits), 1 byte choosing the
// stored size (even: the stream's own length; odd: that length plus or minus a little), then the
// stream.
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "fuzz/FuzzDrivers.h"
#include "tests/pack/CorvelReference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 4) return 0;
  std::int32_t decodedSize = Data[0] | Data[1] << 8 | (Data[2] & 0x3F) << 16;
  const std::uint8_t storedChoice = Data[3];
  const std::uint8_t* stream = Data + 4;
  const std::size_t streamSize = Size - 4;
  std::int64_t stored = static_cast<std::int64_t>(streamSize);
  if (storedChoice & 1) stored += static_cast<std::int8_t>(storedChoice) / 2;
  if (stored > INT32_MAX) return 0;
  if (Data[2] & 0x40) {
    // Told a size that ends inside one of the stream's matches (the first two bytes choose which
    // and where), wherever it lies: near the stream's end or far from it, before or past a slice.
    // Such a match runs past the decoded size, and every path of the decoder must refuse it.
    ovelta::corvel_reference::Bytes bytes(stream, stream + streamSize);
    ovelta::corvel_reference::Bytes out;
    std::vector<std::pair<int, int>> matches;
    ovelta::corvel_reference::Decode(bytes, 1 << 22, out, nullptr, nullptr, &matches);
    if (matches.empty()) return 0;
    const unsigned choice = Data[0] | Data[1] << 8;
    const auto [begin, end] = matches[choice % matches.size()];
    if (end - begin < 2) return 0;
    decodedSize =
        begin + 1 + static_cast<std::int32_t>(choice % static_cast<unsigned>(end - begin - 1));
  }

  ovelta::fuzz::Decoded got = ovelta::fuzz::DecodeStream(stream, streamSize, decodedSize,
                                                         static_cast<std::int32_t>(stored));
  // Called directly, the decoder must hand out the same, and no call more than the size left.
  const ovelta::fuzz::Decoded direct =
      ovelta::fuzz::DecodeCalls(stream, streamSize, decodedSize, static_cast<std::int32_t>(stored));
  if (direct.Failed != got.Failed || (!got.Failed && direct.Out != got.Out)) std::abort();

  // The plain decoder sees the same bytes (zeros past the data up to the stored size).
  if (decodedSize >= 1 && stored >= 1 && decodedSize <= (1 << 20)) {
    ovelta::corvel_reference::Bytes bytes(
        stream, stream + std::min<std::int64_t>(stored, static_cast<std::int64_t>(streamSize)));
    bytes.resize(static_cast<std::size_t>(stored), 0);
    ovelta::corvel_reference::Bytes expected;
    std::size_t consumed = 0;
    int longest = 0;
    bool ok = ovelta::corvel_reference::Decode(bytes, decodedSize, expected, &consumed, &longest);
    // Beyond the plain decoder, the sliced one refuses only a match running past its window,
    // which needs a length over 16384.
    if (ok && got.Failed && longest <= ovelta::kCorvelSliceSize) std::abort();
    if (ok && !got.Failed &&
        (got.Out != expected || got.Consumed != static_cast<std::int64_t>(consumed)))
      std::abort();
    if (!ok && !got.Failed) std::abort();
  }
  return 0;
}

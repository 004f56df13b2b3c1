// Encode then decode any input and abort on any difference; the stream must also be byte for
// byte the plain search's stream (for inputs small enough to run that search on; longer ones are
// compared with the encoder's checked path, which the bulk path must match), fit the worst-case
// size, and go through TOvCompBuffer the same way.
//
// Input: the bytes to compress. A first byte of 0xFF repeats the rest up to 20 KiB, so that
// slice boundaries and long matches are reached from small inputs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/FuzzDrivers.h"
#include "pack/CompBuffer.h"
#include "pack/CorvelTesting_p.h"
#include "platform/core/Heap.h"
#include "tests/pack/CorvelReference.h"

namespace {

constexpr std::size_t kRepeatTo = 20 << 10;
constexpr std::size_t kPlainSearchMax = 1 << 10;

// The stream of In by CorvelEncodeAll, each slice in a buffer of its own exact size; aborts when
// the run does not end Ok.
std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& In) {
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> slice;
  ovelta::TCorvelEncode encoder;
  const ovelta::TCorvelRun run = ovelta::CorvelEncodeAll(
      encoder, static_cast<std::int32_t>(In.size()),
      [&](std::int64_t Offset, std::int32_t Count) {
        slice.assign(In.begin() + Offset, In.begin() + Offset + Count);
        return slice.data();
      },
      [&](const ovelta::Byte* Out, std::int32_t Count) {
        stream.insert(stream.end(), Out, Out + Count);
        return true;
      });
  if (!run.Ok() || static_cast<std::size_t>(run.Produced) != stream.size()) std::abort();
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  std::vector<std::uint8_t> in(Data, Data + Size);
  if (Data[0] == 0xFF && Size > 1) {
    in.clear();
    while (in.size() < kRepeatTo) in.insert(in.end(), Data + 1, Data + Size);
    in.resize(kRepeatTo);
  }
  const auto size = static_cast<std::int32_t>(in.size());

  std::vector<std::uint8_t> stream = Encode(in);
  if (stream.size() > in.size() + 4 * ((in.size() + 31) / 32)) std::abort();
  if (in.size() <= kPlainSearchMax) {
    if (stream != ovelta::corvel_reference::Encode(in)) std::abort();
  } else {
    ovelta::corvel_testing::SetBulkPath(false);
    const std::vector<std::uint8_t> checked = Encode(in);
    ovelta::corvel_testing::SetBulkPath(true);
    if (stream != checked) std::abort();
  }

  ovelta::fuzz::Decoded back = ovelta::fuzz::DecodeStream(stream.data(), stream.size(), size,
                                                          static_cast<std::int32_t>(stream.size()));
  if (back.Failed || back.Out != in || back.Consumed != static_cast<std::int64_t>(stream.size()))
    std::abort();

  ovelta::TOvCompBuffer comp;
  void* block = nullptr;
  std::int32_t blockSize = 0;
  ovelta::Word check = 0;
  if (!comp.EncodeBuffer(in.data(), size, block, blockSize, check)) std::abort();
  if (static_cast<std::size_t>(blockSize) != stream.size() ||
      std::memcmp(block, stream.data(), stream.size()) != 0)
    std::abort();
  void* decoded = nullptr;
  if (!comp.DecodeBuffer(block, blockSize, size, check, decoded)) std::abort();
  if (std::memcmp(decoded, in.data(), in.size()) != 0) std::abort();
  ovelta::GlobalFree(block);
  ovelta::GlobalFree(decoded);
  return 0;
}

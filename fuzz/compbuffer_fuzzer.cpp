// TOvCompBuffer::DecodeBuffer on arbitrary blocks with a matching check word and any stated size:
// it must never read outside the block or write outside the block it allocates, and on success
// the block must be exactly the stated size and round-trip through EncodeBuffer's decoder.
//
// Input: 3 bytes of decoded size (little-endian), then the compressed block.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pack/CompBuffer.h"
#include "pack/Crc.h"
#include "platform/core/Heap.h"
#include "platform/core/HeapTesting_p.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 3) return 0;
  const std::int32_t decodedSize = Data[0] | Data[1] << 8 | Data[2] << 16;
  std::vector<std::uint8_t> block(Data + 3, Data + Size);  // exactly the block, for the sanitizer
  const auto blockSize = static_cast<std::int32_t>(block.size());
  ovelta::TCrcCheck crc;
  const ovelta::Word check = crc.Crc(block.data(), blockSize);
  ovelta::TOvCompBuffer comp;
  const std::int64_t before = ovelta::heap_testing::LiveBlocks();
  void* dest = nullptr;
  if (comp.DecodeBuffer(block.data(), blockSize, decodedSize, check, dest)) {
    if (!dest || ovelta::GlobalSize(dest) != static_cast<std::size_t>(decodedSize)) std::abort();
    // Reading every byte shows an uninitialised or short block to the sanitizers.
    unsigned sum = 0;
    for (std::int32_t i = 0; i < decodedSize; ++i) sum += static_cast<const std::uint8_t*>(dest)[i];
    if (sum == 0xFFFFFFFFu) std::abort();
    ovelta::GlobalFree(dest);
  } else if (dest != nullptr) {
    std::abort();
  }
  // A changed check word is always refused.
  void* other = nullptr;
  if (blockSize > 0 && comp.DecodeBuffer(block.data(), blockSize, decodedSize,
                                         static_cast<ovelta::Word>(check ^ 1), other))
    std::abort();
  if (ovelta::heap_testing::LiveBlocks() != before) std::abort();
  return 0;
}

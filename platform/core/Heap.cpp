// The global heap on malloc: each block carries a small header with its size.
#include "platform/core/Heap.h"
#include "platform/core/HeapTesting_p.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ovelta {

namespace {

// Header in front of every block; 16 bytes keep the payload aligned for any scalar type.
struct alignas(16) BlockHeader {
  std::size_t Size;
  std::size_t Magic;
};
constexpr std::size_t kBlockMagic = 0x4F76486561704221ull;  // "OvHeapB!"
// Requests beyond this can never be met and would overflow the header arithmetic.
constexpr std::size_t kMaxBlockBytes = (std::size_t{1} << 46);

std::atomic<std::int64_t> gLiveBlocks{0};
std::atomic<std::size_t> gLargestRequest{0};
std::atomic<std::int64_t> gFailAfter{-1};

BlockHeader* HeaderOf(HGLOBAL Block) {
  return reinterpret_cast<BlockHeader*>(static_cast<char*>(Block) - sizeof(BlockHeader));
}

bool InjectedFailure() {
  std::int64_t left = gFailAfter.load();
  while (left >= 0) {
    if (left == 0) return true;
    if (gFailAfter.compare_exchange_weak(left, left - 1)) return false;
  }
  return false;
}

void NoteRequest(std::size_t Bytes) {
  std::size_t seen = gLargestRequest.load();
  while (Bytes > seen && !gLargestRequest.compare_exchange_weak(seen, Bytes)) {
  }
}

}  // namespace

HGLOBAL GlobalAlloc(unsigned Flags, std::size_t Bytes) {
  NoteRequest(Bytes);
  if (Bytes > kMaxBlockBytes || InjectedFailure()) return nullptr;
  void* raw = (Flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(BlockHeader) + Bytes)
                                      : std::malloc(sizeof(BlockHeader) + Bytes);
  if (!raw) return nullptr;
  auto* header = static_cast<BlockHeader*>(raw);
  header->Size = Bytes;
  header->Magic = kBlockMagic;
  ++gLiveBlocks;
  return header + 1;
}

HGLOBAL GlobalFree(HGLOBAL Block) {
  if (!Block) return nullptr;
  BlockHeader* header = HeaderOf(Block);
  if (header->Magic != kBlockMagic) std::abort();  // not a block of this heap: a caller's fault
  header->Magic = 0;
  std::free(header);
  --gLiveBlocks;
  return nullptr;
}

std::size_t GlobalSize(HGLOBAL Block) { return Block ? HeaderOf(Block)->Size : 0; }

HGLOBAL GlobalReAlloc(HGLOBAL Block, std::size_t Bytes, unsigned Flags) {
  if (!Block) return GlobalAlloc(Flags, Bytes);
  NoteRequest(Bytes);
  if (Bytes > kMaxBlockBytes || InjectedFailure()) return nullptr;
  BlockHeader* header = HeaderOf(Block);
  std::size_t oldSize = header->Size;
  void* raw = std::realloc(header, sizeof(BlockHeader) + Bytes);
  if (!raw) return nullptr;
  header = static_cast<BlockHeader*>(raw);
  header->Size = Bytes;
  if ((Flags & GMEM_ZEROINIT) && Bytes > oldSize)
    std::memset(reinterpret_cast<char*>(header + 1) + oldSize, 0, Bytes - oldSize);
  return header + 1;
}

void* GlobalLock(HGLOBAL Block) { return Block; }

bool GlobalUnlock(HGLOBAL Block) { return Block != nullptr; }

namespace heap_testing {
std::int64_t LiveBlocks() { return gLiveBlocks.load(); }
std::size_t LargestRequest() { return gLargestRequest.load(); }
void ResetLargestRequest() { gLargestRequest.store(0); }
void FailAfter(std::int64_t Count) { gFailAfter.store(Count < 0 ? -1 : Count); }
}  // namespace heap_testing

}  // namespace ovelta

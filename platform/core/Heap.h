// The global heap: the fixed blocks that library calls hand to each other (codec buffers, decoded
// members, palettes, pixel blocks, member handles, compressed buffers). Whoever receives a block
// releases it with GlobalFree. Blocks do not move: a "movable" block's handle is its address, and
// GlobalLock returns it unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

using HGLOBAL = void*;

inline constexpr unsigned GMEM_FIXED = 0x0000;
inline constexpr unsigned GMEM_MOVEABLE = 0x0002;
inline constexpr unsigned GMEM_ZEROINIT = 0x0040;
inline constexpr unsigned GPTR = GMEM_FIXED | GMEM_ZEROINIT;
inline constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A new block of Bytes bytes (zeroed with GMEM_ZEROINIT), or null when the memory cannot be had.
// A request of 0 bytes gives a valid block of size 0.
HGLOBAL GlobalAlloc(unsigned Flags, std::size_t Bytes);
// Releases a block from GlobalAlloc; null is accepted. Returns null on success, as the platform
// does.
HGLOBAL GlobalFree(HGLOBAL Block);
// The block's size in bytes; 0 for null.
std::size_t GlobalSize(HGLOBAL Block);
// Resizes a block, keeping its bytes up to the smaller size (new bytes zeroed with GMEM_ZEROINIT).
// Returns the new block, or null (the old block then stays valid and unchanged).
HGLOBAL GlobalReAlloc(HGLOBAL Block, std::size_t Bytes, unsigned Flags);
// Movable-block access: the address of the block's bytes (the block itself); null for null.
void* GlobalLock(HGLOBAL Block);
bool GlobalUnlock(HGLOBAL Block);

// Owns one global-heap block and frees it on destruction, unless Release hands it on.
class GlobalBlock {
 public:
  GlobalBlock() = default;
  explicit GlobalBlock(HGLOBAL Block) : FBlock(Block) {}
  ~GlobalBlock() { GlobalFree(FBlock); }
  GlobalBlock(GlobalBlock&& Other) noexcept : FBlock(Other.Release()) {}
  GlobalBlock& operator=(GlobalBlock&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

  HGLOBAL Get() const { return FBlock; }
  template <typename T> T* As() const { return static_cast<T*>(FBlock); }
  explicit operator bool() const { return FBlock != nullptr; }
  HGLOBAL Release() {
    HGLOBAL block = FBlock;
    FBlock = nullptr;
    return block;
  }
  void Reset(HGLOBAL Block = nullptr) {
    GlobalFree(FBlock);
    FBlock = Block;
  }

 private:
  HGLOBAL FBlock = nullptr;
};

}  // namespace ovelta

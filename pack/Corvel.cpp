// The Corvel codec: TCorvelEncode (window slides of 16384 bytes, greedy parse with the hash-chain
// match finder, one flag word per 32 items) and TCorvelDecode (stream slices of 16384 bytes, every
// item checked against the stream, the decoded size and its buffers before it is carried out).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>

#include "pack/Corvel.h"
#include "pack/CorvelMatch_p.h"
#include "pack/CorvelTesting_p.h"
#include "platform/core/Heap.h"

namespace ovelta {

namespace {

// Whether encoders take the bulk path; only a test switches it off.
std::atomic<bool> gBulkPath{true};

constexpr std::int32_t kSlice = kCorvelSliceSize;
constexpr std::int32_t kHistory = kCorvelHistory;
constexpr std::int32_t kGroupItems = 32;
constexpr DWord kFirstFlag = 0x80000000u;
constexpr std::uint64_t kStopBit = std::uint64_t{1} << 31;    // below a group's 32 flag bits
constexpr std::uint64_t kGroupDone = std::uint64_t{1} << 63;  // the stop bit alone, at the top
constexpr std::int32_t kFlagBytes = 4;
constexpr std::int32_t kInputMargin = 256;    // the decoder asks for input this far from the end
constexpr std::ptrdiff_t kLiteralStep = 32;   // literals are copied 32 at a time
constexpr std::ptrdiff_t kMatchStep = 16;     // matches are copied 16 bytes a step
constexpr std::ptrdiff_t kMaxMatchBytes = 4;  // token, two length bytes, a distance byte
// A flag word, a run of up to 32 literals and the match after it.
constexpr std::ptrdiff_t kQuickInput = kFlagBytes + kLiteralStep + kMaxMatchBytes;
constexpr std::int32_t kShortLengths = 14;    // L = 0..13: lengths 1..14 in the token
constexpr std::int32_t kByteLengthMax = 255;  // L = 14: one length byte
constexpr std::int32_t kNearDistances = 10;   // D = 0..9: distances 1..10 in the token
constexpr int kLengthByteCode = 14;
constexpr int kLengthWordCode = 15;
constexpr int kFarDistanceCode = 10;
constexpr std::int64_t kMaxStream = INT32_MAX;

// The largest stream the encoder writes for Size input bytes: every item at most as long as its
// input bytes, plus a flag word per 32 items.
std::int64_t WorstStream(std::int64_t Size) {
  return Size + kFlagBytes * ((Size + kGroupItems - 1) / kGroupItems);
}

void StoreFlagWord(Byte* At, DWord Flags) {
  At[0] = static_cast<Byte>(Flags);
  At[1] = static_cast<Byte>(Flags >> 8);
  At[2] = static_cast<Byte>(Flags >> 16);
  At[3] = static_cast<Byte>(Flags >> 24);
}

DWord ReadFlagWord(const Byte* At) {
  return static_cast<DWord>(At[0]) | static_cast<DWord>(At[1]) << 8 |
         static_cast<DWord>(At[2]) << 16 | static_cast<DWord>(At[3]) << 24;
}

// For a match at distance 1 to 7: the smallest whole number of periods that is 8 bytes or more.
constexpr std::ptrdiff_t kPeriodStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// Writes the token and extension bytes of a match at Out; returns the end.
Byte* WriteMatch(Byte* Out, std::int32_t Length, std::int32_t Distance) {
  int lengthCode = Length <= kShortLengths    ? Length - 1
                   : Length <= kByteLengthMax ? kLengthByteCode
                                              : kLengthWordCode;
  int distanceCode = Distance <= kNearDistances ? Distance - 1 : kFarDistanceCode + Distance / 256;
  *Out++ = static_cast<Byte>(lengthCode << 4 | distanceCode);
  if (lengthCode == kLengthWordCode) {
    *Out++ = static_cast<Byte>(Length);
    *Out++ = static_cast<Byte>(Length >> 8);
  } else if (lengthCode == kLengthByteCode) {
    *Out++ = static_cast<Byte>(Length);
  }
  if (distanceCode >= kFarDistanceCode) *Out++ = static_cast<Byte>(Distance);
  return Out;
}

// The first 8 bytes of a match at a distance of 1 to 7, one by one (each may read the one before).
[[gnu::always_inline]] inline void CopyPeriodStart(Byte* Dst, const Byte* Src) {
  Dst[0] = Src[0];
  Dst[1] = Src[1];
  Dst[2] = Src[2];
  Dst[3] = Src[3];
  Dst[4] = Src[4];
  Dst[5] = Src[5];
  Dst[6] = Src[6];
  Dst[7] = Src[7];
}

// Reads the match at In (all its bytes loaded) and carries it out at Dst, moving both past it. A
// match copies from First on and ends by FastLast when it can be copied in whole 16-byte steps
// (up to 15 bytes past it are written and later written over); one that ends later is copied byte
// by byte up to Last, or refused. False, with nothing written, on a distance of 0 or before First
// or a length of 0 or past Last.
[[gnu::always_inline]] inline bool ExpandMatch(const Byte*& In, Byte*& Dst, const Byte* First,
                                               const Byte* FastLast, const Byte* Last) {
  const Byte* in = In;
  Byte* const dst = Dst;
  const unsigned token = *in++;
  std::ptrdiff_t length = (token >> 4) + 1;
  std::ptrdiff_t distance = (token & 0x0F) + 1;
  if (length > kShortLengths) [[unlikely]] {
    if (length == kLengthWordCode + 1) {
      length = in[0] | in[1] << 8;
      in += 2;
    } else {
      length = *in++;
    }
  }
  if (distance > kNearDistances) distance = (distance - 1 - kFarDistanceCode) * 256 + *in++;
  // Distance 1 or more and within what was decoded (the unsigned form folds 0 into the range).
  if (static_cast<std::size_t>(distance - 1) >= static_cast<std::size_t>(dst - First)) [[unlikely]]
    return false;
  const Byte* const src = dst - distance;
  if (static_cast<std::size_t>(length - 1) < static_cast<std::size_t>(FastLast - dst)) [[likely]] {
    if (distance >= kMatchStep) [[likely]] {
      // The source is a whole step back: every byte a step reads is already written.
      std::ptrdiff_t i = 0;
      do {
        std::memcpy(dst + i, src + i, kMatchStep);
        i += kMatchStep;
      } while (i < length);
    } else if (distance >= 8) {
      // Two halves: with the source at least 8 back, the second half reads what the first wrote.
      std::ptrdiff_t i = 0;
      do {
        std::memcpy(dst + i, src + i, 8);
        std::memcpy(dst + i + 8, src + i + 8, 8);
        i += kMatchStep;
      } while (i < length);
    } else {
      // A short period: its first 8 bytes one by one, then 8-byte steps from a whole number of
      // periods back, at least 8.
      CopyPeriodStart(dst, src);
      const std::ptrdiff_t back = kPeriodStep[distance];
      for (std::ptrdiff_t i = 8; i < length; i += 8) std::memcpy(dst + i, dst + i - back, 8);
    }
  } else if (static_cast<std::size_t>(length - 1) < static_cast<std::size_t>(Last - dst)) {
    // A length of 1 or more that ends within the decoded size and the window.
    for (std::ptrdiff_t i = 0; i < length; ++i) dst[i] = src[i];
  } else {
    return false;
  }
  In = in;
  Dst = dst + length;
  return true;
}

// The quick loop's match, where every byte of the item is loaded and a copy of up to 16 bytes
// from Dst ends before FastLast (the loop's bound on the output ensures it). A token with a length
// byte or word goes to ExpandMatch, with every check; a short one (1 to 14 bytes) needs only its
// distance checked against what was decoded, and is copied without a loop.
[[gnu::always_inline]] inline bool QuickMatch(const Byte*& In, Byte*& Dst, const Byte* First,
                                              const Byte* FastLast, const Byte* Last) {
  const Byte* in = In;
  Byte* const dst = Dst;
  const unsigned token = *in;
  if ((token >> 4) >= kLengthByteCode) [[unlikely]]
    return ExpandMatch(In, Dst, First, FastLast, Last);
  ++in;
  const std::ptrdiff_t length = (token >> 4) + 1;
  std::ptrdiff_t distance = (token & 0x0F) + 1;
  if (distance > kNearDistances) {
    distance = (distance - 1 - kFarDistanceCode) * 256 + *in++;
    if (distance == 0) [[unlikely]]
      return false;
  }
  if (distance > dst - First) [[unlikely]]
    return false;
  const Byte* const src = dst - distance;
  if (distance >= kMatchStep) [[likely]] {
    std::memcpy(dst, src, kMatchStep);
  } else if (distance >= 8) {
    std::memcpy(dst, src, 8);
    std::memcpy(dst + 8, src + 8, 8);
  } else {
    // A short period: its first 8 bytes one by one, then 8 bytes from a whole number of periods
    // back (at least 8).
    CopyPeriodStart(dst, src);
    std::memcpy(dst + 8, dst + 8 - kPeriodStep[distance], 8);
  }
  In = in;
  Dst = dst + length;
  return true;
}

template <typename T> T* AllocBlock(std::int32_t Bytes) {
  return static_cast<T*>(GlobalAlloc(GPTR, static_cast<std::size_t>(Bytes)));
}

}  // namespace

// ---- Encoder ------------------------------------------------------------------------------------

TCorvelEncode::TCorvelEncode() = default;

TCorvelEncode::~TCorvelEncode() { Close(); }

void TCorvelEncode::FreeBuffers() {
  GlobalFree(FWindow);
  GlobalFree(FOutput);
  FWindow = nullptr;
  FOutput = nullptr;
  FFinder.reset();
}

bool TCorvelEncode::Close() {
  if (FOpen) {
    FreeBuffers();
    FOpen = false;
  }
  return true;
}

Byte* TCorvelEncode::Open(std::int32_t Size) {
  Close();
  FFinished = true;
  FFailed = false;
  if (Size < 1 || WorstStream(Size) > kMaxStream) return nullptr;
  FWindow = AllocBlock<Byte>(kCorvelWindowSize);
  FOutput = AllocBlock<Byte>(kCorvelOutputSize);
  if (!FFinder) FFinder.reset(new (std::nothrow) CorvelMatchFinder);
  if (!FWindow || !FOutput || !FFinder) {
    FreeBuffers();
    return nullptr;
  }
  FFinder->Reset();
  FOpen = true;
  FFinished = false;
  FTotal = Size;
  FSlicesLoaded = 0;
  FInputPos = 0;
  FOutBase = 0;
  FCommitted = 0;
  FWindowBase = 0;
  FFlagSlot = 0;
  FOutCount = kFlagBytes;
  FFlagWord = 0;
  FFlagMask = kFirstFlag;
  return FOutput;
}

std::int32_t TCorvelEncode::Encode(const void* Source) {
  if (!FOpen || FFinished) return 0;
  const auto* source = static_cast<const Byte*>(Source);

  // Bring the next slice into the window.
  if (FSlicesLoaded < 2) {
    std::int64_t remaining =
        static_cast<std::int64_t>(FTotal) - static_cast<std::int64_t>(kSlice) * FSlicesLoaded;
    std::int32_t count = static_cast<std::int32_t>(std::min<std::int64_t>(kSlice, remaining));
    if (!source) {
      FFailed = true;
      FFinished = true;
      return 0;
    }
    std::memcpy(FWindow + kHistory + kSlice * FSlicesLoaded, source,
                static_cast<std::size_t>(count));
    if (remaining > kSlice)
      ++FSlicesLoaded;
    else
      FSlicesLoaded = 2;
    if (FSlicesLoaded < 2) return 0;
  } else {
    std::memmove(FWindow, FWindow + kSlice, kCorvelWindowSize - kSlice);
    std::int64_t ahead = static_cast<std::int64_t>(FWindowBase) + 2 * kSlice;
    if (ahead < FTotal) {
      if (!source) {
        FFailed = true;
        FFinished = true;
        return 0;
      }
      std::int32_t count =
          static_cast<std::int32_t>(std::min<std::int64_t>(kSlice, FTotal - ahead));
      std::memcpy(FWindow + kHistory + kSlice, source, static_cast<std::size_t>(count));
    }
    FWindowBase += kSlice;
  }

  // Drop what the caller took last time; keep the open group.
  if (FCommitted > FOutBase) {
    std::memmove(FOutput, FOutput + (FCommitted - FOutBase),
                 static_cast<std::size_t>(FOutCount - FCommitted));
    FOutBase = FCommitted;
  }

  CorvelMatchFinder& finder = *FFinder;
  const std::int32_t total = FTotal;
  const std::int32_t base = FWindowBase;
  std::int32_t pos = FInputPos;
  const Byte* cur = FWindow + kHistory + (pos - base);
  Byte* out = FOutput + (FOutCount - FOutBase);
  Byte* flagSlot = FOutput + (FFlagSlot - FOutBase);
  DWord flags = FFlagWord;
  DWord mask = FFlagMask;
  // The loop stops after the item that reaches the end of the input or passes a slice beyond the
  // window's base; the group's flag word is stored once its 32 items are written, or at the end.
  const std::int32_t stop = total - base > kSlice ? base + kSlice + 1 : total;

  // One item. Every match the finder returns takes no more stream bytes than its literals would
  // (one byte only within ten bytes, two bytes for a length of two), so every one is written.
  // Bulk: pos has the whole reach (1535 bytes) behind it and kBulkAvail bytes or more ahead (most
  // of the input), so the search and the insertion need no bounds of their own.
  const auto item = [&]<bool Bulk>() {
    const std::int32_t left = total - pos;
    std::int32_t distance = 0;
    const std::int32_t length = finder.FindInsert<Bulk>(cur, pos, left, distance);
    if (length >= 1) {
      flags |= mask;
      out = WriteMatch(out, length, distance);
      if (Bulk)
        finder.InsertAll(cur + 1, pos + 1, length - 1);
      else
        finder.Insert(cur + 1, pos + 1, length - 1, left - 1);
      cur += length;
      pos += length;
    } else {
      *out++ = *cur;
      ++cur;
      ++pos;
    }
  };
  // Items that start from kCorvelMaxDistance to bulkStop - 1 are bulk items.
  const std::int32_t bulkStop = gBulkPath.load(std::memory_order_relaxed)
                                    ? std::min(stop, total - CorvelMatchFinder::kBulkAvail + 1)
                                    : 0;

  for (;;) {
    if (pos >= kCorvelMaxDistance && pos < bulkStop) [[likely]] {
      do {
        item.template operator()<true>();
        mask >>= 1;
      } while (mask != 0 && pos < bulkStop);
    } else {
      item.template operator()<false>();
      mask >>= 1;
    }
    if (mask != 0 && pos < stop) [[likely]]
      continue;

    const bool done = pos >= total;
    if (done || mask == 0) {
      StoreFlagWord(flagSlot, flags);
      FCommitted = FOutBase + static_cast<std::int32_t>(out - FOutput);
      if (!done) {
        flagSlot = out;
        out += kFlagBytes;
        flags = 0;
        mask = kFirstFlag;
      }
    }
    if (done) {
      FFinished = true;
      break;
    }
    if (pos >= stop) break;
  }

  FInputPos = pos;
  FOutCount = FOutBase + static_cast<std::int32_t>(out - FOutput);
  FFlagSlot = FOutBase + static_cast<std::int32_t>(flagSlot - FOutput);
  FFlagWord = flags;
  FFlagMask = mask;
  return FCommitted - FOutBase;
}

void TCorvelEncode::NewSearch(const Byte* Current, std::int32_t Position, std::int32_t Size,
                              Word& Length, Word& Distance) const {
  Length = 0;
  Distance = 0;
  std::int64_t left = static_cast<std::int64_t>(Size) - Position;
  if (Position < 0 || left <= 0) return;
  std::int32_t limit = static_cast<std::int32_t>(std::min<std::int64_t>(kCorvelMaxLength, left));
  std::int32_t farthest = std::min(Position, kCorvelMaxDistance);
  std::int32_t best = 0;
  for (std::int32_t d = 1; d <= farthest; ++d) {
    const Byte* cand = Current - d;
    if (cand[best] != Current[best]) continue;  // cannot beat the best so far
    std::int32_t len = corvel::MatchLength(cand, Current, limit);
    if (len > best) {
      best = len;
      Distance = static_cast<Word>(d);
      if (best == limit) break;
    }
  }
  Length = static_cast<Word>(best);
}

Word TCorvelEncode::Search(const Byte* A, const Byte* B, Word Count) {
  return static_cast<Word>(corvel::MatchLength(A, B, Count));
}

// ---- Decoder ------------------------------------------------------------------------------------

TCorvelDecode::TCorvelDecode() = default;

TCorvelDecode::~TCorvelDecode() { Close(); }

void TCorvelDecode::FreeBuffers() {
  GlobalFree(FInput);
  GlobalFree(FWindow);
  FInput = nullptr;
  FWindow = nullptr;
}

bool TCorvelDecode::Close() {
  if (FOpen) {
    FreeBuffers();
    FOpen = false;
  }
  return true;
}

void TCorvelDecode::Fail() {
  FFailed = true;
  FFinished = true;
  FNeedInput = false;
}

Byte* TCorvelDecode::Open(std::int32_t DecodedSize, std::int32_t StoredSize) {
  Close();
  FFinished = true;
  FNeedInput = false;
  FFailed = false;
  FDecodedSize = DecodedSize;
  FStoredSize = StoredSize;
  if (DecodedSize < 1 || StoredSize < 1) {
    FFailed = true;
    return nullptr;
  }
  FInput = AllocBlock<Byte>(kCorvelInputSize);
  FWindow = AllocBlock<Byte>(kCorvelWindowSize);
  if (!FInput || !FWindow) {
    FreeBuffers();
    return nullptr;
  }
  FOpen = true;
  FFinished = false;
  FNeedInput = true;
  FConsumed = 0;
  FLoaded = 0;
  FInputBase = 0;
  FProduced = 0;
  FOutBase = 0;
  FFlags = kGroupDone;  // the first item reads a flag word
  return FWindow + kHistory;
}

std::int32_t TCorvelDecode::Decode(const void* Source) {
  if (!FOpen || FFinished) return 0;

  if (FNeedInput) {
    std::int64_t unconsumed = FLoaded - FConsumed;
    if (unconsumed > 0)
      std::memmove(FInput, FInput + (FConsumed - FInputBase), static_cast<std::size_t>(unconsumed));
    FInputBase = FConsumed;
    if (FLoaded < FStoredSize) {
      std::int64_t count = std::min<std::int64_t>(kSlice, FStoredSize - FLoaded);
      if (!Source || unconsumed + count > kCorvelInputSize) {
        Fail();
        return 0;
      }
      std::memcpy(FInput + unconsumed, Source, static_cast<std::size_t>(count));
      FLoaded += count;
    }
    FNeedInput = false;
  }

  if (FProduced - FOutBase >= kHistory) {
    std::memmove(FWindow, FWindow + (FProduced - FOutBase), kHistory);
    FOutBase = FProduced;
  }

  if (!DecodeItems()) {
    Fail();
    return 0;
  }
  std::int64_t ready = FProduced - FOutBase;
  return (ready >= kHistory || FFinished) ? static_cast<std::int32_t>(ready) : 0;
}

// Runs items until the decoded size is reached, input is needed or a slice's worth is decoded.
// False on an item outside the format; nothing is read or written outside the buffers then.
bool TCorvelDecode::DecodeItems() {
  // Locals only in the loop: stores through byte pointers may alias any member.
  const Byte* const inStart = FInput + (FConsumed - FInputBase);
  const Byte* const inEnd = FInput + (FLoaded - FInputBase);
  const Byte* in = inStart;
  // Items that start before inFast have all their bytes loaded, with room for a 32-byte copy of
  // literals: while more stream is to come at least 256 bytes are loaded ahead of every item;
  // near the end of the whole stream the reads are checked one by one. After an item past inAsk
  // the decoder asks for the next slice.
  const bool allLoaded = FLoaded >= FStoredSize;
  const Byte* const inAsk = allLoaded ? inEnd : inEnd - kInputMargin;
  const Byte* const inFast = inEnd - FInput > kLiteralStep ? inEnd - kLiteralStep : FInput;
  // Before inQuick a flag word, a whole run of literals copied 32 at a time and the match after it
  // all end by inAsk, so none of their reads needs a check and none ends the call (never true
  // when fewer bytes are loaded).
  const Byte* const inQuick = inAsk - std::min<std::ptrdiff_t>(kQuickInput - 1, inAsk - FInput);

  Byte* const window = FWindow;
  Byte* const windowEnd = window + kCorvelWindowSize;
  Byte* const outStart = window + kHistory;
  Byte* dst = outStart + (FProduced - FOutBase);
  const std::int64_t decodedLeft = FDecodedSize - FProduced;
  // The loop stops once the decoded size is reached or more than a slice has been decoded since
  // the last hand-out; so every item starts within a slice of outStart, and 32 literal bytes
  // always fit in the window.
  const std::int64_t sliceLeft = FOutBase + kSlice + 1 - FProduced;
  Byte* const dstStop = dst + std::min(decodedLeft, sliceLeft);
  // Before dstQuick a whole run of literals and the 16-byte copy of the short match after it end
  // before dstStop, and so within the decoded size: the quick loop checks no length against it.
  Byte* const dstQuick = dstStop - (kLiteralStep + kMatchStep);
  // A match copies from first on (the first decoded byte, or the window's start once more than
  // the whole history has been decoded). It ends by fastLast when it can be copied in whole
  // 16-byte steps (the decoded size, or 16 bytes before the window's end); one that ends later
  // is either copied byte by byte (up to the window's end and the decoded size) or refused.
  const Byte* const first = FProduced >= dst - window ? window : dst - FProduced;
  const Byte* const fastLast =
      decodedLeft < windowEnd - kMatchStep - dst ? dst + decodedLeft : windowEnd - kMatchStep;
  const Byte* const last = decodedLeft < windowEnd - dst ? dst + decodedLeft : windowEnd;
  // The open group's flag word sits in the top half of flags, the next item's bit at the top,
  // with a stop bit below the group's last item: a run of literals is the count of leading zero
  // bits, and the group is done when only the stop bit is left, at the top.
  std::uint64_t flags = FFlags;
  bool ok = true;

  for (;;) {
    // The bulk of the stream: far from the ends of the loaded input and of the output, only the
    // distance and length of each match need a check.
    while (in < inQuick && dst < dstQuick) [[likely]] {
        if (flags == kGroupDone) {
          flags = static_cast<std::uint64_t>(ReadFlagWord(in)) << 32 | kStopBit;
          in += kFlagBytes;
        }
        // The run of literals before the next match, often none: taken without a branch, which
        // the mix of literals and matches would often mispredict.
        const std::ptrdiff_t run = __builtin_clzll(flags);  // 32 at most: the stop bit
        std::memcpy(dst, in, kLiteralStep);  // the bytes past the run are written over later
        dst += run;
        in += run;
        flags <<= run;
        if (flags == kGroupDone) continue;
        if (!QuickMatch(in, dst, first, fastLast, last)) [[unlikely]] {
          ok = false;
          break;
        }
        flags <<= 1;
      }
    if (!ok || dst >= dstStop || in > inAsk) break;

    // Near the ends: one item (or a run of literals and the match after it) with every read
    // checked.
    if (flags == kGroupDone) {
      if (in >= inFast && inEnd - in < kFlagBytes) [[unlikely]] {
        ok = false;
        break;
      }
      flags = static_cast<std::uint64_t>(ReadFlagWord(in)) << 32 | kStopBit;
      in += kFlagBytes;
    }
    if (static_cast<std::int64_t>(flags) >= 0) {
      // A run of literals: as many as the flag word has in a row (the stop bit ends the count at
      // the group's end), but no further than the first item after which the loop stops.
      std::ptrdiff_t run = __builtin_clzll(flags);  // flags is never 0: the stop bit
      run = std::min<std::ptrdiff_t>(run, dstStop - dst);
      run = in <= inAsk ? std::min<std::ptrdiff_t>(run, inAsk - in + 1) : 1;
      if (in < inFast) {
        std::memcpy(dst, in, kLiteralStep);
      } else {
        if (inEnd - in < run) {
          ok = false;
          break;
        }
        std::memcpy(dst, in, static_cast<std::size_t>(run));
      }
      dst += run;
      in += run;
      flags <<= run;
      if (dst >= dstStop || in > inAsk) break;
      if (flags == kGroupDone) continue;
    }
    // A match (the run above ends at one, or the flag bit says so).
    if (in >= inFast) {
      // Near the end of the stream: make sure the whole item is there.
      if (in >= inEnd) {
        ok = false;
        break;
      }
      std::ptrdiff_t need = 1 +
                            ((*in >> 4) == kLengthWordCode   ? 2
                             : (*in >> 4) == kLengthByteCode ? 1
                                                             : 0) +
                            ((*in & 0x0F) >= kFarDistanceCode ? 1 : 0);
      if (inEnd - in < need) {
        ok = false;
        break;
      }
    }
    if (!ExpandMatch(in, dst, first, fastLast, last)) {
      ok = false;
      break;
    }
    flags <<= 1;
    if (dst >= dstStop || in > inAsk) break;
  }
  // No item may end past the decoded size; should one have, nothing of this call is handed out.
  const std::int64_t made = (dst - outStart) - (FProduced - FOutBase);
  if (ok && made > decodedLeft) ok = false;
  if (ok && made == decodedLeft)
    FFinished = true;
  else if (ok && in > inAsk)
    FNeedInput = true;
  FConsumed += in - inStart;
  FProduced = FOutBase + (dst - outStart);
  FFlags = flags;
  return ok;
}

namespace corvel_testing {
bool SetBulkPath(bool Enabled) { return gBulkPath.exchange(Enabled); }
}  // namespace corvel_testing

}  // namespace ovelta

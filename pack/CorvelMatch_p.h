// The Corvel encoder's match finder: hash chains over the last 1535 input positions and a table
// of two-byte strings that give, at every position, exactly the match the plain search over all
// 1535 distances gives (the longest within the lookahead limit, and the nearest of those), at a
// small part of its cost.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "pack/Corvel.h"

namespace ovelta {

namespace corvel {

inline std::uint32_t Load32(const Byte* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

inline std::uint64_t Load64(const Byte* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// How many leading bytes, at most Limit, A and B share. Reads only bytes below A + Limit and
// B + Limit.
inline std::int32_t MatchLength(const Byte* A, const Byte* B, std::int32_t Limit) {
  std::int32_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (n + 8 <= Limit) {
      std::uint64_t x = Load64(A + n) ^ Load64(B + n);
      if (x != 0) return n + (std::countr_zero(x) >> 3);
      n += 8;
    }
  }
  while (n < Limit && A[n] == B[n]) ++n;
  return n;
}

}  // namespace corvel

// Every input position before the current one is in a chain of positions whose next three bytes
// hash alike, and is the latest position of its next two bytes until a later one takes its place.
// Chains are walked newest first, so the first candidate of a given length is the nearest; a
// position more than 1535 bytes back ends the walk (chain links only ever point further back).
// Positions are input positions, so nothing moves when the encoder's window slides.
//
// The table of two-byte strings keeps only the low 16 bits of each latest position. That is
// exact: a candidate it names within reach whose bytes do match is a position of that string,
// and any later one would have replaced it; a stale or aliased entry either points out of reach
// or fails the byte comparison. So the table needs no clearing between inputs.
struct CorvelMatchFinder {
  static constexpr int kHash3Bits = 14;
  static constexpr std::int32_t kRing = 2048;  // more than the farthest distance: links stay valid
  static constexpr std::int32_t kSpill = 64;   // links written past the ring's end, then moved
  static constexpr std::int32_t kEmpty = INT32_MIN;
  static constexpr std::int32_t kShortDistance = 10;  // a 1-byte match is only worth it this close
  // From this many input bytes on, every match limit is the longest match, and every position
  // inside a match has three bytes of input.
  static constexpr std::int32_t kBulkAvail = kCorvelMaxLength + 3;

  std::int32_t Head3[1 << kHash3Bits];
  std::int32_t Prev3[kRing + kSpill];  // the ring, and a spill for InsertAll
  std::uint16_t Last2[1 << 16];

  CorvelMatchFinder() {
    for (auto& h : Last2) h = 0;
    Reset();
  }

  // Forgets every position (before a new input).
  void Reset() {
    for (auto& h : Head3) h = kEmpty;
  }

  static unsigned Hash3(std::uint32_t Bytes) {
    return ((Bytes & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHash3Bits);
  }

  // Adds Count positions from Pos on, whose bytes start at Cur, with Avail input bytes from Pos to
  // the end. Reads Cur[0..Count+2]; the caller's buffer must hold them (bytes past the input are
  // not hashed).
  void Insert(const Byte* Cur, std::int32_t Pos, std::int32_t Count, std::int32_t Avail) {
    std::int32_t full = std::min(Count, Avail - 2);  // positions with three bytes of input
    for (std::int32_t i = 0; i < full; ++i) {
      std::uint32_t v = corvel::Load32(Cur + i);
      unsigned h = Hash3(v);
      Prev3[(Pos + i) & (kRing - 1)] = Head3[h];
      Head3[h] = Pos + i;
      Last2[v & 0xFFFFu] = static_cast<std::uint16_t>(Pos + i);
    }
    for (std::int32_t i = std::max(full, 0); i < Count && Avail - i >= 2; ++i)
      Last2[corvel::Load32(Cur + i) & 0xFFFFu] = static_cast<std::uint16_t>(Pos + i);
  }

  // Insert(Cur, Pos, Count, Avail) where every one of the Count positions has three bytes of
  // input. The links of most matches are written in a row from Pos's slot on, into the spill past
  // the ring's end if they reach it (what went there is then moved to the ring's start); those of
  // matches too long for the spill go through Insert.
  void InsertAll(const Byte* Cur, std::int32_t Pos, std::int32_t Count) {
    const std::int32_t slot = Pos & (kRing - 1);
    if (slot + Count > kRing + kSpill) [[unlikely]] {
      Insert(Cur, Pos, Count, Count + 2);
      return;
    }
    std::int32_t* const link = Prev3 + slot;
    for (std::int32_t i = 0; i < Count; ++i) {
      const std::uint32_t v = corvel::Load32(Cur + i);
      const unsigned h = Hash3(v);
      link[i] = Head3[h];
      Head3[h] = Pos + i;
      Last2[v & 0xFFFFu] = static_cast<std::uint16_t>(Pos + i);
    }
    const std::int32_t spilled = slot + Count - kRing;
    if (spilled > 0)
      std::memcpy(Prev3, Prev3 + kRing, static_cast<std::size_t>(spilled) * sizeof Prev3[0]);
  }

  // The match for position Pos (bytes at Cur, every earlier position inserted, Pos itself not yet),
  // after which Pos is inserted as Insert(Cur, Pos, 1, Avail) would: the longest of at most
  // min(Avail, 8192) bytes (Avail 1 or more) at a distance of 1 to min(Pos, 1535), the nearest
  // among equals. A match of one byte is looked for at distances 1 to 10 only (farther, the encoder
  // writes a literal anyway). Returns the length (0 for none) and sets Dist. Reads up to 4 bytes
  // from Cur and up to 1535 bytes before it.
  //
  // Bulk: the caller knows that Pos >= 1535 and Avail >= kBulkAvail, which fixes the reach and the
  // limit.
  template <bool Bulk>
  [[gnu::always_inline]] std::int32_t FindInsert(const Byte* Cur, std::int32_t Pos,
                                                 std::int32_t Avail, std::int32_t& Dist) {
    const std::int32_t reach = Bulk || Pos > kCorvelMaxDistance ? kCorvelMaxDistance : Pos;
    const std::int32_t lowest = Pos - reach;
    const std::int32_t Limit = Bulk || Avail >= kCorvelMaxLength ? kCorvelMaxLength : Avail;
    const std::uint32_t v = corvel::Load32(Cur);
    const std::uint32_t key = v & 0xFFFFu;
    // The chain head and the two-byte entry are read before Pos takes their place; the walk below
    // reads only links of earlier positions, which inserting Pos leaves alone (the ring is longer
    // than the reach).
    const std::uint16_t last2 = Last2[key];
    if (Bulk || Limit >= 3) {
      const unsigned h = Hash3(v);
      std::int32_t q = Head3[h];
      Prev3[Pos & (kRing - 1)] = q;
      Head3[h] = Pos;
      Last2[key] = static_cast<std::uint16_t>(Pos);
      std::int32_t best = 2;
      std::int32_t bestDist = 0;
      // A candidate can beat the best so far only if its bytes best - 3 to best agree (its first
      // three bytes while the best is 2): one compare of four bytes rejects most of them.
      // Candidate q's bytes start at address atPos + q, the compared ones at probeAt + q. (Plain
      // addresses: atPos itself may lie before the window, where no pointer may point.)
      const std::intptr_t atPos = reinterpret_cast<std::intptr_t>(Cur) - Pos;
      std::intptr_t probeAt = atPos;
      std::uint32_t probe = v & 0xFFFFFFu;
      std::uint32_t probeMask = 0xFFFFFFu;
      for (; q >= lowest; q = Prev3[q & (kRing - 1)]) {
        if ((corvel::Load32(reinterpret_cast<const Byte*>(probeAt + q)) & probeMask) != probe)
          continue;
        std::int32_t len =
            corvel::MatchLength(reinterpret_cast<const Byte*>(atPos + q), Cur, Limit);
        if (len > best) {
          best = len;
          bestDist = Pos - q;
          if (len >= Limit) break;
          probeAt = atPos + (best - 3);
          probeMask = 0xFFFFFFFFu;
          probe = corvel::Load32(Cur + (best - 3));
        }
      }
      if (bestDist != 0) {
        Dist = bestDist;
        return best;
      }
    } else if (Limit >= 2) {
      Last2[key] = static_cast<std::uint16_t>(Pos);
    }
    return FindShort<Bulk>(Cur, Pos, reach, Limit, key, last2, Dist);
  }

  // With no match of three bytes or more: a match of two bytes (from the table entry Last, read
  // before Pos was inserted) or of one.
  template <bool Bulk>
  static std::int32_t FindShort(const Byte* Cur, std::int32_t Pos, std::int32_t reach,
                                std::int32_t Limit, std::uint32_t key, std::uint16_t Last,
                                std::int32_t& Dist) {
    if (Bulk || Limit >= 2) {
      const std::int32_t d = static_cast<std::uint16_t>(Pos - Last);
      if (d >= 1 && d <= reach && (corvel::Load32(Cur - d) & 0xFFFFu) == key) {
        Dist = d;
        return 2;
      }
    }
    // The nearest equal byte among the ten before: the eight nearest at once (byte 7 of the word is
    // the byte at distance 1; a zero byte of x marks an equal one), then the two beyond.
    if ((Bulk || reach >= kShortDistance) && std::endian::native == std::endian::little) {
      const std::uint64_t x = corvel::Load64(Cur - 8) ^ (0x0101010101010101ull * Cur[0]);
      const std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
      const std::uint64_t zeros = ~(((x & low7) + low7) | x | low7);
      if (zeros != 0) {
        Dist = 8 - ((63 - std::countl_zero(zeros)) >> 3);
        return 1;
      }
      for (std::int32_t d = 9; d <= kShortDistance; ++d)
        if (Cur[-d] == Cur[0]) {
          Dist = d;
          return 1;
        }
      return 0;
    }
    const std::int32_t nearest = reach < kShortDistance ? reach : kShortDistance;
    for (std::int32_t d = 1; d <= nearest; ++d)
      if (Cur[-d] == Cur[0]) {
        Dist = d;
        return 1;
      }
    return 0;
  }
};

}  // namespace ovelta

// The plain Corvel encoder and decoder, written straight from the format with no speed tricks: the
// oracle the fast match finder and the sliced codec are checked against. The search compares the
// current byte and the bytes after it with every distance from 1535 down to 1, dropping a distance
// at its first difference, until none is left.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace ovelta::corvel_reference {

using Bytes = std::vector<std::uint8_t>;

struct Match {
  int Length = 0;
  int Distance = 0;
};

// The longest match for position Pos of Data (Size bytes): lookahead limit 8192 or what is left,
// distances 1 to min(Pos, 1535); of equal lengths, the smallest distance.
inline Match PlainSearch(const std::uint8_t* Data, int Pos, int Size) {
  const int limit = Size - Pos >= 8192 ? 8192 : Size - Pos;
  const int farthest = std::min(Pos, 1535);
  // The live distances, largest first; a distance that differs once is dropped for good.
  static thread_local std::vector<int> live;
  live.clear();
  for (int d = farthest; d >= 1; --d) live.push_back(d);
  Match found;
  for (int j = 0; j < limit && !live.empty(); ++j) {
    std::size_t kept = 0;
    int nearest = 0;
    for (int d : live)
      if (Data[Pos + j] == Data[Pos + j - d]) {
        live[kept++] = d;
        nearest = d;  // the list runs from far to near, so the last kept is the nearest
      }
    live.resize(kept);
    if (kept == 0) break;
    found.Length = j + 1;
    found.Distance = nearest;
  }
  return found;
}

inline int Cost(int Length, int Distance) {
  return 1 + (Length >= 256 ? 2 : Length >= 15 ? 1 : 0) + (Distance >= 11 ? 1 : 0);
}

// The whole stream for Data in one pass, greedy.
inline Bytes Encode(const std::uint8_t* Data, int Size) {
  Bytes out;
  std::size_t flagAt = 0;
  std::uint32_t flags = 0;
  int items = 0;
  auto openGroup = [&] {
    flagAt = out.size();
    out.insert(out.end(), 4, 0);
    flags = 0;
    items = 0;
  };
  auto closeGroup = [&] {
    for (int i = 0; i < 4; ++i) out[flagAt + i] = static_cast<std::uint8_t>(flags >> (8 * i));
  };
  openGroup();
  int pos = 0;
  while (pos < Size) {
    Match m = PlainSearch(Data, pos, Size);
    if (m.Length >= 1 && Cost(m.Length, m.Distance) <= m.Length) {
      flags |= 0x80000000u >> items;
      int l = m.Length <= 14 ? m.Length - 1 : m.Length <= 255 ? 14 : 15;
      int d = m.Distance <= 10 ? m.Distance - 1 : 10 + m.Distance / 256;
      out.push_back(static_cast<std::uint8_t>(l << 4 | d));
      if (l == 15) {
        out.push_back(static_cast<std::uint8_t>(m.Length & 0xFF));
        out.push_back(static_cast<std::uint8_t>(m.Length >> 8));
      } else if (l == 14) {
        out.push_back(static_cast<std::uint8_t>(m.Length));
      }
      if (d >= 10) out.push_back(static_cast<std::uint8_t>(m.Distance & 0xFF));
      pos += m.Length;
    } else {
      out.push_back(Data[pos]);
      ++pos;
    }
    ++items;
    if (items == 32 || pos == Size) {
      closeGroup();
      if (pos < Size) openGroup();
    }
  }
  return out;
}

inline Bytes Encode(const Bytes& Data) {
  return Encode(Data.data(), static_cast<int>(Data.size()));
}

// Expands a well-formed stream; returns false on anything outside the format. Consumed tells how
// many stream bytes the items took (bytes after the last item are not read); LongestMatch the
// longest match length met; Matches, when given, receives where each match carried out begins and
// ends in Out. On failure Out holds what was expanded before the item at fault.
inline bool Decode(const Bytes& Stream, int Size, Bytes& Out, std::size_t* Consumed = nullptr,
                   int* LongestMatch = nullptr,
                   std::vector<std::pair<int, int>>* Matches = nullptr) {
  if (LongestMatch) *LongestMatch = 0;
  Out.clear();
  std::size_t at = 0;
  auto next = [&](int& v) {
    if (at >= Stream.size()) return false;
    v = Stream[at++];
    return true;
  };
  while (static_cast<int>(Out.size()) < Size) {
    int b[4];
    for (int& v : b)
      if (!next(v)) return false;
    std::uint32_t flags = static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16) |
                          static_cast<std::uint32_t>(b[3]) << 24;
    for (int i = 0; i < 32 && static_cast<int>(Out.size()) < Size; ++i) {
      int token;
      if (!next(token)) return false;
      if (!(flags & (0x80000000u >> i))) {
        Out.push_back(static_cast<std::uint8_t>(token));
        continue;
      }
      int l = token >> 4, d = token & 15, length, distance, lo, hi;
      if (l == 15) {
        if (!next(lo) || !next(hi)) return false;
        length = lo | hi << 8;
      } else if (l == 14) {
        if (!next(length)) return false;
      } else {
        length = l + 1;
      }
      if (d >= 10) {
        if (!next(lo)) return false;
        distance = (d - 10) * 256 + lo;
      } else {
        distance = d + 1;
      }
      if (distance < 1 || distance > static_cast<int>(Out.size()) || length < 1 ||
          static_cast<int>(Out.size()) + length > Size)
        return false;
      if (LongestMatch && length > *LongestMatch) *LongestMatch = length;
      if (Matches) Matches->emplace_back(static_cast<int>(Out.size()), Out.size() + length);
      for (int k = 0; k < length; ++k)
        Out.push_back(Out[Out.size() - static_cast<std::size_t>(distance)]);
    }
  }
  if (Consumed) *Consumed = at;
  return true;
}

}  // namespace ovelta::corvel_reference

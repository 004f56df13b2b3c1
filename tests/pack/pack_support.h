// Helpers for the pack tests: a scratch directory that is also the current directory (temporary
// files of AddFile land there), whole-file reads and writes, and packs of every version built by
// hand, byte by byte, independently of the writer under test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "pack/Pack.h"
#include "platform/core/FileTime.h"
#include "platform/core/Streams.h"
#include "support/TempDir.h"

namespace ovelta::pack_test {

// A fresh directory, made the current directory for the object's lifetime.
class ScratchDir : public test::TempDir {
 public:
  ScratchDir() : TempDir(Use::kCurrent) {}
};

// Through the library's stream and with no sharing mode, so that a pack the library holds open
// with one (a share mode on Windows, which a plain fopen does not meet) can be read and written.
inline std::string ReadAll(const std::string& Path) {
  std::string bytes;
  try {
    TFileStream f(Path, fmOpenRead | fmShareDenyNone);
    char block[65536];
    for (std::int32_t n; (n = f.Read(block, sizeof block)) > 0;) bytes.append(block, n);
  } catch (const EStreamError&) {
  }
  return bytes;
}

inline void WriteAll(const std::string& Path, const std::string& Bytes) {
  try {
    TFileStream f(Path, fmCreate | fmShareDenyNone);
    f.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
  } catch (const EStreamError& e) {
    FAIL() << Path << ": " << e.Message();
  }
}

inline std::string RandomBytes(std::size_t Count, unsigned Seed) {
  std::mt19937 gen(Seed);
  std::string s(Count, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Text that compresses well but not trivially.
inline std::string TextBytes(std::size_t Count) {
  static const char* kWords[] = {"pack ",  "member ", "corvel ",    "stream ", "window ",
                                 "check ", "word\n",  "directory ", "entry ",  "offset "};
  std::string s;
  std::mt19937 gen(7);
  while (s.size() < Count) s += kWords[gen() % 10];
  s.resize(Count);
  return s;
}

inline Word Crc(const std::string& Bytes) {
  TCrcCheck crc;
  return crc.Crc(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
}

inline void PutLE(std::string& Out, std::uint64_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) Out.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

inline std::uint32_t GetLE(const std::string& In, std::size_t At, int Bytes) {
  std::uint32_t v = 0;
  for (int i = Bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(In.at(At + i));
  return v;
}

// The Corvel stream of Bytes (at least one byte), by the library's encoder.
inline std::string CorvelStream(const std::string& Bytes) {
  TCorvelEncode encoder;
  std::string stream;
  const TCorvelRun run = CorvelEncodeAll(
      encoder, Bytes.data(), static_cast<std::int32_t>(Bytes.size()),
      [&](const Byte* Out, std::int32_t Count) {
        stream.append(reinterpret_cast<const char*>(Out), static_cast<std::size_t>(Count));
        return true;
      });
  EXPECT_TRUE(run.Ok());
  return stream;
}

// The Corvel stream of Size (1 or more) zero bytes, written item by item without the encoder: a
// literal, then matches at distance 1 of at most 8192 bytes (three stream bytes each), so that a
// member of 2 GiB takes 800 KB and no time to make. The encoder gives the same stream.
inline std::string ZeroRunStream(std::int64_t Size) {
  std::vector<std::string> items = {std::string(1, '\0')};
  for (std::int64_t left = Size - 1; left > 0; left -= kCorvelMaxLength) {
    const auto length = static_cast<int>(std::min<std::int64_t>(left, kCorvelMaxLength));
    std::string item;
    if (length >= 256) {
      item.push_back(static_cast<char>(0xF0));
      PutLE(item, static_cast<std::uint64_t>(length), 2);
    } else if (length >= 15) {
      item = {static_cast<char>(0xE0), static_cast<char>(length)};
    } else {
      item.push_back(static_cast<char>((length - 1) << 4));
    }
    items.push_back(item);
  }
  std::string stream;
  for (std::size_t group = 0; group < items.size(); group += 32) {
    std::uint32_t flags = 0;
    const std::size_t end = std::min(items.size(), group + 32);
    for (std::size_t i = group; i < end; ++i)
      if (i > 0) flags |= 0x80000000u >> (i - group);
    PutLE(stream, flags, 4);
    for (std::size_t i = group; i < end; ++i) stream += items[i];
  }
  return stream;
}

// One member of a hand-built pack. Name and Ext go into the 21 + 3 name bytes as they are.
struct HandMember {
  std::string Name;
  std::string Ext;
  std::string Stored;                               // the bytes in the data area
  std::optional<std::int32_t> Size = std::nullopt;  // uncompressed size; none: Stored's size
  bool Comp = false;
  // Overrides for damaged entries.
  std::optional<std::uint32_t> Offset = std::nullopt;   // none: where the member was placed
  std::optional<std::int32_t> CompSize = std::nullopt;  // none: Stored's size
  std::uint64_t Time = 0x01D0000012345678ull;
};

// A pack of Version (0x0100, 0x0200 or 0x0300) holding Members in order, each padded to 16. For
// version 3 the entries carry check words and the file ends with the whole-pack check word.
inline std::string HandPack(Word Version, const std::vector<HandMember>& Members,
                            std::int64_t DataSizeOverride = -1, std::int64_t CountOverride = -1) {
  std::string data;
  std::vector<std::int64_t> offsets;
  for (const auto& m : Members) {
    offsets.push_back(static_cast<std::int64_t>(data.size()));
    data += m.Stored;
    data.append((16 - data.size() % 16) % 16, '\0');
  }
  std::string file = "OvPack";
  PutLE(file, Version, 2);
  PutLE(file,
        static_cast<std::uint64_t>(DataSizeOverride >= 0 ? DataSizeOverride
                                                         : static_cast<std::int64_t>(data.size())),
        4);
  PutLE(file,
        static_cast<std::uint64_t>(CountOverride >= 0 ? CountOverride
                                                      : static_cast<std::int64_t>(Members.size())),
        4);
  file += data;
  for (std::size_t i = 0; i < Members.size(); ++i) {
    const HandMember& m = Members[i];
    std::string name = m.Name.substr(0, 21);
    name.resize(21, '\0');
    std::string ext = m.Ext.substr(0, 3);
    ext.resize(3, '\0');
    file += name + ext;
    PutLE(file, m.Offset ? *m.Offset : static_cast<std::uint64_t>(offsets[i]), 4);
    const std::int32_t size = m.Size.value_or(static_cast<std::int32_t>(m.Stored.size()));
    PutLE(file, static_cast<std::uint32_t>(size), 4);
    if (Version == kPackVersion1) continue;
    const std::int32_t comp_size = m.CompSize.value_or(static_cast<std::int32_t>(m.Stored.size()));
    PutLE(file, static_cast<std::uint32_t>(comp_size), 4);
    file.push_back(m.Comp ? 1 : 0);
    if (Version == kPackVersion2) {
      file += "\xEE\xEE\xEE";  // not read
      continue;
    }
    file.push_back(1);
    PutLE(file, Crc(m.Stored), 2);
    PutLE(file, m.Time, 8);
  }
  if (Version == kPackVersion3) PutLE(file, Crc(file), 2);
  return file;
}

}  // namespace ovelta::pack_test

// Benchmark corpora built at run time from files on the machine: text from /usr/share/doc (plain
// files as they are, gzip files expanded), machine code from /usr/bin, and random bytes. Each is
// cut to the size asked for and built once per process.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace ovelta::bench_corpus {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kCorpusBytes = 32u << 20;

inline Bytes ReadFile(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline Bytes Gunzip(const std::filesystem::path& Path) {
  Bytes out;
  gzFile f = gzopen(Path.c_str(), "rb");
  if (!f) return out;
  std::uint8_t buffer[65536];
  int n;
  while ((n = gzread(f, buffer, sizeof buffer)) > 0) out.insert(out.end(), buffer, buffer + n);
  gzclose(f);
  return out;
}

// Regular files under Root in path order; identical files (same size and first bytes) once only.
inline std::vector<std::filesystem::path> FilesUnder(const char* Root) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           Root, std::filesystem::directory_options::skip_permission_denied, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline void Fill(Bytes& Corpus, const Bytes& Piece,
                 std::set<std::pair<std::size_t, std::string>>& Seen) {
  if (Piece.empty() || Corpus.size() >= kCorpusBytes) return;
  auto key = std::make_pair(
      Piece.size(),
      std::string(Piece.begin(), Piece.begin() + static_cast<std::ptrdiff_t>(
                                                     std::min<std::size_t>(Piece.size(), 256))));
  if (!Seen.insert(key).second) return;
  Corpus.insert(Corpus.end(), Piece.begin(),
                Piece.begin() + static_cast<std::ptrdiff_t>(
                                    std::min(Piece.size(), kCorpusBytes - Corpus.size())));
}

// Text documents: no NUL bytes in them.
inline const Bytes& TextCorpus() {
  static const Bytes corpus = [] {
    Bytes out;
    std::set<std::pair<std::size_t, std::string>> seen;
    for (const auto& path : FilesUnder("/usr/share/doc")) {
      Bytes piece = path.extension() == ".gz" ? Gunzip(path) : ReadFile(path);
      if (std::find(piece.begin(), piece.end(), 0) != piece.end()) continue;
      Fill(out, piece, seen);
      if (out.size() >= kCorpusBytes) break;
    }
    return out;
  }();
  return corpus;
}

// Programs and libraries: executable files of /usr/bin.
inline const Bytes& BinaryCorpus() {
  static const Bytes corpus = [] {
    Bytes out;
    std::set<std::pair<std::size_t, std::string>> seen;
    for (const auto& path : FilesUnder("/usr/bin")) {
      Bytes piece = ReadFile(path);
      if (piece.size() < 4 || piece[0] != 0x7F || piece[1] != 'E') continue;  // ELF files only
      Fill(out, piece, seen);
      if (out.size() >= kCorpusBytes) break;
    }
    return out;
  }();
  return corpus;
}

inline const Bytes& RandomCorpus() {
  static const Bytes corpus = [] {
    std::mt19937_64 rng(20240601);
    Bytes out(kCorpusBytes);
    for (std::size_t i = 0; i + 8 <= out.size(); i += 8) {
      std::uint64_t v = rng();
      for (int k = 0; k < 8; ++k)
        out[i + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    return out;
  }();
  return corpus;
}

}  // namespace ovelta::bench_corpus

// Members read ahead for extraction, on worker threads with packs of their own.
#include "pack/PackReadAhead.h"

#include <algorithm>
#include <cstring>

#include "pack/CompBuffer.h"
#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "pack/OrderedWork_p.h"

namespace ovelta {

namespace {

// What decoding holds besides the two buffers: the decoder's window, slices and tables.
constexpr std::int64_t kDecodeFixedBytes = std::int64_t{512} << 10;

}  // namespace

// A worker's own view of the pack file; Usable when it opened and its directory is the caller's.
struct TMemberReadAhead::TWorkerPack {
  TOvPack Pack;
  TOvCompBuffer Codec;
  TCrcCheck Crc;
  bool Usable = false;
};

std::int64_t ReadAheadFootprint(const TOvFileTable3& Entry) {
  return std::int64_t{std::max(Entry.CompSize, 0)} + std::max(Entry.Size, 0) + kDecodeFixedBytes;
}

TMemberReadAhead::TMemberReadAhead(const TOvPack& Pack, std::vector<int> Indexes, int Workers,
                                   std::int64_t Budget, TReadAheadSink Sink)
    : FPath(Pack.PackName()),
      FIndexes(std::move(Indexes)),
      FDone(FIndexes.size()),
      FSink(std::move(Sink)) {
  const bool readable = Pack.PackOpen() && !FPath.empty() && Pack.CrcMode() == cmPackAll;
  for (int i = 0; readable && i < Pack.GetFileNum(); ++i)
    FDirectory.push_back(*Pack.GetFileEntry(i));
  for (std::size_t i = 0; i < FIndexes.size(); ++i) FDone[i].Index = FIndexes[i];
  const int workers = readable ? std::max(Workers, 0) : 0;
  FWorkerPacks.resize(static_cast<std::size_t>(workers));
  FWork = std::make_unique<TOrderedWork>(
      FIndexes.size(), workers, Budget,
      [this](std::size_t Job) -> std::int64_t {
        const int index = FIndexes[Job];
        if (index < 0 || static_cast<std::size_t>(index) >= FDirectory.size()) return -1;
        return ReadAheadFootprint(FDirectory[static_cast<std::size_t>(index)]);
      },
      [this](std::size_t Job, int Worker) { Read(Job, Worker); });
}

TMemberReadAhead::~TMemberReadAhead() { FWork.reset(); }

void TMemberReadAhead::Read(std::size_t Job, int Worker) {
  try {
    auto& worker = FWorkerPacks[static_cast<std::size_t>(Worker)];
    if (!worker) {
      worker = std::make_unique<TWorkerPack>();
      worker->Pack.SetCrcMode(cmNon);
      bool same = worker->Pack.LoadPack(FPath) &&
                  worker->Pack.GetFileNum() == static_cast<int>(FDirectory.size());
      for (std::size_t i = 0; same && i < FDirectory.size(); ++i)
        same = std::memcmp(worker->Pack.GetFileEntry(static_cast<int>(i)), &FDirectory[i],
                           sizeof(TOvFileTable3)) == 0;
      worker->Usable = same;
    }
    if (!worker->Usable) return;
    TOvPack& pack = worker->Pack;
    const int index = FIndexes[Job];
    const TOvFileTable3& entry = FDirectory[static_cast<std::size_t>(index)];
    // The raw handle: the entry is checked against the data area, nothing is decoded yet.
    OvFILE* handle = pack.OvfopenComp(pack.GetFileName(index), false);
    if (!handle) return;
    if (handle->Index != index) {
      // Shadowed by an earlier member of the same name: not reached by name, left to the caller.
      pack.Ovfclose(handle);
      return;
    }
    const bool compressed = pack.OvIsComp(handle) && entry.Size > 0;
    const std::int32_t stored = pack.OvIsComp(handle) ? pack.Ovdsize(handle) : pack.Ovfsize(handle);
    GlobalBlock bytes(stored > 0 ? GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(stored))
                                 : nullptr);
    const bool read =
        stored == 0 ||
        (bytes && pack.Ovfread(bytes.Get(), static_cast<unsigned>(stored), 1, handle) == 1);
    pack.Ovfclose(handle);
    if (!read) return;
    const Word crc = entry.CrcFlag != 0 || compressed ? worker->Crc.Crc(bytes.Get(), stored) : 0;
    if (entry.CrcFlag != 0 && crc != entry.Crc) return;
    TReadMember& member = FDone[Job];
    if (compressed) {
      void* decoded = nullptr;
      if (!worker->Codec.DecodeBuffer(bytes.Get(), stored, entry.Size, crc, decoded)) return;
      member.Data.Reset(decoded);
    } else {
      member.Data = std::move(bytes);
    }
    member.Size = entry.Size;
    member.Ready = true;
    if (FSink) FSink(Job, member);
  } catch (...) {
    FDone[Job].Data.Reset();  // memory: the caller reads it
    FDone[Job].Ready = false;
  }
}

TReadMember TMemberReadAhead::Take() {
  std::size_t job = 0;
  if (!FWork->Next(job)) return {};
  return std::move(FDone[job]);
}

std::int64_t TMemberReadAhead::PeakHeld() const { return FWork->PeakHeld(); }

int TMemberReadAhead::Workers() const { return FWork->Workers(); }

}  // namespace ovelta

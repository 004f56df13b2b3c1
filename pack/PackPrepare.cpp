// Members made ahead of AddPrepared, and the worker threads that make them.
#include "pack/PackPrepare.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "pack/Corvel.h"
#include "pack/OrderedWork_p.h"
#include "pack/Pack.h"

namespace ovelta {

std::int64_t PreparedFootprint(std::int64_t Size) {
  return 2 * std::max<std::int64_t>(Size, 0) + kPrepareFixedBytes;
}

TPreparedMember PrepareMember(const AnsiString& Path, bool Compress, std::int64_t MaxSize) {
  TPreparedMember member;
  try {
    member.Path = Path;
    member.Compress = Compress;
    TFileStream source(Path, fmOpenRead | fmShareDenyWrite);
    const std::int64_t size = source.Size();
    if (size < 0 || size > kPackMaxDataSize || size > MaxSize) return member;
    member.Size = static_cast<std::int32_t>(size);
    member.Time = source.LastWriteTime();
    auto raw = std::make_unique<TMemoryStream>();
    raw->SetSize(size);
    if (size > 0) source.ReadBuffer(raw->Memory(), member.Size);
    if (Compress && size > 0) {
      // The stream is kept only when smaller than the file: it is cut off once it is not.
      auto packed = std::make_unique<TMemoryStream>();
      packed->SetSize(size);
      auto* out = static_cast<Byte*>(packed->Memory());
      std::int64_t produced = 0;
      TCorvelEncode encoder;
      const TCorvelRun run = CorvelEncodeAll(
          encoder, raw->Memory(), member.Size, [&](const Byte* Data, std::int32_t Count) {
            if (produced + Count >= size) return false;
            std::memcpy(out + produced, Data, static_cast<std::size_t>(Count));
            produced += Count;
            return true;
          });
      if (run.Ok() && produced > 0 && produced < size) {
        packed->SetSize(produced);
        member.Comp = true;
        member.Stored = std::move(packed);
      }
    }
    if (!member.Stored) member.Stored = std::move(raw);
    member.Ready = true;
  } catch (...) {
    member.Stored.reset();
    member.Ready = false;
  }
  return member;
}

TMemberPreparer::TMemberPreparer(std::vector<TPrepareJob> Jobs, int Workers, std::int64_t Budget)
    : FJobs(std::move(Jobs)),
      FDone(FJobs.size()),
      FSize(FJobs.size(), -1),
      FWork(std::make_unique<TOrderedWork>(
          FJobs.size(), Workers, Budget,
          [this](std::size_t Job) -> std::int64_t {
            // The size decides the share; a file that cannot be looked at is left to AddFile.
            try {
              TFileStream probe(FJobs[Job].Path, fmOpenRead);
              FSize[Job] = probe.Size();
            } catch (...) {
              return -1;
            }
            return FSize[Job] < 0 ? -1 : PreparedFootprint(FSize[Job]);
          },
          [this](std::size_t Job, int) {
            FDone[Job] = PrepareMember(FJobs[Job].Path, FJobs[Job].Compress, FSize[Job]);
          })) {}

TMemberPreparer::~TMemberPreparer() = default;

TPreparedMember TMemberPreparer::Take() {
  std::size_t job = 0;
  if (!FWork->Next(job)) return {};
  TPreparedMember member = std::move(FDone[job]);
  if (member.Path.empty()) {
    member.Path = FJobs[job].Path;  // not prepared ahead
    member.Compress = FJobs[job].Compress;
  }
  return member;
}

std::int64_t TMemberPreparer::PeakHeld() const { return FWork->PeakHeld(); }

int TMemberPreparer::Workers() const { return FWork->Workers(); }

}  // namespace ovelta

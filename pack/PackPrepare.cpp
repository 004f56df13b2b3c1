// Members made ahead of AddPrepared, and the worker threads that make them.
#include "pack/PackPrepare.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>

#include "pack/Corvel.h"
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
      FCharge(FJobs.size(), 0),
      FReady(FJobs.size(), false),
      FBudget(Budget) {
  const int count = std::clamp<int>(Workers, 0, static_cast<int>(FJobs.size()));
  for (int i = 0; i < count; ++i) {
    try {
      FThreads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // run with the workers there are
    }
  }
}

TMemberPreparer::~TMemberPreparer() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  for (auto& t : FThreads) t.join();
}

void TMemberPreparer::Work() {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FStop && FNext < FJobs.size()) {
    const std::size_t index = FNext++;
    std::int64_t size = -1;
    {
      // The size decides the share; a file that cannot be looked at is left to AddFile.
      lock.unlock();
      try {
        TFileStream probe(FJobs[index].Path, fmOpenRead);
        size = probe.Size();
      } catch (...) {
        size = -1;
      }
      lock.lock();
    }
    const std::int64_t want = size < 0 ? 0 : PreparedFootprint(size);
    const std::int64_t charge = want > FBudget ? 0 : want;
    // Shares are granted in job order, so the member Take waits for is never starved by later ones.
    FChanged.wait(lock, [&] { return FStop || (FGrant == index && FHeld + charge <= FBudget); });
    if (FStop) break;
    FHeld += charge;
    FPeak = std::max(FPeak, FHeld);
    ++FGrant;
    FChanged.notify_all();
    lock.unlock();
    TPreparedMember member;
    if (charge > 0) {
      member = PrepareMember(FJobs[index].Path, FJobs[index].Compress, size);
    } else {
      member.Path = FJobs[index].Path;
      member.Compress = FJobs[index].Compress;
    }
    lock.lock();
    FDone[index] = std::move(member);
    FCharge[index] = charge;
    FReady[index] = true;
    FChanged.notify_all();
  }
}

TPreparedMember TMemberPreparer::Take() {
  std::unique_lock<std::mutex> lock(FLock);
  if (FTaken > 0 && FCharge[FTaken - 1] > 0) {
    FHeld -= FCharge[FTaken - 1];
    FCharge[FTaken - 1] = 0;
    FChanged.notify_all();
  }
  if (FTaken >= FJobs.size()) return {};
  const std::size_t index = FTaken++;
  if (FThreads.empty()) {
    TPreparedMember member;
    member.Path = FJobs[index].Path;
    member.Compress = FJobs[index].Compress;
    return member;
  }
  FChanged.wait(lock, [&] { return FReady[index]; });
  return std::move(FDone[index]);
}

std::int64_t TMemberPreparer::PeakHeld() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FPeak;
}

}  // namespace ovelta

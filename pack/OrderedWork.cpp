// Jobs on worker threads, taken in order within a budget of bytes held.
#include <algorithm>
#include <system_error>

#include "pack/OrderedWork_p.h"

namespace ovelta {

TOrderedWork::TOrderedWork(std::size_t Jobs, int Workers, std::int64_t Budget,
                           TChargeFunction Charge, TRunFunction Run)
    : FJobs(Jobs),
      FBudget(Budget),
      FCharge(std::move(Charge)),
      FRun(std::move(Run)),
      FHeldBy(Jobs, 0),
      FDone(Jobs, false) {
  const int count = static_cast<int>(std::min<std::size_t>(std::max(Workers, 0), Jobs));
  for (int i = 0; i < count; ++i) {
    try {
      FThreads.emplace_back([this, i] { Work(i); });
    } catch (const std::system_error&) {
      break;  // run with the workers there are
    }
  }
}

TOrderedWork::~TOrderedWork() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  for (auto& t : FThreads) t.join();
}

void TOrderedWork::Work(int Worker) {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FStop && FNext < FJobs) {
    const std::size_t job = FNext++;
    lock.unlock();
    const std::int64_t want = FCharge(job);
    lock.lock();
    const bool run = want >= 0 && want <= FBudget;
    const std::int64_t charge = run ? want : 0;
    // Charges are granted in job order, so the job Next waits for is never starved by later ones.
    FChanged.wait(lock, [&] { return FStop || (FGrant == job && FHeld + charge <= FBudget); });
    if (FStop) break;
    FHeld += charge;
    FPeak = std::max(FPeak, FHeld);
    FHeldBy[job] = charge;
    ++FGrant;
    FChanged.notify_all();
    if (run) {
      lock.unlock();
      FRun(job, Worker);
      lock.lock();
    }
    FDone[job] = true;
    FChanged.notify_all();
  }
}

bool TOrderedWork::Next(std::size_t& Job) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FTaken > 0 && FHeldBy[FTaken - 1] > 0) {
    FHeld -= FHeldBy[FTaken - 1];
    FHeldBy[FTaken - 1] = 0;
    FChanged.notify_all();
  }
  if (FTaken >= FJobs) return false;
  Job = FTaken++;
  if (!FThreads.empty()) FChanged.wait(lock, [&] { return bool(FDone[Job]); });
  return true;
}

std::int64_t TOrderedWork::PeakHeld() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FPeak;
}

}  // namespace ovelta

// Jobs run on worker threads ahead of one consumer, who takes them in job order, with the bytes
// their results hold kept within a budget. The engine behind TMemberPreparer and TMemberReadAhead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ovelta {

class TOrderedWork {
 public:
  // The bytes job Job's result will hold, asked on a worker thread outside the lock; less than 0
  // when the job is not to be run ahead (its result then stays as the owner made it).
  using TChargeFunction = std::function<std::int64_t(std::size_t Job)>;
  // Runs job Job on worker thread Worker (0 .. Workers()-1) and stores its result where the owner
  // keeps it; called at most once per job, only when its charge was granted. Must not throw.
  using TRunFunction = std::function<void(std::size_t Job, int Worker)>;

  // Starts up to Workers threads (fewer when the system refuses one; none for 0). Charges are
  // granted strictly in job order while the charges held stay within Budget; a job whose charge
  // alone passes Budget is not run. The owner keeps the results and must outlive this object:
  // declare it as the owner's last member.
  TOrderedWork(std::size_t Jobs, int Workers, std::int64_t Budget, TChargeFunction Charge,
               TRunFunction Run);
  // Stops the workers after their current job.
  ~TOrderedWork();
  TOrderedWork(const TOrderedWork&) = delete;
  TOrderedWork& operator=(const TOrderedWork&) = delete;

  // Waits until the next job in order is done (run, or passed over) and sets Job to it; false after
  // the last. Gives back the previous job's charge: the consumer has released its result by then.
  // One consumer thread only.
  bool Next(std::size_t& Job);
  // The most bytes (charges) held at once so far.
  std::int64_t PeakHeld() const;
  int Workers() const { return static_cast<int>(FThreads.size()); }

 private:
  void Work(int Worker);

  std::size_t FJobs;
  std::int64_t FBudget;
  TChargeFunction FCharge;
  TRunFunction FRun;
  std::vector<std::int64_t> FHeldBy;  // the charge each job holds
  std::vector<bool> FDone;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::size_t FNext = 0;   // the next job a worker claims
  std::size_t FGrant = 0;  // the next job allowed its charge
  std::size_t FTaken = 0;  // the next job Next returns
  std::int64_t FHeld = 0;
  std::int64_t FPeak = 0;
  bool FStop = false;
  std::vector<std::thread> FThreads;
};

}  // namespace ovelta

// Members made ahead of TOvPack::AddPrepared: PrepareMember reads a file (and encodes it when
// asked) into memory on any thread, and TMemberPreparer runs it on worker threads ahead of the
// thread that appends, in order, with a bound on the bytes held.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/core/Streams.h"
#include "platform/core/Types.h"

namespace ovelta {

class TOrderedWork;

// The bytes held while members are prepared ahead, all members together.
inline constexpr std::int64_t kPrepareBudget = std::int64_t{64} << 20;
// What one preparation holds besides the file's bytes: the encoder's window, output and tables.
inline constexpr std::int64_t kPrepareFixedBytes = std::int64_t{512} << 10;

// A file read (and maybe encoded) ahead of TOvPack::AddPrepared. Not Ready when anything failed or
// was not tried; AddPrepared then runs AddFile on Path, which reports the failure as always.
struct TPreparedMember {
  AnsiString Path;
  bool Compress = false;
  bool Ready = false;
  bool Comp = false;                      // Stored is a Corvel stream of Size bytes
  std::int32_t Size = 0;                  // the file's size
  FILETIME Time{};                        // the file's last-write time
  std::unique_ptr<TMemoryStream> Stored;  // the bytes to store (Ready only)
};

// The most PrepareMember holds for a file of Size bytes: the file, a stream smaller than it and
// kPrepareFixedBytes.
std::int64_t PreparedFootprint(std::int64_t Size);

// Reads the file Path and, when Compress is true and the file is not empty, encodes it; keeps the
// stream when it is smaller than the file, as AddFile decides, otherwise the file's bytes. Touches
// no shared state besides the heap (no messages, no pack): safe on any thread. Never raises; a file
// that cannot be opened or read, a memory shortage, or a file larger than kPackMaxDataSize gives a
// member that is not Ready, and so does a file larger than MaxSize bytes (nothing is read then).
TPreparedMember PrepareMember(const AnsiString& Path, bool Compress,
                              std::int64_t MaxSize = INT64_MAX);

// One file to prepare.
struct TPrepareJob {
  AnsiString Path;
  bool Compress = false;
};

// Prepares Jobs on Workers threads, in order, ahead of the caller, who takes them in order with
// Take. The footprints (PreparedFootprint) of the members prepared and not yet given back stay
// within Budget; a member whose footprint alone passes Budget is not prepared (it comes back not
// Ready, and AddPrepared adds it by AddFile, in fixed memory). With 0 workers nothing is prepared.
// One thread calls Take; destruction stops the workers after their current member.
class TMemberPreparer {
 public:
  TMemberPreparer(std::vector<TPrepareJob> Jobs, int Workers, std::int64_t Budget = kPrepareBudget);
  // Stops the workers after their current member.
  ~TMemberPreparer();
  TMemberPreparer(const TMemberPreparer&) = delete;
  TMemberPreparer& operator=(const TMemberPreparer&) = delete;

  // The next job's member, waiting for it; empty (not Ready, no path) after the last. Gives back
  // the previous member's share of the budget: the caller has released that member by then.
  TPreparedMember Take();
  // The most bytes (footprints) held at once so far.
  std::int64_t PeakHeld() const;
  // Worker threads running (fewer than asked when the system refused a thread).
  int Workers() const;

 private:
  std::vector<TPrepareJob> FJobs;
  std::vector<TPreparedMember> FDone;   // not Ready (path only) until a worker prepares it
  std::vector<std::int64_t> FSize;      // each file's size as the worker saw it
  std::unique_ptr<TOrderedWork> FWork;  // last: its workers stop before the vectors go
};

}  // namespace ovelta

// Members of an open pack read and decoded ahead on worker threads, for one thread that writes
// them out in order (extraction): each worker opens the same pack file on a TOvPack of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pack/Pack.h"
#include "platform/core/Heap.h"

namespace ovelta {

class TOrderedWork;

// The bytes held by members read ahead and not yet taken, all members together.
inline constexpr std::int64_t kReadAheadBudget = std::int64_t{64} << 20;

// One member read ahead. Not Ready when it was not tried or anything failed (the pack file cannot
// be opened again, its directory is not the caller's, a check word differs, the stream does not
// decode, memory): the caller then reads the member on its own pack, which says why as always.
struct TReadMember {
  int Index = -1;
  bool Ready = false;
  std::int32_t Size = 0;  // the member's size
  GlobalBlock Data;       // its Size bytes (null for an empty member)
};

// The most a member holds while it is read ahead: its stored bytes, its decoded bytes and the
// decoder's buffers.
std::int64_t ReadAheadFootprint(const TOvFileTable3& Entry);

// Called on a worker thread with each member it read (Ready), before Take hands it out, with the
// member's position in the indexes given: it may write the member out and release its Data. It
// must not throw and must not use the caller's pack.
using TReadAheadSink = std::function<void(std::size_t Position, TReadMember& Member)>;

// Reads the members at Indexes of the pack open on Pack, in order, on Workers threads, ahead of the
// caller, who takes them in order with Take. Only a pack loaded from a path with cmPackAll (its
// load checked every byte) is read ahead; for any other (a caller's stream, cmNon, cmEachFile) no
// worker starts and every member comes back not Ready. Workers open the file read-only with cmNon
// and show no messages; each member's own check word, when it has one, is checked again on the
// bytes read. The footprints of the members read and not yet taken stay within Budget; a member
// whose footprint alone passes it is not read ahead (the caller streams it with
// TOvPack::OvfreadAll, whose memory does not grow with the member); a member's share is held until
// the caller takes the next one, whatever Sink did with its bytes. Pack must stay open and unchanged while
// this object lives; one thread calls Take; destruction stops the workers after their current
// member.
class TMemberReadAhead {
 public:
  TMemberReadAhead(const TOvPack& Pack, std::vector<int> Indexes, int Workers,
                   std::int64_t Budget = kReadAheadBudget, TReadAheadSink Sink = nullptr);
  ~TMemberReadAhead();
  TMemberReadAhead(const TMemberReadAhead&) = delete;
  TMemberReadAhead& operator=(const TMemberReadAhead&) = delete;

  // The next index's member, waiting for it; Index -1 after the last. Gives back the previous
  // member's share of the budget: the caller has released that member by then.
  TReadMember Take();
  // The most bytes (footprints) held at once so far.
  std::int64_t PeakHeld() const;
  // Worker threads running (fewer than asked when the system refused a thread).
  int Workers() const;

 private:
  struct TWorkerPack;
  void Read(std::size_t Job, int Worker);

  AnsiString FPath;
  std::vector<TOvFileTable3> FDirectory;  // the caller's, copied: workers never touch its pack
  std::vector<int> FIndexes;
  std::vector<TReadMember> FDone;
  TReadAheadSink FSink;
  std::vector<std::unique_ptr<TWorkerPack>> FWorkerPacks;  // opened by each worker on first use
  std::unique_ptr<TOrderedWork> FWork;                     // last: its workers stop first
};

}  // namespace ovelta

// Byte streams: the abstract TStream (read, write, seek, size), TFileStream on a file of the
// system, and TMemoryStream on a growable block of memory, with the file open and sharing modes.
// Failures are raised as EStreamError (or one of its kinds), all derived from Exception, so callers
// that must not let an exception escape catch EStreamError (or Exception) around their transfers.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/core/Component.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Types.h"

namespace ovelta {

// A stream operation failed: a file could not be opened or created, a read or write fell short
// through ReadBuffer/WriteBuffer, a seek or resize was refused, or memory ran out. SystemError is
// the system's error number (errno) behind the failure, 0 when there is none.
class EStreamError : public Exception {
 public:
  explicit EStreamError(const AnsiString& Message, int SystemError = 0)
      : Exception(Message), FSystemError(SystemError) {}
  std::string ClassName() const override { return "EStreamError"; }
  int SystemError() const { return FSystemError; }

 private:
  int FSystemError = 0;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string ClassName() const override { return "EFOpenError"; }
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string ClassName() const override { return "EFCreateError"; }
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string ClassName() const override { return "EReadError"; }
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  std::string ClassName() const override { return "EWriteError"; }
};

// Origins of Seek.
enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// The framework's abstract stream. Positions and sizes are 64-bit; one Read or Write moves at most
// Count bytes (Count <= 0 moves nothing).
class TStream : public TObject {
 public:
  std::string ClassName() const override { return "TStream"; }

  // Reads up to Count bytes into Buffer; returns the count read, 0 at the end. Raises EStreamError
  // when the underlying file reports an error.
  virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
  // Writes up to Count bytes; returns the count written. Raises EStreamError on an error.
  virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
  // Moves the position and returns the new one. Raises EStreamError when the result would be
  // negative or the system refuses. A position beyond the end is allowed (a write there fills the
  // gap with zero bytes).
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
  // Sets the stream's size (truncating or extending with zero bytes); the position is lowered to
  // the new size if beyond it. Raises EStreamError on failure.
  virtual void SetSize(std::int64_t NewSize) = 0;
  // The size in bytes.
  virtual std::int64_t Size();

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t Value) { Seek(Value, TSeekOrigin::soBeginning); }

  // Read and Write that move exactly Count bytes or raise EReadError / EWriteError.
  void ReadBuffer(void* Buffer, std::int32_t Count);
  void WriteBuffer(const void* Buffer, std::int32_t Count);
  // Copies Count bytes from Source's position (Count <= 0: from its start to its end) and returns
  // the count copied; raises EStreamError when Source ends early or a write fails.
  std::int64_t CopyFrom(TStream& Source, std::int64_t Count);
};

// Open modes of TFileStream: one access mode, or'ed with one sharing mode. fmCreate creates (or
// empties) the file and opens it for reading and writing; it denies every other locking opener, as
// fmShareExclusive does, unless or'ed with fmShareDenyNone, and the file is emptied only once that
// lock is held. fmCreate | fmExclusive creates a new file only: it fails (SystemError EEXIST) when
// anything of that name exists, a symbolic link included, which is never followed.
inline constexpr unsigned fmOpenRead = 0x0000;
inline constexpr unsigned fmOpenWrite = 0x0001;
inline constexpr unsigned fmOpenReadWrite = 0x0002;
inline constexpr unsigned fmExclusive = 0x0004;
inline constexpr unsigned fmShareCompat = 0x0000;
inline constexpr unsigned fmShareExclusive = 0x0010;
inline constexpr unsigned fmShareDenyWrite = 0x0020;
inline constexpr unsigned fmShareDenyNone = 0x0040;
inline constexpr unsigned fmCreate = 0xFF00;

// The system's handle of an open file: a file descriptor, or a Windows HANDLE (one line per
// platform, the only platform test of the public headers).
#ifdef _WIN32
using TFileHandle = void*;
#else
using TFileHandle = int;
#endif

// A stream on a file. File names are handed to the system unchanged (Linux file names are byte
// strings); on Windows they are UTF-8, converted to UTF-16 for the system's calls (a name that is
// not UTF-8 is refused with EILSEQ). Sharing modes are kept among the programs that use them: a
// stream opened with fmShareDenyWrite or fmShareExclusive cannot be opened while another such
// stream has the file open for writing, nor opened for writing while another such stream has it
// open at all (fmShareExclusive refuses every other such opener); creating counts as opening for
// writing, so a file another such stream has open is neither created over nor emptied. On Linux the
// locks are advisory flock locks (per open file), so they also hold between two streams of one
// process, and programs that take no lock are not stopped; on Windows they are the system's share
// modes, which every opener meets.
// LockForReplacing adds a lock of its own among programs that replace the file.
class TFileStream : public TStream {
 public:
  // Opens or creates FileName; raises EFOpenError (open) or EFCreateError (fmCreate) on failure,
  // the message naming the file and the system's reason.
  TFileStream(const AnsiString& FileName, unsigned Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::string ClassName() const override { return "TFileStream"; }

  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(std::int64_t NewSize) override;
  std::int64_t Size() override;

  const AnsiString& FileName() const { return FFileName; }
  // For a program that replaces the file as a whole (writes the new contents beside it and renames
  // them over it) and reads it meanwhile. Takes two advisory locks, held until the stream goes: the
  // shared lock of a deny-write reader, so that nothing writes the file in place meanwhile, and
  // the replacing lock, which one stream at a time holds, so that two such programs exclude each
  // other. Deny-write readers are not stopped: the file they have open stays whole, and once
  // renamed over it is the old file. Then checks that FileName still names the file the stream has
  // open. The stream must be open for writing without a sharing mode (fmOpenReadWrite). Anything
  // but Locked leaves neither lock held: InUse when another stream holds a lock that excludes
  // these, Replaced when the file was renamed over or removed since it was opened (whoever
  // replaced it has finished: open the name again). Raises EStreamError when the system refuses
  // the locks for another reason. On Windows, where the share modes are the locks, the stream that
  // holds the lock reads through a handle that cannot write (one that may write shuts deny-write
  // readers out), and a file that a reader or writer holds with a sharing mode cannot be opened
  // for writing in the first place.
  enum class TReplacing { Locked, InUse, Replaced };
  TReplacing LockForReplacing();
  // The file's last-write time as a FILETIME; raises EStreamError when the system cannot say.
  FILETIME LastWriteTime() const;
  // The system's handle of the file, owned by the stream.
  TFileHandle Handle() const { return FHandle; }

 private:
  AnsiString FFileName;
  TFileHandle FHandle{};
};

// A stream on memory that grows as it is written. Capacity grows geometrically; running out of
// memory raises EStreamError and leaves the stream as it was.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::string ClassName() const override { return "TMemoryStream"; }

  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(std::int64_t NewSize) override;
  std::int64_t Size() override { return FSize; }

  // The stream's bytes (Size() of them); valid until the next call that changes the size.
  void* Memory() const { return FMemory; }
  // Empties the stream and releases its memory.
  void Clear();
  // Replaces the contents with the whole of a file / writes the contents to a new file; raise
  // EStreamError on failure.
  void LoadFromFile(const AnsiString& FileName);
  void SaveToFile(const AnsiString& FileName);

 private:
  void Reserve(std::int64_t Capacity);

  Byte* FMemory = nullptr;
  std::int64_t FSize = 0;
  std::int64_t FCapacity = 0;
  std::int64_t FPosition = 0;
};

}  // namespace ovelta

// TFileStream on POSIX file descriptors, its sharing modes as flock locks.
#include "platform/core/Streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/core/FileTime.h"

namespace ovelta {

namespace {

AnsiString SystemReason(int Error) { return std::generic_category().message(Error); }

// The replacing lock is a record lock on one byte far beyond any file's end (records beyond the
// end may be locked): it is apart from the sharing modes' flock locks. Open-file-description locks
// belong to the open file, as flock locks do, so two streams of one process exclude each other.
constexpr off_t kReplacingLockByte = off_t{1} << 62;

}  // namespace

// ---- TFileStream ----------------------------------------------------------------------------

TFileStream::TFileStream(const AnsiString& FileName, unsigned Mode) : FFileName(FileName) {
  const bool create = (Mode & 0xFF00) == fmCreate;
  const bool createNew = create && (Mode & fmExclusive) != 0;
  int flags = O_CLOEXEC;
  bool writing = true;
  if (create) {
    // Not O_TRUNC: the file is emptied below, once the lock shows nobody else has it open.
    flags |= O_RDWR | O_CREAT;
    if (createNew) flags |= O_EXCL | O_NOFOLLOW;
  } else {
    switch (Mode & 0x0003) {
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        flags |= O_RDONLY;
        writing = false;
        break;
    }
  }
  auto fail = [&](int Error, const AnsiString& Reason) {
    if (FHandle >= 0) ::close(FHandle);
    FHandle = -1;
    if (create) throw EFCreateError("Cannot create file \"" + FileName + "\". " + Reason, Error);
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + Reason, Error);
  };
  FHandle = ::open(FileName.c_str(), flags, 0666);
  if (FHandle < 0) {
    const int error = errno;
    fail(error, SystemReason(error));
  }
  struct stat info {};
  const bool known = ::fstat(FHandle, &info) == 0;
  if (known && S_ISDIR(info.st_mode)) fail(EISDIR, SystemReason(EISDIR));
  // Sharing: deny-write and exclusive openers hold advisory locks that exclude each other's
  // writers (and, for exclusive, everyone). Creating is writing: it takes the exclusive lock unless
  // told to share.
  const unsigned share = Mode & 0x00F0;
  int lock = 0;
  if (create)
    lock = share == fmShareDenyNone ? 0 : LOCK_EX;
  else if (share == fmShareExclusive)
    lock = LOCK_EX;
  else if (share == fmShareDenyWrite)
    lock = writing ? LOCK_EX : LOCK_SH;
  if (lock != 0 && ::flock(FHandle, lock | LOCK_NB) != 0) {
    const int error = errno;
    fail(error, error == EWOULDBLOCK ? AnsiString("The file is in use by another stream.")
                                     : SystemReason(error));
  }
  // Only a regular file is emptied (a device or pipe has nothing to cut, as O_TRUNC would ignore).
  const bool regular = !known || S_ISREG(info.st_mode);
  if (create && !createNew && regular && ::ftruncate(FHandle, 0) != 0) {
    const int error = errno;
    fail(error, SystemReason(error));
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int32_t TFileStream::Read(void* Buffer, std::int32_t Count) {
  std::int32_t done = 0;
  auto* out = static_cast<char*>(Buffer);
  while (done < Count) {
    ssize_t got = ::read(FHandle, out + done, static_cast<std::size_t>(Count - done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Cannot read file \"" + FFileName + "\". " + SystemReason(errno));
    }
    if (got == 0) break;
    done += static_cast<std::int32_t>(got);
  }
  return done;
}

std::int32_t TFileStream::Write(const void* Buffer, std::int32_t Count) {
  std::int32_t done = 0;
  const auto* in = static_cast<const char*>(Buffer);
  while (done < Count) {
    ssize_t put = ::write(FHandle, in + done, static_cast<std::size_t>(Count - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw EWriteError("Cannot write file \"" + FFileName + "\". " + SystemReason(errno));
    }
    if (put == 0) break;
    done += static_cast<std::int32_t>(put);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == TSeekOrigin::soCurrent ? SEEK_CUR
               : Origin == TSeekOrigin::soEnd   ? SEEK_END
                                                : SEEK_SET;
  off_t at = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  if (at < 0)
    throw EStreamError("Cannot seek in file \"" + FFileName + "\". " + SystemReason(errno));
  return at;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError("Cannot resize file \"" + FFileName + "\". " + SystemReason(errno));
  if (Position() > NewSize) Seek(NewSize, TSeekOrigin::soBeginning);
}

std::int64_t TFileStream::Size() {
  struct stat info {};
  if (::fstat(FHandle, &info) != 0)
    throw EStreamError("Cannot read the size of \"" + FFileName + "\". " + SystemReason(errno));
  return info.st_size;
}

TFileStream::TReplacing TFileStream::LockForReplacing() {
  if (::flock(FHandle, LOCK_SH | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) return TReplacing::InUse;
    throw EStreamError("Cannot lock file \"" + FFileName + "\". " + SystemReason(error), error);
  }
  struct flock record {};
  record.l_type = F_WRLCK;
  record.l_whence = SEEK_SET;
  record.l_start = kReplacingLockByte;
  record.l_len = 1;
  if (::fcntl(FHandle, F_OFD_SETLK, &record) != 0) {
    const int error = errno;
    ::flock(FHandle, LOCK_UN);
    if (error == EAGAIN || error == EACCES) return TReplacing::InUse;
    throw EStreamError("Cannot lock file \"" + FFileName + "\". " + SystemReason(error), error);
  }
  // A replacer that finished between our open and our lock has put another file under the name.
  struct stat held {};
  struct stat named {};
  if (::fstat(FHandle, &held) != 0 || ::stat(FFileName.c_str(), &named) != 0 ||
      held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
    record.l_type = F_UNLCK;
    ::fcntl(FHandle, F_OFD_SETLK, &record);
    ::flock(FHandle, LOCK_UN);
    return TReplacing::Replaced;
  }
  return TReplacing::Locked;
}

FILETIME TFileStream::LastWriteTime() const {
  struct stat info {};
  if (::fstat(FHandle, &info) != 0)
    throw EStreamError("Cannot read the time of \"" + FFileName + "\". " + SystemReason(errno));
  return UnixTimeToFileTime(info.st_mtim.tv_sec, static_cast<std::int32_t>(info.st_mtim.tv_nsec));
}

}  // namespace ovelta

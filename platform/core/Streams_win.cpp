// TFileStream on Windows file handles: names in UTF-8 opened as UTF-16 with CreateFileW, the
// sharing modes as the system's share modes (which every opener meets), creating without following
// a planted link.
#include "platform/core/Win32_p.h"

#include <cerrno>
#include <system_error>

#include "platform/core/FileTime.h"
#include "platform/core/Streams.h"

namespace ovelta {

namespace {

AnsiString SystemReason(int Error) { return std::generic_category().message(Error); }

// Renaming or deleting an open file is allowed, as on POSIX systems: the pack tools replace a file
// that is still open.
constexpr DWORD kAlwaysShared = FILE_SHARE_DELETE;

HANDLE Native(TFileHandle Handle) { return static_cast<HANDLE>(Handle); }

// The replacing lock is a byte-range lock on one byte far beyond any file's end (ranges past the
// end may be locked), byte 2^62 as on POSIX systems. Byte-range locks belong to the handle, so two
// streams of one process exclude each other.
constexpr DWORD kReplacingLockHigh = DWORD{1} << 30;

bool SameFile(HANDLE A, HANDLE B) {
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  return GetFileInformationByHandle(A, &a) && GetFileInformationByHandle(B, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

TFileStream::TFileStream(const AnsiString& FileName, unsigned Mode) : FFileName(FileName) {
  const bool create = (Mode & 0xFF00) == fmCreate;
  const bool createNew = create && (Mode & fmExclusive) != 0;
  auto fail = [&](int Error, const AnsiString& Reason) {
    if (FHandle) CloseHandle(Native(FHandle));
    FHandle = nullptr;
    if (create) throw EFCreateError("Cannot create file \"" + FileName + "\". " + Reason, Error);
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + Reason, Error);
  };
  std::wstring path;
  if (FileName.empty()) fail(ENOENT, SystemReason(ENOENT));
  if (!win32::Utf8ToWide(FileName, path)) fail(EILSEQ, SystemReason(EILSEQ));

  DWORD access = GENERIC_READ;
  bool writing = true;
  if (create) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else {
    switch (Mode & 0x0003) {
      case fmOpenWrite:
        access = GENERIC_WRITE;
        break;
      case fmOpenReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
      default:
        writing = false;
        break;
    }
  }
  // The same exclusions as the POSIX locks: deny-write and exclusive openers shut out each other's
  // writers (and, for exclusive, everyone); creating is writing and shuts out everyone unless told
  // to share.
  const unsigned share = Mode & 0x00F0;
  DWORD shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE | kAlwaysShared;
  if (create)
    shareMode = share == fmShareDenyNone ? shareMode : kAlwaysShared;
  else if (share == fmShareExclusive)
    shareMode = kAlwaysShared;
  else if (share == fmShareDenyWrite)
    shareMode = (writing ? 0 : FILE_SHARE_READ) | kAlwaysShared;
  // Not CREATE_ALWAYS: the file is emptied below, and only when it is a file on a disk.
  const DWORD disposition = createNew ? CREATE_NEW : create ? OPEN_ALWAYS : OPEN_EXISTING;
  // A new file never follows a link planted under its name (CREATE_NEW refuses any existing name).
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (createNew ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle = CreateFileW(path.c_str(), access, shareMode, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
      fail(EWOULDBLOCK, "The file is in use by another stream.");
    int error = win32::ErrnoFromSystemError(code);
    // A directory cannot be opened as a file: say so as POSIX systems do.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (error == EACCES && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      error = EISDIR;
    fail(error, SystemReason(error));
  }
  FHandle = handle;
  if (create && !createNew && GetFileType(handle) == FILE_TYPE_DISK && !SetEndOfFile(handle)) {
    const int error = win32::LastErrno();
    fail(error, SystemReason(error));
  }
}

TFileStream::~TFileStream() {
  if (FHandle) CloseHandle(Native(FHandle));
}

std::int32_t TFileStream::Read(void* Buffer, std::int32_t Count) {
  std::int32_t done = 0;
  auto* out = static_cast<char*>(Buffer);
  while (done < Count) {
    DWORD got = 0;
    if (!ReadFile(Native(FHandle), out + done, static_cast<DWORD>(Count - done), &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer of a pipe has gone: the end
      const int error = win32::LastErrno();
      errno = error;  // as the POSIX calls leave it, for callers that read errno
      throw EReadError("Cannot read file \"" + FFileName + "\". " + SystemReason(error), error);
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
    DWORD put = 0;
    if (!WriteFile(Native(FHandle), in + done, static_cast<DWORD>(Count - done), &put, nullptr)) {
      const int error = win32::LastErrno();
      errno = error;  // as the POSIX calls leave it, for callers that read errno
      throw EWriteError("Cannot write file \"" + FFileName + "\". " + SystemReason(error), error);
    }
    if (put == 0) break;
    done += static_cast<std::int32_t>(put);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const DWORD method = Origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                       : Origin == TSeekOrigin::soEnd   ? FILE_END
                                                        : FILE_BEGIN;
  LARGE_INTEGER distance;
  distance.QuadPart = Offset;
  LARGE_INTEGER at;
  if (!SetFilePointerEx(Native(FHandle), distance, &at, method))
    throw EStreamError("Cannot seek in file \"" + FFileName + "\". " +
                       SystemReason(win32::LastErrno()));
  return at.QuadPart;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Cannot resize file \"" + FFileName + "\". " + SystemReason(EINVAL));
  // SetEndOfFile cuts or extends at the position: go there, then come back (or to the new end).
  const std::int64_t here = Position();
  Seek(NewSize, TSeekOrigin::soBeginning);
  if (!SetEndOfFile(Native(FHandle))) {
    const int error = win32::LastErrno();
    Seek(here, TSeekOrigin::soBeginning);
    throw EStreamError("Cannot resize file \"" + FFileName + "\". " + SystemReason(error));
  }
  Seek(here > NewSize ? NewSize : here, TSeekOrigin::soBeginning);
}

std::int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Native(FHandle), &size))
    throw EStreamError("Cannot read the size of \"" + FFileName + "\". " +
                       SystemReason(win32::LastErrno()));
  return size.QuadPart;
}

TFileStream::TReplacing TFileStream::LockForReplacing() {
  // Under the share modes a handle that may write shuts deny-write readers out, and one that reads
  // shuts writers in place out (their share modes admit no other opener): the lock is taken on a
  // reading handle of the same file, which the stream keeps once it holds the lock.
  auto refuse = [&](DWORD Code) -> TReplacing {
    if (Code == ERROR_SHARING_VIOLATION || Code == ERROR_LOCK_VIOLATION) return TReplacing::InUse;
    const int error = win32::ErrnoFromSystemError(Code);
    throw EStreamError("Cannot lock file \"" + FFileName + "\". " + SystemReason(error), error);
  };
  HANDLE reading = ReOpenFile(Native(FHandle), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | kAlwaysShared, 0);
  if (reading == INVALID_HANDLE_VALUE) return refuse(GetLastError());
  OVERLAPPED at{};
  at.OffsetHigh = kReplacingLockHigh;
  if (!LockFileEx(reading, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD code = GetLastError();
    CloseHandle(reading);
    return refuse(code);
  }
  // A replacer that finished between our open and our lock has put another file under the name.
  std::wstring path;
  HANDLE named = INVALID_HANDLE_VALUE;
  if (win32::Utf8ToWide(FFileName, path))
    named = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // (Both handles are compared with the stream's own: a reopened handle may have gone by the name.)
  const bool same = named != INVALID_HANDLE_VALUE && SameFile(Native(FHandle), named) &&
                    SameFile(Native(FHandle), reading);
  if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
  if (!same) {
    CloseHandle(reading);  // the lock goes with its handle
    return TReplacing::Replaced;
  }
  const std::int64_t here = Position();
  CloseHandle(Native(FHandle));
  FHandle = reading;
  Seek(here, TSeekOrigin::soBeginning);
  return TReplacing::Locked;
}

FILETIME TFileStream::LastWriteTime() const {
  ::FILETIME written;
  if (!GetFileTime(Native(FHandle), nullptr, nullptr, &written))
    throw EStreamError("Cannot read the time of \"" + FFileName + "\". " +
                       SystemReason(win32::LastErrno()));
  return FILETIME{written.dwLowDateTime, written.dwHighDateTime};
}

}  // namespace ovelta

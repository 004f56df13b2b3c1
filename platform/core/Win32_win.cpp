// UTF-8 <-> UTF-16 for the system's wide calls, and the translation of the system's error codes
// into errno values (the table follows libuv's, in errno terms).
#include "platform/core/Win32_p.h"

#include <winsock2.h>

#include <cerrno>

namespace ovelta::win32 {

namespace {
constexpr DWORD kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, missing from MinGW's headers
}

bool Utf8ToWide(std::string_view Utf8, std::wstring& Wide) {
  Wide.clear();
  if (Utf8.empty()) return true;
  if (Utf8.size() > 0x7FFFFFFF) return false;
  const int size = static_cast<int>(Utf8.size());
  const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Utf8.data(), size, nullptr, 0);
  if (count <= 0) return false;
  Wide.resize(static_cast<std::size_t>(count));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Utf8.data(), size, Wide.data(), count);
  return true;
}

std::string WideToUtf8(std::wstring_view Wide) {
  std::string result;
  if (Wide.empty() || Wide.size() > 0x7FFFFFFF) return result;
  const int size = static_cast<int>(Wide.size());
  const int count = WideCharToMultiByte(CP_UTF8, 0, Wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return result;
  result.resize(static_cast<std::size_t>(count));
  WideCharToMultiByte(CP_UTF8, 0, Wide.data(), size, result.data(), count, nullptr, nullptr);
  return result;
}

int ErrnoFromSystemError(DWORD Code) {
  switch (Code) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_MOD_NOT_FOUND:
    case ERROR_ENVVAR_NOT_FOUND:
    case ERROR_INVALID_REPARSE_DATA:
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_INVALID_ACCESS:
    case ERROR_NOACCESS:
    case kErrorElevationRequired:
    case ERROR_CANT_ACCESS_FILE:
    case WSAEACCES:
      return EACCES;
    case ERROR_PRIVILEGE_NOT_HELD:
      return EPERM;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
    case ERROR_PIPE_BUSY:
      return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
    case WSAENOBUFS:
      return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
    case WSAEMFILE:
      return EMFILE;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FLAGS:
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK_ON_DEVICE:
    case WSAEINVAL:
      return EINVAL;
    case ERROR_NO_UNICODE_TRANSLATION:
      return EILSEQ;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return EPIPE;
    case ERROR_OPERATION_ABORTED:
    case WSAEINTR:
      return EINTR;
    case ERROR_INVALID_HANDLE:
    case WSAEBADF:
      return EBADF;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return ENOSYS;
    case ERROR_BAD_EXE_FORMAT:
      return ENOEXEC;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case WSAETIMEDOUT:
      return ETIMEDOUT;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case WSAEWOULDBLOCK:
      return EWOULDBLOCK;
    case WSAECONNREFUSED:
    case ERROR_CONNECTION_REFUSED:
      return ECONNREFUSED;
    case WSAECONNRESET:
    case ERROR_NETNAME_DELETED:
      return ECONNRESET;
    case WSAECONNABORTED:
    case ERROR_CONNECTION_ABORTED:
      return ECONNABORTED;
    case WSAEADDRINUSE:
      return EADDRINUSE;
    case WSAEADDRNOTAVAIL:
      return EADDRNOTAVAIL;
    case WSAENETUNREACH:
    case ERROR_NETWORK_UNREACHABLE:
      return ENETUNREACH;
    case WSAEHOSTUNREACH:
    case ERROR_HOST_UNREACHABLE:
      return EHOSTUNREACH;
    case WSAENOTCONN:
      return ENOTCONN;
    case WSAEINPROGRESS:
      return EINPROGRESS;
    case WSAEALREADY:
      return EALREADY;
    case WSAENOTSOCK:
      return ENOTSOCK;
    case WSAEAFNOSUPPORT:
      return EAFNOSUPPORT;
    default:
      return EIO;
  }
}

int LastErrno() { return ErrnoFromSystemError(GetLastError()); }

}  // namespace ovelta::win32

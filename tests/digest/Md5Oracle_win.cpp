// The oracle on Windows: the system's cryptography (CNG).
#include "digest/Md5Oracle.h"

#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

namespace ovelta {

void OracleMd5Digest(const Byte* Data, std::size_t Size, Byte (&Digest)[16]) {
  if (Size > 0xFFFFFFFFu) throw std::length_error("too long for one BCryptHash call");
  BCRYPT_ALG_HANDLE md5 = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&md5, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
    throw std::runtime_error("no MD5 provider");
  const NTSTATUS status = BCryptHash(md5, nullptr, 0, const_cast<Byte*>(Data),
                                     static_cast<ULONG>(Size), Digest, sizeof Digest);
  BCryptCloseAlgorithmProvider(md5, 0);
  if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("BCryptHash failed");
}

}  // namespace ovelta

// The oracle on Linux: OpenSSL's libcrypto.
#include "digest/Md5Oracle.h"

#include <openssl/evp.h>

namespace ovelta {

void OracleMd5Digest(const Byte* Data, std::size_t Size, Byte (&Digest)[16]) {
  unsigned int size = 0;
  EVP_Digest(Data, Size, Digest, &size, EVP_md5(), nullptr);
}

}  // namespace ovelta

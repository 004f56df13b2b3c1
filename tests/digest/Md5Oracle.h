// An MD5 written by others, to check ours against: one file per platform (md5_test.cmake picks it).
#pragma once

#include <cstddef>

#include "platform/core/Types.h"

namespace ovelta {

// The MD5 of Size bytes at Data, into Digest.
void OracleMd5Digest(const Byte* Data, std::size_t Size, Byte (&Digest)[16]);

}  // namespace ovelta

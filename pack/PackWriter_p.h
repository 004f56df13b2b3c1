// The pack writer's test hook: the bound under which AddFile encodes in memory can be moved, so
// that both of its paths can be checked on small files. Not installed: for the library's own tests.
#pragma once

#include <cstdint>

namespace ovelta::pack_writer_testing {

// From now on AddFile encodes files of at most Bytes bytes in memory (0 or less: every compressed
// member through a temporary file); returns the bound before. Process-wide and thread-safe; the
// bound is kPackMemoryEncodeBound until changed.
std::int64_t SetMemoryEncodeBound(std::int64_t Bytes);

}  // namespace ovelta::pack_writer_testing

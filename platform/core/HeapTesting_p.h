// The heap's test hooks: it counts its live blocks and can be told to refuse allocations, so that
// callers' out-of-memory paths and "no block left behind" promises can be checked. Not installed:
// for the library's own tests, fuzzers and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ovelta {

// Counts are process-wide and thread-safe.
namespace heap_testing {
// Blocks allocated and not yet freed.
std::int64_t LiveBlocks();
// The largest single request since the last ResetLargestRequest.
std::size_t LargestRequest();
void ResetLargestRequest();
// From now on, allocations fail after Count more successes (Count < 0: never fail again).
void FailAfter(std::int64_t Count);
}  // namespace heap_testing

}  // namespace ovelta

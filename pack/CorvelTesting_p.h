// The encoder's test hook: its bulk path (the search without bounds checks, taken far from the
// input's ends) can be switched off, so that a test or fuzzer can compare it with the checked
// path on long inputs, where the plain search would be too slow. Not installed.
#pragma once

namespace ovelta::corvel_testing {

// From now on every encoder takes the bulk path (true, the default) or only the checked one
// (false); returns the setting before. Process-wide; for one-thread tests and fuzzers.
bool SetBulkPath(bool Enabled);

}  // namespace ovelta::corvel_testing

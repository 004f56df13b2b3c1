// Private helpers of the pack component shared by its source files: member names as readers see
// them, their case-blind form, and the temporary file names.
#pragma once

#include "pack/Ovpack.h"

namespace ovelta::pack_names {

// The name of an entry as a reader sees it: the base name, then "." and the extension when the
// extension is not empty (each up to its first zero byte).
AnsiString EntryName(const TOvFileTable3& Entry);
// Name with its single-byte letters a-z upper-cased; both bytes of double-byte characters kept.
AnsiString UpperName(const AnsiString& Name);

// Temporary files of compressed additions: "OvTmp000.Corvel" to "OvTmp999.Corvel" in the current
// directory, tried in that order.
inline constexpr int kTempFileNames = 1000;
// The temporary file name of Number (0 to kTempFileNames - 1).
AnsiString TempFileName(int Number);

}  // namespace ovelta::pack_names

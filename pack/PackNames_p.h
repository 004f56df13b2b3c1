// Private helpers of the pack component shared by its source files: member names as readers see
// them, their case-blind form, and the existence test for temporary file names.
#pragma once

#include "pack/Ovpack.h"

namespace ovelta::pack_names {

// The name of an entry as a reader sees it: the base name, then "." and the extension when the
// extension is not empty (each up to its first zero byte).
AnsiString EntryName(const TOvFileTable3& Entry);
// Name with its single-byte letters a-z upper-cased; both bytes of double-byte characters kept.
AnsiString UpperName(const AnsiString& Name);
// True when FileName names an existing file that is not a directory.
bool FileExists(const char* FileName);

}  // namespace ovelta::pack_names

// Private helpers of the pack component shared by its source files: member names as readers see
// them and their case-blind form.
#pragma once

#include "pack/Ovpack.h"

namespace ovelta::pack_names {

// The name of an entry as a reader sees it: the base name, then "." and the extension when the
// extension is not empty (each up to its first zero byte).
AnsiString EntryName(const TOvFileTable3& Entry);
// Name with its single-byte letters a-z upper-cased; both bytes of double-byte characters kept.
AnsiString UpperName(const AnsiString& Name);

}  // namespace ovelta::pack_names

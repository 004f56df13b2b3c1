// Member names: how a name is stored in a directory entry (21 bytes before the first ".", 3 after
// it), how entries are compared (ASCII letters without regard to case), the UTF-8 form of the
// Shift-JIS bytes a pack keeps, and the names of the temporary files that compressed additions
// use. Plain functions without state; none allocates beyond its result or reports errors other
// than through its result.
#pragma once

#include <string>
#include <string_view>

#include "pack/Pack.h"

namespace ovelta::pack_names {

// The name of an entry as a reader sees it: the base name, then "." and the extension when the
// extension is not empty (each up to its first zero byte, at most 21 and 3 bytes).
AnsiString EntryName(const TOvFileTable3& Entry);
// The name Name is stored as: EntryName of the entry TOvPack::MakeFTName fills from it (cut to
// 21 bytes before the first "." and 3 after it, bytes, not characters).
AnsiString StoredName(const AnsiString& Name);
// Name with its single-byte letters a-z upper-cased; both bytes of double-byte characters kept.
// Two names denote the same member when their upper-cased forms are equal.
AnsiString UpperName(const AnsiString& Name);

// The Shift-JIS (code page 932) member name of a UTF-8 name in Member; false when there is none
// (invalid UTF-8, or a character Shift-JIS lacks or would give back as another). Member is written
// either way.
bool MemberNameFromUtf8(std::string_view Utf8, AnsiString& Member);
// The UTF-8 form of a member name in Utf8; false when the bytes are not Shift-JIS that converts
// back to themselves. Utf8 is written either way.
bool Utf8FromMemberName(const AnsiString& Member, std::string& Utf8);

// Temporary files of compressed additions: "OvTmp000.Corvel" to "OvTmp999.Corvel" in the current
// directory, tried in that order.
inline constexpr int kTempFileNames = 1000;
// The temporary file name of Number (0 to kTempFileNames - 1).
AnsiString TempFileName(int Number);
// True when BaseName (a file name without directory, zero-terminated, not null) is one of the
// temporary file names. Async-signal-safe: reads BaseName only and calls nothing.
bool IsTempFileName(const char* BaseName) noexcept;

}  // namespace ovelta::pack_names

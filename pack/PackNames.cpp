// Member names: stored forms, the case-blind form, UTF-8 forms and the temporary file names.
#include "pack/PackNames.h"

#include <cstdio>
#include <cstring>

#include "platform/core/Text.h"

namespace ovelta::pack_names {

namespace {

constexpr char kTempPrefix[] = "OvTmp";
constexpr char kTempSuffix[] = ".Corvel";
constexpr int kTempDigits = 3;

}  // namespace

AnsiString EntryName(const TOvFileTable3& Entry) {
  const char* base = Entry.FileName;
  const char* ext = Entry.FileExt;
  AnsiString name(base, ::strnlen(base, kPackBaseNameBytes));
  const std::size_t ext_len = ::strnlen(ext, kPackExtensionBytes);
  if (ext_len > 0) {
    name += '.';
    name.append(ext, ext_len);
  }
  return name;
}

AnsiString StoredName(const AnsiString& Name) {
  TOvFileTable3 stored{};
  TOvPack::MakeFTName(stored, Name);
  return EntryName(stored);
}

AnsiString UpperName(const AnsiString& Name) {
  AnsiString upper = Name;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    if (IsDBCSLeadByte(upper[i])) {
      ++i;  // both bytes of a double-byte character stay as they are
    } else if (upper[i] >= 'a' && upper[i] <= 'z') {
      upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
    }
  }
  return upper;
}

bool MemberNameFromUtf8(std::string_view Utf8, AnsiString& Member) {
  Member = Utf8ToCp932(Utf8);
  return Cp932ToUtf8(Member) == Utf8;
}

bool Utf8FromMemberName(const AnsiString& Member, std::string& Utf8) {
  Utf8 = Cp932ToUtf8(Member);
  return Utf8ToCp932(Utf8) == Member;
}

AnsiString TempFileName(int Number) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%0*d%s", kTempPrefix, kTempDigits, Number, kTempSuffix);
  return name;
}

bool IsTempFileName(const char* BaseName) noexcept {
  const char* p = BaseName;
  for (const char* q = kTempPrefix; *q; ++q, ++p)
    if (*p != *q) return false;
  for (int i = 0; i < kTempDigits; ++i, ++p)
    if (*p < '0' || *p > '9') return false;
  for (const char* q = kTempSuffix; *q; ++q, ++p)
    if (*p != *q) return false;
  return *p == '\0';
}

}  // namespace ovelta::pack_names

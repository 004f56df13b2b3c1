// The system code page. Every byte string of the system is Shift-JIS (CP932): a character takes one
// byte, or two when the first is a lead byte. The UI (Qt) speaks Unicode; conversion happens only
// at that boundary, through these calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/Types.h"

namespace ovelta {

// True for the lead bytes of a CP932 double-byte character: 0x81 to 0x9F and 0xE0 to 0xFC.
constexpr bool IsDBCSLeadByte(Byte Value) {
  return (Value >= 0x81 && Value <= 0x9F) || (Value >= 0xE0 && Value <= 0xFC);
}
constexpr bool IsDBCSLeadByte(char Value) { return IsDBCSLeadByte(static_cast<Byte>(Value)); }

// CP932 bytes to UTF-8. Bytes that do not form a CP932 character become U+FFFD; never fails.
std::string Cp932ToUtf8(std::string_view Cp932);
// UTF-8 to CP932 bytes. Characters CP932 lacks (and invalid UTF-8) become "?"; never fails.
AnsiString Utf8ToCp932(std::string_view Utf8);

// Source files are UTF-8: write the system's texts readable in the source and convert them once,
// e.g. `static const AnsiString kStarted = Sjis("* Merlig 開始");`.
inline AnsiString Sjis(std::string_view Utf8) { return Utf8ToCp932(Utf8); }

}  // namespace ovelta

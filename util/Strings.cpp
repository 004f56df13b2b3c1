// The text helpers: the double-byte-aware bounded copy, formatting into a string, splitting at line
// feeds and reading hexadecimal text.
#include <cstdarg>
#include <cstdio>
#include <cstdint>

#include "util/Ovelta.h"

#include "platform/core/Text.h"

namespace ovelta {
namespace {

// The copy's own fixed lead-byte range, narrower than the full Shift-JIS one.
bool IsCopyLeadByte(unsigned char Value) {
  return (Value >= 0x80 && Value <= 0x9F) || (Value >= 0xE0 && Value <= 0xEF);
}

// The Cyrillic letters of CP932: capitals 0x8440 to 0x8460, small letters 0x8470 to 0x8491 (no
// second byte 0x7F), in the same order.
constexpr unsigned char kCyrillicLead = 0x84;
unsigned char CyrillicUpper(unsigned char Trail) {
  if (Trail >= 0x70 && Trail <= 0x7E) return static_cast<unsigned char>(Trail - 0x30);
  if (Trail >= 0x80 && Trail <= 0x91) return static_cast<unsigned char>(Trail - 0x31);
  return Trail;
}

constexpr int kFormatBufferBytes = 1024;
constexpr std::size_t kHexDigitsRead = 8;

}  // namespace

char* hstrncpy(char* Dest, const char* Source, unsigned Len, bool StopAtComma) {
  if (Dest == nullptr || Source == nullptr) return Dest;
  unsigned written = 0;
  const char* from = Source;
  while (written < Len) {
    const char c = *from;
    if (c == '\0' || c == '\r' || (c == ',' && StopAtComma)) break;
    if (IsCopyLeadByte(static_cast<unsigned char>(c))) {
      // A double-byte character is never split, and a lead byte without a second byte is dropped.
      if (Len - written < 2 || from[1] == '\0') break;
      Dest[written++] = c;
      Dest[written++] = from[1];
      from += 2;
    } else {
      Dest[written++] = c;
      ++from;
    }
  }
  Dest[written] = '\0';
  return Dest;
}

AnsiString Ansiprintf(const char* Format, ...) {
  if (Format == nullptr) return AnsiString();
  char local[kFormatBufferBytes];
  va_list args;
  va_start(args, Format);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(local, sizeof local, Format, args);
  va_end(args);
  AnsiString result;
  if (size >= 0 && size < kFormatBufferBytes) {
    result.assign(local, static_cast<std::size_t>(size));
  } else if (size >= kFormatBufferBytes) {
    // Too long for the local buffer: format again into a result of the exact size.
    result.resize(static_cast<std::size_t>(size));
    std::vsnprintf(result.data(), result.size() + 1, Format, again);
  }
  va_end(again);
  return result;
}

void SeparateString(AnsiString Source, AnsiString* Parts, int Count) {
  if (Parts == nullptr) return;
  std::size_t from = 0;  // the rest is Source[from, end)
  for (int i = 0; i < Count; ++i) {
    Parts[i].clear();
    if (from >= Source.size()) continue;
    const std::size_t feed = Source.find('\n', from);
    if (feed == AnsiString::npos) {
      Parts[i].assign(Source, from);
      from = Source.size();
    } else {
      Parts[i].assign(Source, from, feed - from);
      from = feed + 1;
    }
  }
}

int HexToInt(AnsiString Text) {
  // The text is upper-cased as the system does it: single-byte letters, and the lower-case letters
  // of the double-byte alphabets. Of those, only Cyrillic ones (б to ё) become bytes that read as
  // digits ("A" to "F" as their second byte).
  std::uint32_t value = 0;
  const std::size_t digits = Text.size() < kHexDigitsRead ? Text.size() : kHexDigitsRead;
  for (std::size_t i = 0; i < digits; ++i) {
    auto c = static_cast<unsigned char>(Text[i]);
    if (IsDBCSLeadByte(c) && i + 1 < Text.size()) {
      const auto trail = static_cast<unsigned char>(Text[i + 1]);
      value <<= 4;  // a lead byte is never a digit
      if (++i == digits) break;
      c = trail;
      if (static_cast<unsigned char>(Text[i - 1]) == kCyrillicLead) c = CyrillicUpper(trail);
    } else if (c >= 'a' && c <= 'z') {
      c = static_cast<unsigned char>(c - 'a' + 'A');
    }
    value <<= 4;
    if (c >= '0' && c <= '9')
      value += c - '0';
    else if (c >= 'A' && c <= 'F')
      value += c - 'A' + 10;
  }
  return static_cast<int>(value);
}

}  // namespace ovelta

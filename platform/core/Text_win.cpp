// CP932 <-> UTF-8 through the system's own code page 932 tables (never the process's ANSI code
// page, which follows the user's settings), with UTF-16 in between. Strict conversions are tried on
// the whole text first; only a text with a flaw is converted one character at a time, so that each
// flaw is replaced on its own as on Linux.
#include "platform/core/Win32_p.h"

#include "platform/core/Text.h"

namespace ovelta {

namespace {

constexpr UINT kCp932 = 932;
constexpr wchar_t kReplacementCharacter = 0xFFFD;

// Length of the UTF-8 sequence that starts with Lead (1 for a stray byte).
std::size_t Utf8SequenceLength(unsigned char Lead) {
  if (Lead >= 0xF0 && Lead <= 0xF7) return 4;
  if (Lead >= 0xE0) return 3;
  if (Lead >= 0xC0) return 2;
  return 1;
}

// Appends the strict conversion of Input from code page From to Wide; false when Input has a flaw.
bool AppendWide(UINT From, std::string_view Input, std::wstring& Wide) {
  if (Input.empty()) return true;
  if (Input.size() > 0x7FFFFFFF) return false;
  const int size = static_cast<int>(Input.size());
  const int count = MultiByteToWideChar(From, MB_ERR_INVALID_CHARS, Input.data(), size, nullptr, 0);
  if (count <= 0) return false;
  const std::size_t at = Wide.size();
  Wide.resize(at + static_cast<std::size_t>(count));
  MultiByteToWideChar(From, MB_ERR_INVALID_CHARS, Input.data(), size, Wide.data() + at, count);
  return true;
}

// Input (code page From) as UTF-16, each flawed sequence (its length told by SequenceLength)
// replaced by Replacement.
std::wstring ToWide(UINT From, std::string_view Input, std::wstring_view Replacement,
                    std::size_t (*SequenceLength)(unsigned char)) {
  std::wstring wide;
  if (AppendWide(From, Input, wide)) return wide;
  wide.clear();
  for (std::size_t at = 0; at < Input.size();) {
    std::size_t length = SequenceLength(static_cast<unsigned char>(Input[at]));
    if (length > Input.size() - at) length = Input.size() - at;
    if (!AppendWide(From, Input.substr(at, length), wide)) wide.append(Replacement);
    at += length;
  }
  return wide;
}

// Wide in CP932; with NoBestFit, a character CP932 lacks becomes "?" and UsedDefault is set.
std::string FromWideToCp932(std::wstring_view Wide, bool* UsedDefault) {
  std::string result;
  if (Wide.empty() || Wide.size() > 0x7FFFFFFF) return result;
  const int size = static_cast<int>(Wide.size());
  BOOL usedDefault = FALSE;
  const int count = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, Wide.data(), size, nullptr,
                                        0, "?", &usedDefault);
  if (count <= 0) {
    *UsedDefault = true;
    return result;
  }
  result.resize(static_cast<std::size_t>(count));
  WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, Wide.data(), size, result.data(), count, "?",
                      &usedDefault);
  *UsedDefault = usedDefault != FALSE;
  return result;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view Cp932) {
  const std::wstring replacement(1, kReplacementCharacter);
  return win32::WideToUtf8(ToWide(kCp932, Cp932, replacement, [](unsigned char Lead) {
    return std::size_t{IsDBCSLeadByte(Lead) ? 2u : 1u};
  }));
}

AnsiString Utf8ToCp932(std::string_view Utf8) {
  // A character the UTF-8 cannot carry (a flaw) comes through as U+FFFD, which CP932 lacks: "?".
  const std::wstring wide =
      ToWide(CP_UTF8, Utf8, std::wstring(1, kReplacementCharacter), Utf8SequenceLength);
  bool usedDefault = false;
  AnsiString whole = FromWideToCp932(wide, &usedDefault);
  if (!usedDefault) return whole;
  // One "?" per character CP932 lacks, a pair of surrogates being one character.
  AnsiString result;
  for (std::size_t at = 0; at < wide.size();) {
    std::size_t length = 1;
    if (wide[at] >= 0xD800 && wide[at] <= 0xDBFF && at + 1 < wide.size() &&
        wide[at + 1] >= 0xDC00 && wide[at + 1] <= 0xDFFF)
      length = 2;
    bool lacked = false;
    AnsiString piece = FromWideToCp932(std::wstring_view(wide).substr(at, length), &lacked);
    result += lacked ? AnsiString("?") : piece;
    at += length;
  }
  return result;
}

}  // namespace ovelta

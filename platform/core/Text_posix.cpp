// CP932 <-> UTF-8 through glibc's iconv, one descriptor per call (iconv descriptors are not
// thread-safe, and these conversions are rare and short: they happen only at the UI boundary).
#include "platform/core/Text.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace ovelta {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Length of the UTF-8 sequence that starts with Lead (1 for a stray byte).
size_t Utf8SequenceLength(unsigned char Lead) {
  if (Lead >= 0xF0 && Lead <= 0xF7) return 4;
  if (Lead >= 0xE0) return 3;
  if (Lead >= 0xC0) return 2;
  return 1;
}

// Length of the CP932 character that starts with Lead.
size_t Cp932SequenceLength(unsigned char Lead) { return IsDBCSLeadByte(Lead) ? 2 : 1; }

// Converts Input; an input sequence that cannot be converted is skipped (its length told by
// SequenceLength) and Replacement written in its place.
std::string Convert(const char* To, const char* From, std::string_view Input,
                    std::string_view Replacement, size_t (*SequenceLength)(unsigned char)) {
  std::string result;
  iconv_t handle = iconv_open(To, From);
  if (handle == kNoConverter) {
    for (char c : Input) {
      if (static_cast<unsigned char>(c) < 0x80)
        result.push_back(c);
      else
        result.append(Replacement);
    }
    return result;
  }
  std::vector<char> out(Input.size() * 4 + 16);
  char* in_ptr = const_cast<char*>(Input.data());
  size_t inLeft = Input.size();
  while (inLeft > 0) {
    char* out_ptr = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(handle, &in_ptr, &inLeft, &out_ptr, &outLeft);
    result.append(out.data(), out.size() - outLeft);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      size_t skip = SequenceLength(static_cast<unsigned char>(*in_ptr));
      if (skip > inLeft) skip = inLeft;
      in_ptr += skip;
      inLeft -= skip;
      result.append(Replacement);
      iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(handle);
  return result;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view Cp932) {
  return Convert("UTF-8", "CP932", Cp932, kReplacementUtf8, Cp932SequenceLength);
}

AnsiString Utf8ToCp932(std::string_view Utf8) {
  return Convert("CP932", "UTF-8", Utf8, "?", Utf8SequenceLength);
}

}  // namespace ovelta

// The table of Windows Japanese faces and the installed faces that stand in for them.
#include "platform/gdi/Fonts.h"

#include <array>
#include <string_view>

#include "platform/core/Text.h"

namespace ovelta {

namespace {

struct FaceMapping {
  std::string_view Windows;  // UTF-8
  std::string_view Linux;
};

// Both the Japanese names (full-width letters and blank) and the English names of each face. The
// only table of faces: forms and canvases both map through it.
constexpr std::array<FaceMapping, 9> kFaces = {{
    {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"ＭＳ ゴシック", "IPAGothic"},
    {"ＭＳ Ｐ明朝", "IPAPMincho"},
    {"ＭＳ 明朝", "IPAMincho"},
    {"MS PGothic", "IPAPGothic"},
    {"MS Gothic", "IPAGothic"},
    {"MS PMincho", "IPAPMincho"},
    {"MS Mincho", "IPAMincho"},
    {"MS UI Gothic", "IPAPGothic"},
}};

}  // namespace

std::string FontFamilyFor(const AnsiString& Face) {
  std::string utf8 = Cp932ToUtf8(Face);
  for (const FaceMapping& face : kFaces)
    if (utf8 == face.Windows) return std::string(face.Linux);
  return utf8;
}

}  // namespace ovelta

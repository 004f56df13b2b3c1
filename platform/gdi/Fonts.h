// Font faces. The system's forms name the Windows Japanese faces ("ＭＳ Ｐゴシック"); on Linux the
// IPA fonts (Debian's fonts-ipafont-gothic and fonts-ipafont-mincho) stand in for them with the
// same metrics: the proportional "ＭＳ Ｐゴシック" is IPAPGothic, the fixed-pitch "ＭＳ ゴシック"
// is IPAGothic, the Mincho faces likewise IPAPMincho and IPAMincho, and "MS UI Gothic" IPAPGothic.
// Forms and canvases (TFont) both map faces through FontFamilyFor.
#pragma once

#include <string>

#include "platform/core/Types.h"

namespace ovelta {

// The installed family (UTF-8) to use for the face Face (CP932). A face without a stand-in keeps
// its own name (converted to UTF-8), for the font system to match as it can.
std::string FontFamilyFor(const AnsiString& Face);

}  // namespace ovelta

// The unit Ovfpat: TFontPat, a non-visual component that renders one character of a Shift-JIS text
// with a font into a square pattern of palette indices (glyph pixels the foreground index, all
// others the background index), ready for TOvDib's pattern blits: PutPat, or PasPat with the
// background as the key. NextLetter steps through the text a character at a time, double-byte
// characters included.
#pragma once

#include <memory>

#include "platform/core/Component.h"
#include "platform/gdi/Graphics.h"
#include "platform/core/Types.h"

namespace ovelta {

class TOvDib;

// The font pattern.
//
// Pattern: Size() rows of Size() bytes, top row first, no padding; every byte is Foreground() or
// Background(). The block belongs to the component; its address changes only with SetSize, so take
// it again after each change of size. Every operation that changes the letter, the size or the
// colours rebuilds the pattern at once and fires OnChange.
//
// Drawing: a private 8-bit surface of Size() x Size() pixels (palette: 0 black, 1 to 255 white) is
// linked to a framework bitmap whose canvas draws the letter in black on white, without
// anti-aliasing, with its top-left corner at (0, 0), in Font(). The face "ＭＳ ゴシック" (the
// default) stands for the platform's fixed-pitch Japanese gothic face.
class TFontPat : public TComponent {
 public:
  // Text empty, Index 0, Size 32, Foreground 0, Background 255; the font an em height of 32 pixels
  // in "ＭＳ ゴシック", fixed pitch, black. No pattern is made yet: its bytes are undefined until
  // the first MakeFontPat (or any operation that rebuilds it).
  explicit TFontPat(TComponent* AOwner);
  ~TFontPat() override;
  std::string ClassName() const override { return "TFontPat"; }

  // ---- Published properties ----
  const AnsiString& Text() const { return FText; }
  // Index becomes 1 (0 for an empty text); the pattern is rebuilt.
  void SetText(const AnsiString& Value);
  // 1-based byte position of the current letter in Text; 0 means no letter (a background-only
  // pattern).
  int Index() const { return FIndex; }
  // Held to 1..length of Text (a value of 0 or less stays as it is for an empty text); rebuilds.
  void SetIndex(int Value);
  int Size() const { return FSize; }
  // Values below 1 are ignored, and so is a size whose pattern block cannot be had (the old size
  // and pattern stay). Otherwise the pattern and the surface get the new size, the font's height
  // becomes -Value, and the pattern is rebuilt.
  void SetSize(int Value);
  Byte Foreground() const { return FForeground; }
  // Recolours the pattern from the last drawing (nothing is drawn again).
  void SetFore(Byte Value);
  Byte Background() const { return FBackground; }
  void SetBack(Byte Value);
  // The canvas font. Changing it through this pointer takes effect as FontOnChange says.
  TFont* Font() { return GetFont(); }
  TFont* GetFont();
  // The canvas font takes every attribute of Value (nothing for null) but its smoothing, then is
  // made black.
  void SetFont(const TFont* Value);
  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

  // The current pattern (Size() x Size() bytes), or null only if even the first block could not be
  // had. Clients read it directly.
  Byte* Pattern = nullptr;

  // ---- Operations ----
  // FontToBmp, then BmpToPat.
  void MakeFontPat();
  // Draws the current letter on the canvas: the whole character also when Index names its second
  // byte; nothing but the white square when there is no letter.
  void FontToBmp();
  // Turns the surface's pixels into the pattern (black to Foreground, anything else to Background),
  // then fires OnChange.
  void BmpToPat();
  // Steps to the next character (one byte on, two after a lead byte) and rebuilds; past the end the
  // index becomes 0. Returns the new index; with an empty text or an index below 1 nothing happens
  // and the index is returned. So a loop until 0 visits every character once from index 1.
  int NextLetter();
  // The canvas font's change handler: a negative height other than -Size() resizes the pattern to
  // -height; any colour but black is set back to black; then the handler the font had before is
  // called with the same sender. Other changes take effect at the next rebuild.
  void FontOnChange(TObject* Sender);
  // Fires OnChange with the component as sender.
  void Change();
  // The surface's palette: entry 0 black, 1 to 255 white.
  void SetFontPal();

 private:
  // The letter at FIndex: one byte, or the two bytes of a double-byte character; empty for none.
  AnsiString CurrentLetter() const;

  AnsiString FText;
  int FIndex = 0;
  int FSize = 32;
  Byte FForeground = 0;
  Byte FBackground = 255;
  std::unique_ptr<TBitmap> FBitmap;
  TOvDib* FDib = nullptr;  // owned as a component of this one
  TNotifyEvent FOnChange;
  TNotifyEvent FPreviousFontChange;
};

namespace Ovfpat {
// Registers TFontPat on the component palette page "Ovelta".
void Register();
}  // namespace Ovfpat

}  // namespace ovelta

// TFontPat: one character of a Shift-JIS text drawn with the canvas font onto a small private
// surface, then turned into a square pattern of foreground and background indices; the byte-type
// walk that finds whole double-byte characters; and the font handler that keeps the pattern size
// and the font height together.
#include "graphics/Ovfpat.h"

#include <cstring>

#include "graphics/Ovdib.h"
#include "platform/core/Heap.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

constexpr int kDefaultSize = 32;
// A pattern side beyond the largest surface side cannot be drawn.
constexpr int kMaxSize = 32768;
const char* const kDefaultFace = "ＭＳ ゴシック";

enum class TByteType { Single, Lead, Trail };

// The type of the byte at 1-based Index of Text, found by walking the characters from the start (a
// byte in the lead range may be the second byte of a character). Index must lie in the text.
TByteType ByteType(const AnsiString& Text, int Index) {
  int position = 1;
  for (;;) {
    const bool lead = IsDBCSLeadByte(Text[position - 1]);
    if (position == Index) return lead ? TByteType::Lead : TByteType::Single;
    if (lead && position + 1 == Index) return TByteType::Trail;
    position += lead ? 2 : 1;
  }
}

Byte* AllocPattern(int Size) {
  return static_cast<Byte*>(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(Size) * Size));
}

}  // namespace

TFontPat::TFontPat(TComponent* AOwner) : TComponent(AOwner) {
  Pattern = AllocPattern(kDefaultSize);
  FBitmap = std::make_unique<TBitmap>();
  FDib = new TOvDib(this, FSize, FSize);
  SetFontPal();
  FDib->SetBitmap(FBitmap.get());
  FBitmap->SetWidth(FSize);
  FBitmap->SetHeight(FSize);

  TCanvas* canvas = FBitmap->Canvas();
  canvas->Brush()->SetColor(clWhite);
  canvas->Brush()->SetStyle(TBrushStyle::bsSolid);
  TFont* font = canvas->Font();
  font->SetHeight(-FSize);
  font->SetName(Sjis(kDefaultFace));
  font->SetPitch(TFontPitch::fpFixed);
  font->SetColor(clBlack);
  // Every pattern byte must come out as the foreground or the background: no grey edges.
  font->SetQuality(TFontQuality::fqNonAntialiased);

  FPreviousFontChange = font->OnChange();
  font->SetOnChange([this](TObject* Sender) { FontOnChange(Sender); });
}

TFontPat::~TFontPat() {
  GlobalFree(Pattern);
  Pattern = nullptr;
  // The font's handler points at this component: give the font its own handler back first.
  FBitmap->Canvas()->Font()->SetOnChange(FPreviousFontChange);
  FDib->EndBitmap();
  delete FDib;  // leaves this component's list of owned components
  FDib = nullptr;
  FBitmap.reset();
}

void TFontPat::SetText(const AnsiString& Value) {
  FText = Value;
  FIndex = FText.empty() ? 0 : 1;
  MakeFontPat();
}

void TFontPat::SetIndex(int Value) {
  FIndex = Value;
  if (!FText.empty() && FIndex < 1) FIndex = 1;
  if (FIndex > static_cast<int>(FText.size())) FIndex = static_cast<int>(FText.size());
  MakeFontPat();
}

void TFontPat::SetSize(int Value) {
  if (Value < 1 || Value > kMaxSize) return;
  Byte* block = AllocPattern(Value);
  if (!block) return;  // keep the old size and pattern rather than draw into nothing
  FSize = Value;
  GlobalFree(Pattern);
  Pattern = block;
  FDib->ResizeDib(Value, Value);
  TFont* font = GetFont();
  if (font->Height() != -Value) font->SetHeight(-Value);  // FontOnChange then finds it matching
  MakeFontPat();
}

void TFontPat::SetFore(Byte Value) {
  FForeground = Value;
  BmpToPat();
}

void TFontPat::SetBack(Byte Value) {
  FBackground = Value;
  BmpToPat();
}

TFont* TFontPat::GetFont() { return FBitmap->Canvas()->Font(); }

void TFontPat::SetFont(const TFont* Value) {
  TFont* font = GetFont();
  if (Value) font->Assign(*Value);
  font->SetQuality(TFontQuality::fqNonAntialiased);  // the given font's smoothing is not taken
  font->SetColor(clBlack);
}

void TFontPat::MakeFontPat() {
  FontToBmp();
  BmpToPat();
}

AnsiString TFontPat::CurrentLetter() const {
  if (FText.empty() || FIndex < 1 || FIndex > static_cast<int>(FText.size())) return {};
  switch (ByteType(FText, FIndex)) {
    case TByteType::Single:
      return FText.substr(FIndex - 1, 1);
    case TByteType::Lead:
      return FText.substr(FIndex - 1, 2);  // cut at the end of the text
    case TByteType::Trail:
      return FText.substr(FIndex - 2, 2);
  }
  return {};
}

void TFontPat::FontToBmp() {
  const AnsiString letter = CurrentLetter();
  TCanvas* canvas = FBitmap->Canvas();
  canvas->FillRect(TRect(0, 0, FSize, FSize));
  if (!letter.empty()) canvas->TextOut(0, 0, letter);
}

void TFontPat::BmpToPat() {
  if (Pattern) {
    const std::size_t bytes = static_cast<std::size_t>(FSize) * FSize;
    // A surface that lost its storage reads as all background.
    if (!FDib->GetPat(0, 0, FSize, FSize, Pattern)) std::memset(Pattern, 1, bytes);
    for (std::size_t i = 0; i < bytes; ++i)
      Pattern[i] = Pattern[i] == 0 ? FForeground : FBackground;
  }
  Change();
}

int TFontPat::NextLetter() {
  if (FText.empty() || FIndex < 1) return FIndex;
  if (FIndex <= static_cast<int>(FText.size()))
    FIndex += ByteType(FText, FIndex) == TByteType::Lead ? 2 : 1;
  if (FIndex > static_cast<int>(FText.size())) FIndex = 0;
  MakeFontPat();
  return FIndex;
}

void TFontPat::FontOnChange(TObject* Sender) {
  TFont* font = GetFont();
  const int height = font->Height();
  if (height < 0 && height != -FSize && height >= -kMaxSize) SetSize(-height);
  if (font->Color() != clBlack) font->SetColor(clBlack);
  Fire(FPreviousFontChange, Sender);
}

void TFontPat::Change() { Fire(FOnChange, this); }

void TFontPat::SetFontPal() {
  const RGBQUAD black{0, 0, 0, 0};
  const RGBQUAD white{255, 255, 255, 0};
  FDib->SetPal1(0, &black);
  for (int i = 1; i < 256; ++i) FDib->SetPal1(i, &white);
}

namespace Ovfpat {
void Register() { RegisterComponents(kOveltaPage, {"TFontPat"}); }
}  // namespace Ovfpat

}  // namespace ovelta

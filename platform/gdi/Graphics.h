// The graphics services the library's drawing units stand on, in the shape of the platform's
// graphics interface and of the framework's graphic classes:
//
//   - graphics objects behind handles: device-independent bitmap sections (8-bit with a 256-entry
//   colour
//     table, or 32-bit), logical palettes, rectangular clip regions, and the stock default palette
//     with the platform's 20 static colours;
//   - device contexts: the desktop window's screen context and memory contexts into which a bitmap
//   is
//     selected, with BitBlt between them;
//   - the framework classes TFont, TBrush, TCanvas, TBitmap, TPicture and TImage (an image control
//   that
//     shows a picture's bitmap and repaints when the bitmap says it changed).
//
// A bitmap section keeps its own pixel bytes; the canvases and the image control draw and show
// those very bytes (nothing is copied). Drawing on an 8-bit bitmap goes through RGB and back to the
// nearest colour-table index. Handles are checked: a stale or foreign handle is refused (null, 0 or
// false), never followed. Everything here belongs to the user-interface thread.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/core/Component.h"
#include "platform/core/Types.h"

class QWidget;  // the image control's widget, for placing it in a window
#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

// ---------------------------------------------------------------------------------------------
// Plain types
// ---------------------------------------------------------------------------------------------

struct TPoint {
  int x = 0;
  int y = 0;
};

// A rectangle: Left and Top inside, Right and Bottom just outside (as the platform's RECT), except
// where an operation says its rectangle is inclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  TRect() = default;
  TRect(int ALeft, int ATop, int ARight, int ABottom)
      : Left(ALeft), Top(ATop), Right(ARight), Bottom(ABottom) {}
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

// The framework's colour: 0x00BBGGRR (red in the low byte, as the platform's COLORREF).
using TColor = std::int32_t;
using COLORREF = DWord;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
// System colours: the high byte 0xFF marks an index into the desktop's colour scheme.
inline constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);
inline constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);
constexpr bool IsSystemColor(TColor Colour) { return (static_cast<DWord>(Colour) >> 24) == 0xFF; }

// The character set a font is asked for with (the Shift-JIS set for Japanese text).
inline constexpr int DEFAULT_CHARSET = 1;
inline constexpr int SHIFTJIS_CHARSET = 128;
constexpr COLORREF RGB(Byte Red, Byte Green, Byte Blue) {
  return static_cast<COLORREF>(Red) | static_cast<COLORREF>(Green) << 8 |
         static_cast<COLORREF>(Blue) << 16;
}
constexpr Byte GetRValue(COLORREF Colour) { return static_cast<Byte>(Colour); }
constexpr Byte GetGValue(COLORREF Colour) { return static_cast<Byte>(Colour >> 8); }
constexpr Byte GetBValue(COLORREF Colour) { return static_cast<Byte>(Colour >> 16); }

// ---------------------------------------------------------------------------------------------
// Handles and descriptions
// ---------------------------------------------------------------------------------------------

struct HWND__;
struct HDC__;
struct HBITMAP__;
struct HPALETTE__;
struct HRGN__;
using HWND = HWND__*;
using HDC = HDC__*;
using HBITMAP = HBITMAP__*;
using HPALETTE = HPALETTE__*;
using HRGN = HRGN__*;
using HGDIOBJ = void*;  // any of HBITMAP, HPALETTE, HRGN

struct BITMAPINFOHEADER {
  DWord biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // negative: top-down rows, row 0 at the lowest address
  Word biPlanes = 1;
  Word biBitCount = 0;
  DWord biCompression = 0;
  DWord biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  DWord biClrUsed = 0;
  DWord biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// A bitmap description with room for a full 256-entry colour table.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256];
};

struct PALETTEENTRY {
  Byte peRed = 0;
  Byte peGreen = 0;
  Byte peBlue = 0;
  Byte peFlags = 0;
};
static_assert(sizeof(PALETTEENTRY) == 4);

// A logical palette description with room for 256 entries.
struct LOGPALETTE {
  Word palVersion = 0x300;
  Word palNumEntries = 0;
  PALETTEENTRY palPalEntry[256];
};

inline constexpr DWord BI_RGB = 0;
inline constexpr unsigned DIB_RGB_COLORS = 0;
inline constexpr DWord SRCCOPY = 0x00CC0020;
inline constexpr int DEFAULT_PALETTE = 15;
inline constexpr int kSystemColours = 20;

// The platform's 20 static colours, in the order of the default palette: the first ten are the
// dark colours, the last ten the light ones.
const PALETTEENTRY* SystemColours();

// ---------------------------------------------------------------------------------------------
// Graphics calls (the platform's names and contracts)
// ---------------------------------------------------------------------------------------------

// The desktop window and its screen context. The screen context has no pixels of its own: copies to
// or from it fail. Each GetDC is matched by one ReleaseDC.
HWND GetDesktopWindow();
HDC GetDC(HWND Window);
int ReleaseDC(HWND Window, HDC Context);

// A memory context; it starts with a 1 x 1 placeholder bitmap selected. Null when Reference is not
// a valid context (null is accepted: the screen).
HDC CreateCompatibleDC(HDC Reference);
bool DeleteDC(HDC Context);
// Selects a bitmap (or clip region) into a memory context and returns what was selected before, or
// null on failure. A palette is accepted and recorded but has no effect on the pixels.
HGDIOBJ SelectObject(HDC Context, HGDIOBJ Object);
// Destroys a bitmap, palette or region. Stock objects and unknown handles give false. A bitmap
// still selected into a context is destroyed all the same; that context then has nothing to draw
// into.
bool DeleteObject(HGDIOBJ Object);
HGDIOBJ GetStockObject(int Which);

// A bitmap section from a description: 8 bits per pixel (with the colour table of Info, which must
// then hold 256 entries) or 32 bits, uncompressed, width and height 1 to 32768 (a negative height
// is top-down), one plane. *Bits receives the address of row 0 of the stored order. Null (and *Bits
// null) on a bad description or when the memory cannot be had. Rows are padded to a multiple of 4
// bytes; new pixels are 0.
HBITMAP CreateDIBSection(HDC Context, const BITMAPINFO* Info, unsigned Usage, void** Bits,
                         void* Section, DWord Offset);

HPALETTE CreatePalette(const LOGPALETTE* Palette);
// Copy entries out of or into a palette; the number of entries copied (0 on a bad handle or range).
unsigned GetPaletteEntries(HPALETTE Palette, unsigned Start, unsigned Count, PALETTEENTRY* Entries);
unsigned SetPaletteEntries(HPALETTE Palette, unsigned Start, unsigned Count,
                           const PALETTEENTRY* Entries);
// The colour table of the 8-bit bitmap selected into Context; the number of entries copied (0 when
// no 8-bit bitmap is selected).
unsigned SetDIBColorTable(HDC Context, unsigned Start, unsigned Count, const RGBQUAD* Colours);
unsigned GetDIBColorTable(HDC Context, unsigned Start, unsigned Count, RGBQUAD* Colours);

// Rectangular clip regions (right and bottom outside). SelectClipRgn with null removes the
// clipping; with a region, the context keeps its own copy. Results: 1 on success, 0 on failure.
HRGN CreateRectRgn(int Left, int Top, int Right, int Bottom);
int SelectClipRgn(HDC Context, HRGN Region);

// Copies Width x Height pixels (SRCCOPY only) from Source at (SourceX, SourceY) to Dest at (X, Y),
// clipped to both bitmaps and to Dest's clip region. Between 8-bit bitmaps with the same colour
// table the indices are copied; otherwise colours are matched (8-bit destinations take the nearest
// colour-table index). False when either context has no bitmap or the operation is not SRCCOPY.
bool BitBlt(HDC Dest, int X, int Y, int Width, int Height, HDC Source, int SourceX, int SourceY,
            DWord Rop);

// One pixel as a colour, or 0xFFFFFFFF (CLR_INVALID) outside the bitmap; SetPixel stores the
// nearest colour and returns it, or CLR_INVALID.
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
COLORREF GetPixel(HDC Context, int X, int Y);
COLORREF SetPixel(HDC Context, int X, int Y, COLORREF Colour);

// The bitmap of a handle: size, bits per pixel, stride and row 0; false for a bad handle.
struct TBitmapFacts {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;
  int Stride = 0;
  Byte* Bits = nullptr;
};
bool GetBitmapFacts(HBITMAP Bitmap, TBitmapFacts* Facts);

// ---------------------------------------------------------------------------------------------
// Framework graphic classes
// ---------------------------------------------------------------------------------------------

enum class TFontPitch { fpDefault, fpVariable, fpFixed };
enum class TFontQuality { fqDefault, fqNonAntialiased, fqAntialiased };
enum class TBrushStyle { bsSolid, bsClear };

// A font description. Height < 0 asks for a character (em) height of -Height pixels; Height > 0 for
// a cell height (ascent plus descent) of Height pixels. Name is CP932; the Windows Japanese faces
// ("ＭＳ ゴシック", "ＭＳ Ｐゴシック", "ＭＳ 明朝" and their English names) stand for the IPA
// fonts. fqNonAntialiased draws every glyph pixel fully in the font colour and leaves the others
// alone. Every change of an attribute that differs from the current value raises OnChange.
class TFont : public TObject {
 public:
  TFont();
  std::string ClassName() const override { return "TFont"; }

  int Height() const { return FHeight; }
  void SetHeight(int Value);
  // Points at 96 pixels per inch: Size = -Height * 72 / 96 (rounded).
  int Size() const;
  void SetSize(int Value);
  const AnsiString& Name() const { return FName; }
  void SetName(const AnsiString& Value);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool Bold() const { return FBold; }
  void SetBold(bool Value);
  TFontQuality Quality() const { return FQuality; }
  void SetQuality(TFontQuality Value);
  int Charset() const { return FCharset; }
  void SetCharset(int Value);
  // Takes every attribute of Source, then raises OnChange once (if anything differed).
  void Assign(const TFont& Source);

  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

 private:
  void Changed();
  int FHeight = -12;
  AnsiString FName;
  TFontPitch FPitch = TFontPitch::fpDefault;
  TColor FColor = clBlack;
  bool FBold = false;
  TFontQuality FQuality = TFontQuality::fqDefault;
  int FCharset = DEFAULT_CHARSET;
  TNotifyEvent FOnChange;
};

class TBrush : public TObject {
 public:
  std::string ClassName() const override { return "TBrush"; }
  TColor Color() const { return FColor; }
  void SetColor(TColor Value) { FColor = Value; }
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value) { FStyle = Value; }

 private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = TBrushStyle::bsSolid;
};

class TBitmap;

// Drawing on a bitmap. The canvas's context (Handle) is a memory context with the bitmap's current
// handle selected, made when first asked for; it is null while the bitmap has no handle.
class TCanvas : public TObject {
 public:
  explicit TCanvas(TBitmap* Owner);
  ~TCanvas() override;
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  std::string ClassName() const override { return "TCanvas"; }

  HDC Handle();
  TBrush* Brush() { return &FBrush; }
  TFont* Font() { return &FFont; }

  // Fills the rectangle (right and bottom outside) with the brush colour; clipped to the bitmap and
  // to the context's clip region. Nothing with a clear brush.
  void FillRect(const TRect& Rect);
  // Draws Text (CP932) with its top-left corner at (X, Y) in the font; with a solid brush the
  // text's cell is filled with the brush colour first.
  void TextOut(int X, int Y, const AnsiString& Text);
  int TextWidth(const AnsiString& Text);
  int TextHeight(const AnsiString& Text);
  COLORREF Pixel(int X, int Y);
  void SetPixel(int X, int Y, TColor Colour);

 private:
  friend class TBitmap;
  void Detach();  // the bitmap's handle is about to change
  TBitmap* FOwner;
  TBrush FBrush;
  TFont FFont;
  HDC FContext = nullptr;
  HGDIOBJ FOldBitmap = nullptr;
};

// The framework bitmap. It owns its handle (destroying it with itself or when another is assigned)
// unless the handle is released; the same for its palette. A bitmap without a handle is empty.
// Modified(true) tells those who show the bitmap that its pixels changed (OnChange).
class TBitmap : public TObject {
 public:
  TBitmap();
  ~TBitmap() override;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;
  std::string ClassName() const override { return "TBitmap"; }

  HBITMAP Handle() const { return FHandle; }
  // Adopts Value as the bitmap's image (destroying the previous one unless it is the same); the
  // pixels stay where the section keeps them. Raises OnChange.
  void SetHandle(HBITMAP Value);
  // Gives the handle back without destroying it; the bitmap is empty afterwards.
  HBITMAP ReleaseHandle();
  HPALETTE Palette() const { return FPalette; }
  void SetPalette(HPALETTE Value);
  HPALETTE ReleasePalette();

  int Width() const;
  int Height() const;
  // A new size makes a new image of that size (8-bit images keep their colour table), keeping the
  // overlapping pixels (new ones are index 0, or white); the same size changes nothing. An empty
  // bitmap gets its image once both sizes are set.
  void SetWidth(int Value);
  void SetHeight(int Value);
  bool Empty() const { return FHandle == nullptr; }

  TCanvas* Canvas() { return &FCanvas; }

  bool Modified() const { return FModified; }
  void SetModified(bool Value);
  bool PaletteModified() const { return FPaletteModified; }
  void SetPaletteModified(bool Value) { FPaletteModified = Value; }

  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

 private:
  void Changed();
  void Resize(int NewWidth, int NewHeight);
  HBITMAP FHandle = nullptr;
  HPALETTE FPalette = nullptr;
  int FPendingWidth = 0;  // the size asked for while there is no image
  int FPendingHeight = 0;
  TCanvas FCanvas{this};
  bool FModified = false;
  bool FPaletteModified = false;
  TNotifyEvent FOnChange;
};

// Holds one graphic, here always a bitmap. Bitmap() makes an empty one when there is none. A change
// of the bitmap raises the picture's OnChange.
class TPicture : public TObject {
 public:
  TPicture();
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;
  std::string ClassName() const override { return "TPicture"; }

  TBitmap* Bitmap();
  bool HasBitmap() const { return FBitmap != nullptr; }
  int Width() const;
  int Height() const;

  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

 private:
  std::unique_ptr<TBitmap> FBitmap;
  TNotifyEvent FOnChange;
};

// The image control: a widget that shows its picture's bitmap at its top-left corner and schedules
// a repaint whenever the picture changes. Destroying it destroys the picture and its bitmap (with
// the bitmap's handle). The widget is made with the control; give it a parent with SetParentWidget.
class TImage : public TComponent {
 public:
  explicit TImage(TComponent* AOwner);
  ~TImage() override;
  std::string ClassName() const override { return "TImage"; }

  TPicture* Picture() { return &FPicture; }

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  void SetWidth(int Value) { SetBounds(Left(), Top(), Value, Height()); }
  void SetHeight(int Value) { SetBounds(Left(), Top(), Width(), Value); }
  bool Stretch() const { return FStretch; }
  void SetStretch(bool Value);

  // Schedules a repaint (Invalidate), or repaints at once when the widget is visible (Update).
  void Invalidate();
  void Update();

  QWidget* Widget() const;
  void SetParentWidget(QWidget* Parent);

  // Repaints asked for (by picture changes, Invalidate and Update) since construction.
  int RepaintRequests() const { return FRepaintRequests; }

 private:
  struct TState;
  void PictureChanged(TObject* Sender);
  TPicture FPicture;
  bool FStretch = false;
  int FRepaintRequests = 0;
  std::unique_ptr<TState> FState;
};

// Makes sure a GUI application object exists (fonts and widgets need one). A program that makes its
// own QApplication must do so before the first call; without one, a hidden one is made here for the
// rest of the process.
void EnsureGuiApplication();

}  // namespace ovelta

// The unit Ovdib: TOvDib, a non-visual component that owns an 8-bit, 256-colour drawing surface (a
// top-down bitmap section whose pixel bytes the program reads and writes directly) together with a
// 256-entry logical palette; links it to a framework bitmap or image control so that it is shown on
// a window and repaints when drawn on; loads BMP images and ACT palettes into it; and draws on it
// with per-pixel operators, lines, boxes, masked fills and pattern blits.
#pragma once

#include "graphics/Ovbitmap.h"
#include "platform/core/Component.h"
#include "platform/gdi/Graphics.h"
#include "platform/core/Resources.h"
#include "platform/core/Types.h"

namespace ovelta {

class TOvPack;

// The per-pixel operator of the drawing operations: how the drawing value s (a colour or pattern
// byte) combines with the pixel's index d. Other values act as Ov_SET.
enum TOvMethod : Byte {
  Ov_SET = 0,  // s
  Ov_NOT = 1,  // s (as Ov_SET, but never through a plain-copy shortcut)
  Ov_AND = 2,  // d AND s
  Ov_OR = 3,   // d OR s
  Ov_XOR = 4,  // d XOR s
  Ov_ADD = 5,  // d + s, at most 255
  Ov_SUB = 6,  // d - s when s < d, otherwise 0
  Ov_MED = 7,  // (d + s) / 2, rounded down
};

// The drawing surface.
//
// Storage: Height() rows of Stride() bytes (Width() rounded up to a multiple of 4); byte x of row
// y, at ImagePtr() + y * Stride() + x, is the palette index of the pixel at column x, row y; row 0
// is the top row. Bytes between Width() and Stride() in a row are storage only. Without storage (in
// design mode, when the section could not be made, after EndDib) every drawing, palette and copy
// operation does nothing and those with a result return false.
//
// Linking: while a framework bitmap is linked (StartBitmap, SetBitmap, SetImage), it has adopted
// the surface's section as its image, so it shows the same pixels; every drawing operation then
// records the change with SetModified, which marks the bitmap modified (it repaints) unless
// ModifiedOff holds the news back, and fires OnChange. Without a linked bitmap nothing is recorded
// and OnChange stays quiet.
//
// The surface owns its section and palette; the linked bitmap and image are not owned. The surface
// belongs to the user-interface thread.
class TOvDib : public TComponent {
 public:
  // 640 x 480, Ov_SET, not reversed, no image, switch on; storage made at once (not in design
  // mode).
  explicit TOvDib(TComponent* AOwner);
  TOvDib(TComponent* AOwner, int AWidth, int AHeight);
  ~TOvDib() override;
  std::string ClassName() const override { return "TOvDib"; }

  void Loaded() override;
  // Removal of the linked image at run time gives the surface fresh storage of its current size
  // with the default palette (the image's bitmap took the old section with it).
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // ---- Published properties ----
  int Width() const { return FWidth; }
  // With storage: resize keeping the picture (top-left block) and the palette. Without: store the
  // value and try to make storage.
  void SetWidth(int Value);
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  TImage* Image() const { return FImage; }
  void SetImage(TImage* Value);
  TOvMethod Method() const { return FMethod; }
  void SetMethod(TOvMethod Value) { FMethod = Value; }
  bool Reverse() const { return FReverse; }
  void SetReverse(bool Value) { FReverse = Value; }
  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent Value) { FOnChange = std::move(Value); }

  // ---- Storage ----
  // Makes the section and palette of the current size (nothing in design mode or with storage).
  void InitDib();
  // Unlinks the bitmap, gives back the context and destroys section and palette.
  void EndDib();
  // New storage of Width x Height keeping the top-left block of the picture and the palette; new
  // pixels are 0. Without storage nothing happens (the size is not changed either).
  void ResizeDib(int AWidth, int AHeight);
  // The pixel bytes (row 0 first), or null without storage.
  Byte* ImagePtr() const { return FDib ? FBits : nullptr; }
  // Bytes per row.
  int Stride() const { return FStride; }

  // ---- Linking to the framework ----
  // Links Bitmap (it adopts the section); unlinks another bitmap first. Nothing without storage.
  void StartBitmap(TBitmap* Bitmap);
  // Unlinks the bitmap (it gives the section back without destroying it) and clears the image link.
  void EndBitmap();
  // Outside design mode and for a non-null bitmap: StartBitmap. In every case clears the image
  // link.
  void SetBitmap(TBitmap* Bitmap);
  // A memory context with the section selected, for the platform's graphics calls; pair each call
  // with one ReleaseBmpDC. Called again while held: the linked bitmap's canvas context, or null.
  HDC GetBmpDC();
  void ReleaseBmpDC();
  // Copies Width x Height pixels from Source at (SourceX, SourceY) to the surface at (X, Y) and
  // records the modification; true if the copy succeeded.
  bool PutBitBlt(int X, int Y, HDC Source, int SourceX, int SourceY, int AWidth, int AHeight);
  // Copies Width x Height pixels of the surface at (SourceX, SourceY) to Dest at (DestX, DestY);
  // true if the copy succeeded. Records nothing.
  bool GetBitBlt(HDC Dest, int DestX, int DestY, int SourceX, int SourceY, int AWidth, int AHeight);

  // ---- Modification tracking ----
  // Every modification counts for the whole bitmap: the rectangle is not used.
  void SetModified(const TRect& Rect);
  // Corners in any order, inclusive. Nothing at all without a linked bitmap.
  void SetModified(int X1, int Y1, int X2, int Y2);
  void SetModified();
  // Switches the passing of modifications to the linked bitmap on or off; switching on passes what
  // is pending. Returns the switch's new state.
  bool ChgModifiedSw(bool On);
  // Nesting pairs: while any ModifiedOff is open, drawing only records that a repaint is pending;
  // the outermost ModifiedOn passes one modification (and one palette change) on.
  void ModifiedOff();
  void ModifiedOn();
  // Fires OnChange with the surface as sender.
  void Change();

  // ---- Palette (nothing without storage) ----
  void SetPal1(int Index, const RGBQUAD* Colour);
  void SetPal1(int Index, const TOvRGB* Colour);
  void SetPal2(const RGBQUAD* Colours);  // 256 entries
  void SetPal2(const TOvRGB* Colours);   // 256 entries
  // Read the section's colour table into the caller's array; return the pointer given. Without
  // storage the array is left as it is.
  RGBQUAD* AskPal1(int Index, RGBQUAD* Colour);
  TOvRGB* AskPal1(int Index, TOvRGB* Colour);
  RGBQUAD* AskPal2(RGBQUAD* Colours);
  TOvRGB* AskPal2(TOvRGB* Colours);
  // The default palette: the 10 first and 10 last entries are the 20 system colours, the rest
  // black.
  void InitPal();

  // ---- Whole-surface operations ----
  // All Height x Stride bytes to 0, whatever the Method.
  void Cls();
  // Load an 8-bit BMP, replace the whole palette by its colour table and draw it at (X, Y) with
  // PutPat (clipped, subject to Method and Reverse). Without storage, storage of (X + w) x (Y + h)
  // is made first. False when the image could not be loaded.
  bool DrawBmpFile(const AnsiString& FileName, int X, int Y);
  bool DrawBmpResource(HINSTANCE Module, const char* Name, int X, int Y);
  bool DrawBmpPack(TOvPack* Pack, const AnsiString& Name, int X, int Y);
  // Load an ACT palette into the surface (true also without storage, where nothing is set). False
  // when the palette could not be loaded.
  bool SetActFile(const AnsiString& FileName);
  bool SetActPack(TOvPack* Pack, const AnsiString& Name);

  // ---- Drawing primitives and pattern blits ----
  // Every pixel written goes through the operator of Method. Pixels off the surface are skipped; a
  // shape or pattern may lie partly or wholly outside. Without storage every operation does nothing
  // and returns false (PGet returns 0). The Ov workers draw without recording; the public forms
  // record the change with SetModified after they succeed.

  // Pixel (X, Y) through the operator; false (nothing changed) when the pixel does not exist.
  bool PSet(int X, int Y, Byte Colour);
  // The index of pixel (X, Y), or 0 when it does not exist. Method plays no part.
  Byte PGet(int X, int Y);
  // The line between the two points (coordinates held to -50000..50000), walked from its upper end,
  // so a line and its reverse set the same pixels; LeaveEnds leaves both end points out. A line
  // whose end points coincide draws its pixel once.
  bool OvLine(int X1, int Y1, int X2, int Y2, Byte Colour, bool LeaveEnds);
  // OvLine with both end points; the pen moves to (X2, Y2).
  bool Line(int X1, int Y1, int X2, int Y2, Byte Colour);
  // Continues a polyline from the pen to (X, Y) without drawing the pen's point again (so joints
  // survive Ov_XOR); the pen moves to (X, Y). The pen is (0, 0) on a new surface.
  bool CLine(int X, int Y, Byte Colour);
  // The outline of the box with corners (X1, Y1) and (X2, Y2), each pixel drawn once.
  bool Box(int X1, int Y1, int X2, int Y2, Byte Colour);
  // The filled box, both corners included, corners in any order. With a Mask (1 bit per pixel,
  // most significant bit leftmost, rows of (MaskWidth + 7) / 8 bytes, 1 = draw) the mask repeats
  // across the box from its top-left corner, wherever that lies; a mask width or height below 1
  // draws nothing and returns false. A null Mask fills every pixel.
  bool OvBoxFill(int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask, int MaskWidth,
                 int MaskHeight);
  bool BoxFill(int X1, int Y1, int X2, int Y2, Byte Colour);
  bool BoxFillM(int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask, int MaskWidth,
                int MaskHeight);

  // Pattern blits. A pattern is AWidth x AHeight palette indices, row r at Pattern + r * Stride (a
  // Stride below AWidth is raised to AWidth; the forms without a Stride use AWidth); the caller's
  // block must hold them all, though only the part that lands on the surface is read. (X, Y) is
  // where the top-left pixel goes; mirrored, pattern column i lands at X + AWidth - 1 - i. Keyed
  // forms leave the pixel alone under pattern bytes equal to Key. A null pattern is refused
  // (false). The result is true also when nothing is visible.

  // Plain or keyed; mirrored when Reverse is set (through OvPutPatR).
  bool OvPutPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride, bool Keyed,
                Byte Key);
  // The mirrored form; false at once when Reverse is not set.
  bool OvPutPatR(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride, bool Keyed,
                 Byte Key);
  // Pattern pixel (i, r) is drawn only where mask bit (i mod MaskWidth, r mod MaskHeight) is 1;
  // mirrored (with the mask) when Reverse is set. False for a null mask or a mask width or height
  // below 1.
  bool OvPutPatM(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                 const Byte* Mask, int MaskWidth, int MaskHeight);
  bool OvPutPatMR(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                  const Byte* Mask, int MaskWidth, int MaskHeight);
  // Always keyed; mirrored by its own argument, whatever Reverse says.
  bool OvPutPatWappi(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                     Byte Key, bool Mirrored);
  // Copies the AWidth x AHeight block at (X, Y) into Buffer (stride AWidth); buffer bytes of pixels
  // off the surface are left as they were. False for a null Buffer.
  bool OvGetPat(int X, int Y, int AWidth, int AHeight, Byte* Buffer);

  bool PutPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern);
  bool PutPat2(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride);
  bool PasPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, Byte Key);
  bool PasPat2(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride, Byte Key);
  bool PasMPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, const Byte* Mask,
               int MaskWidth, int MaskHeight);
  bool PasPatWappi(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, Byte Key,
                   bool Mirrored);
  bool PasPat2Wappi(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                    Byte Key, bool Mirrored);
  bool GetPat(int X, int Y, int AWidth, int AHeight, Byte* Buffer);
  // Draws the AWidth x AHeight block of Source at (SourceX, SourceY) at (X, Y), clipped first to
  // the source (a negative source coordinate moves the destination by as much) and then, with this
  // surface's Method and Reverse, to this surface. False without storage here or in Source. Source
  // may be this surface: the block is read before anything is drawn.
  bool PutDib(int X, int Y, TOvDib* Source, int SourceX, int SourceY, int AWidth, int AHeight);
  bool PasDib(int X, int Y, TOvDib* Source, int SourceX, int SourceY, int AWidth, int AHeight,
              Byte Key);

 private:
  void InitState(int AWidth, int AHeight);
  bool DrawLoadedBmp(bool Loaded, RGBQUAD* Palette, Byte* Pixels, int W, int H, int X, int Y);
  void PassPalette();
  // The context that reaches the section: the linked bitmap's canvas, FMemDC when held, or a
  // temporary one (made and deleted by TSectionContext).
  friend class TSectionContext;

  int FWidth = 640;
  int FHeight = 480;
  TImage* FImage = nullptr;
  TOvMethod FMethod = Ov_SET;
  bool FReverse = false;
  TNotifyEvent FOnChange;

  HWND FWnd = nullptr;
  TBitmap* FBitmap = nullptr;
  HDC FMemDC = nullptr;
  Byte* FBits = nullptr;
  HBITMAP FDib = nullptr;
  HGDIOBJ FOldObject = nullptr;
  HPALETTE FPalette = nullptr;
  int FStride = 0;
  int FPenX = 0;
  int FPenY = 0;
  bool FModifiedSw = true;
  bool FPending = false;
  bool FPalChanged = false;
  int FModifyCount = 0;
};

namespace Ovdib {
// Registers TOvDib on the component palette page "Ovelta".
void Register();
}  // namespace Ovdib

}  // namespace ovelta

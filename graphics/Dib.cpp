// TOvDib's storage (section and palette, creation, resizing), its links to a framework bitmap and
// image control, modification tracking, palette operations, device contexts and block copies, ACT
// palettes, and the unit's Register.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "graphics/Ovdib.h"
#include "graphics/Raster_p.h"
#include "platform/core/Heap.h"

namespace ovelta {

namespace {

constexpr int kPaletteSize = 256;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
constexpr int kLowSystemColours = 10;                               // entries 0-9
constexpr int kHighSystemStart = kPaletteSize - kLowSystemColours;  // entries 246-255
constexpr Word kPaletteVersion = 0x300;

int StrideOf(int Width) { return static_cast<int>((std::int64_t{Width} + 3) & ~std::int64_t{3}); }

// The default table: the platform's 20 static colours at both ends, black between.
void DefaultTable(RGBQUAD* Colours, PALETTEENTRY* Entries) {
  std::array<PALETTEENTRY, kSystemColours> system{};
  GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, kSystemColours,
                    system.data());
  for (int i = 0; i < kPaletteSize; ++i) {
    int from = 0;
    if (i < kLowSystemColours)
      from = i;
    else if (i >= kHighSystemStart)
      from = i - (kHighSystemStart - kLowSystemColours);
    const PALETTEENTRY& entry = system[static_cast<std::size_t>(from)];
    if (Colours) Colours[i] = RGBQUAD{entry.peBlue, entry.peGreen, entry.peRed, 0};
    if (Entries) Entries[i] = PALETTEENTRY{entry.peRed, entry.peGreen, entry.peBlue, 0};
  }
}

// A description of a top-down 8-bit section with a 256-entry colour table.
void Describe(BITMAPINFO* Info, int Width, int Height, int Stride) {
  BITMAPINFOHEADER& header = Info->bmiHeader;
  header = BITMAPINFOHEADER{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = Width;
  header.biHeight = -Height;
  header.biPlanes = 1;
  header.biBitCount = 8;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWord>(std::int64_t{Height} * Stride);
  header.biClrUsed = kPaletteSize;
}

}  // namespace

// The context that reaches the surface's section: the linked bitmap's canvas when it has a context,
// FMemDC while GetBmpDC holds it, or a temporary memory context made here and deleted with this
// object.
class TSectionContext {
 public:
  explicit TSectionContext(TOvDib& Dib) {
    if (Dib.FBitmap) {
      if (HDC canvas = Dib.FBitmap->Canvas()->Handle()) {
        FContext = canvas;
        return;
      }
    }
    if (Dib.FOldObject) {
      FContext = Dib.FMemDC;
      return;
    }
    HDC screen = GetDC(Dib.FWnd);
    FContext = CreateCompatibleDC(screen);
    ReleaseDC(Dib.FWnd, screen);
    FOld = SelectObject(FContext, Dib.FDib);
    FTemporary = true;
  }
  ~TSectionContext() {
    if (!FTemporary) return;
    SelectObject(FContext, FOld);
    DeleteDC(FContext);
  }
  TSectionContext(const TSectionContext&) = delete;
  TSectionContext& operator=(const TSectionContext&) = delete;
  HDC Get() const { return FContext; }

 private:
  HDC FContext = nullptr;
  HGDIOBJ FOld = nullptr;
  bool FTemporary = false;
};

// ---------------------------------------------------------------------------------------------
// Construction and storage
// ---------------------------------------------------------------------------------------------

TOvDib::TOvDib(TComponent* AOwner) : TComponent(AOwner) {
  InitState(kDefaultWidth, kDefaultHeight);
}

TOvDib::TOvDib(TComponent* AOwner, int AWidth, int AHeight) : TComponent(AOwner) {
  InitState(AWidth, AHeight);
}

void TOvDib::InitState(int AWidth, int AHeight) {
  FWidth = AWidth;
  FHeight = AHeight;
  FMethod = Ov_SET;
  FReverse = false;
  FImage = nullptr;
  FBitmap = nullptr;
  FWnd = GetDesktopWindow();
  FModifiedSw = true;
  FModifyCount = 0;
  InitDib();
}

TOvDib::~TOvDib() {
  if (FDib) EndDib();
  if (FPalette) DeleteObject(FPalette);  // left by a section that could not be made
}

void TOvDib::Loaded() { TComponent::Loaded(); }

void TOvDib::InitDib() {
  if (Designing() || FDib) return;
  FStride = StrideOf(FWidth);
  BITMAPINFO info;
  LOGPALETTE palette;
  Describe(&info, FWidth, FHeight, FStride);
  palette.palVersion = kPaletteVersion;
  palette.palNumEntries = kPaletteSize;
  DefaultTable(info.bmiColors, palette.palPalEntry);

  if (FPalette) DeleteObject(FPalette);
  HDC screen = GetDC(FWnd);
  FPalette = CreatePalette(&palette);
  void* bits = nullptr;
  FDib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(FWnd, screen);
  FBits = static_cast<Byte*>(bits);
  if (!FDib) {
    // No storage: keep no palette either, so nothing is left behind.
    DeleteObject(FPalette);
    FPalette = nullptr;
    FBits = nullptr;
  }
}

void TOvDib::EndDib() {
  if (!FDib) return;
  if (FBitmap) EndBitmap();
  if (FOldObject) ReleaseBmpDC();
  DeleteObject(FDib);
  DeleteObject(FPalette);
  FDib = nullptr;
  FPalette = nullptr;
  FBits = nullptr;
}

void TOvDib::ResizeDib(int AWidth, int AHeight) {
  if (!FDib) return;
  const HBITMAP oldDib = FDib;
  Byte* const oldBits = FBits;
  const int oldStride = FStride, oldWidth = FWidth, oldHeight = FHeight;
  const int newStride = StrideOf(AWidth);

  BITMAPINFO info;
  Describe(&info, AWidth, AHeight, newStride);
  std::fill(std::begin(info.bmiColors), std::end(info.bmiColors), RGBQUAD{});
  {
    TSectionContext context(*this);
    GetDIBColorTable(context.Get(), 0, kPaletteSize, info.bmiColors);
  }
  HDC screen = GetDC(FWnd);
  void* bits = nullptr;
  const HBITMAP newDib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(FWnd, screen);
  // A size that cannot be made leaves the surface as it was rather than losing the picture.
  if (!newDib) return;

  FWidth = AWidth;
  FHeight = AHeight;
  FStride = newStride;
  FDib = newDib;
  FBits = static_cast<Byte*>(bits);
  const int columns = std::min(oldWidth, AWidth), rows = std::min(oldHeight, AHeight);
  for (int y = 0; y < rows; ++y)
    std::memcpy(FBits + static_cast<std::ptrdiff_t>(y) * FStride,
                oldBits + static_cast<std::ptrdiff_t>(y) * oldStride,
                static_cast<std::size_t>(columns));
  SetModified(0, 0, columns - 1, rows - 1);

  if (FOldObject) SelectObject(FMemDC, FDib);
  if (FBitmap) {
    FBitmap->ReleaseHandle();
    FBitmap->SetHandle(FDib);
  }
  DeleteObject(oldDib);
}

void TOvDib::SetWidth(int Value) {
  if (FDib) {
    ResizeDib(Value, FHeight);
  } else {
    FWidth = Value;
    InitDib();
  }
}

void TOvDib::SetHeight(int Value) {
  if (FDib) {
    ResizeDib(FWidth, Value);
  } else {
    FHeight = Value;
    InitDib();
  }
}

// ---------------------------------------------------------------------------------------------
// Links to the framework
// ---------------------------------------------------------------------------------------------

void TOvDib::StartBitmap(TBitmap* Bitmap) {
  if (!FDib || !Bitmap) return;
  if (FBitmap && FBitmap != Bitmap) EndBitmap();
  FBitmap = Bitmap;
  FBitmap->SetHandle(FDib);
  FPending = false;
  FPalChanged = false;
  FModifiedSw = true;
}

void TOvDib::EndBitmap() {
  if (FBitmap) {
    FBitmap->ReleaseHandle();
    FBitmap = nullptr;
  }
  FImage = nullptr;
}

void TOvDib::SetBitmap(TBitmap* Bitmap) {
  if (!Designing() && Bitmap) StartBitmap(Bitmap);
  FImage = nullptr;
}

void TOvDib::SetImage(TImage* Value) {
  if (Designing()) {
    if (Value) {
      FWidth = Value->Width();
      FHeight = Value->Height();
    }
  } else if (Value) {
    StartBitmap(Value->Picture()->Bitmap());
  } else if (FImage) {
    EndBitmap();
  }
  FImage = Value;
  // Be told when the image goes, wherever it is owned.
  if (Value) Value->FreeNotification(this);
}

void TOvDib::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == TOperation::opRemove && FImage) {
    if (Designing()) {
      if (AComponent == FImage) FImage = nullptr;
    } else if (AComponent == FImage) {
      // The image's bitmap is being destroyed together with the section it adopted: forget both
      // without unlinking, and start again with fresh storage of the current size.
      FBitmap = nullptr;
      FImage = nullptr;
      if (FOldObject) ReleaseBmpDC();
      DeleteObject(FPalette);
      FDib = nullptr;
      FPalette = nullptr;
      FBits = nullptr;
      InitDib();
    } else if (AComponent == this) {
      EndBitmap();
    }
  }
  TComponent::Notification(AComponent, Operation);
}

HDC TOvDib::GetBmpDC() {
  if (!FDib) return nullptr;
  if (!FOldObject) {
    HDC screen = GetDC(FWnd);
    FMemDC = CreateCompatibleDC(screen);
    ReleaseDC(FWnd, screen);
    FOldObject = SelectObject(FMemDC, FDib);
    if (!FOldObject) {
      DeleteDC(FMemDC);
      FMemDC = nullptr;
    }
  }
  // Asked again while held: the same context, which still reaches the surface.
  return FMemDC;
}

void TOvDib::ReleaseBmpDC() {
  if (!FOldObject) return;
  SelectObject(FMemDC, FOldObject);
  FOldObject = nullptr;
  DeleteDC(FMemDC);
  FMemDC = nullptr;
}

bool TOvDib::PutBitBlt(int X, int Y, HDC Source, int SourceX, int SourceY, int AWidth,
                       int AHeight) {
  if (!FDib) return false;
  bool copied;
  {
    TSectionContext context(*this);
    copied = BitBlt(context.Get(), X, Y, AWidth, AHeight, Source, SourceX, SourceY, SRCCOPY);
  }
  SetModified(X, Y, raster::FarCorner(X, AWidth), raster::FarCorner(Y, AHeight));
  return copied;
}

bool TOvDib::GetBitBlt(HDC Dest, int DestX, int DestY, int SourceX, int SourceY, int AWidth,
                       int AHeight) {
  if (!FDib) return false;
  TSectionContext context(*this);
  return BitBlt(Dest, DestX, DestY, AWidth, AHeight, context.Get(), SourceX, SourceY, SRCCOPY);
}

// ---------------------------------------------------------------------------------------------
// Modification tracking
// ---------------------------------------------------------------------------------------------

void TOvDib::SetModified(const TRect&) {
  if (FBitmap) {
    FPending = true;
    if (FModifiedSw) {
      if (HDC canvas = FBitmap->Canvas()->Handle()) SelectClipRgn(canvas, nullptr);
      FBitmap->SetModified(true);
      FPending = false;
      if (FPalChanged) PassPalette();
    }
  }
  Change();
}

void TOvDib::SetModified(int X1, int Y1, int X2, int Y2) {
  if (!FBitmap) return;
  SetModified(TRect(std::min(X1, X2), std::min(Y1, Y2), std::max(X1, X2), std::max(Y1, Y2)));
}

void TOvDib::SetModified() {
  if (!FBitmap) return;
  SetModified(TRect(0, 0, FWidth - 1, FHeight - 1));
}

// The bitmap takes the logical palette without owning it, then adopts the section again.
void TOvDib::PassPalette() {
  FBitmap->ReleaseHandle();
  FBitmap->SetPalette(FPalette);
  FBitmap->ReleasePalette();
  FBitmap->SetHandle(FDib);
  FBitmap->SetPaletteModified(true);
  FPalChanged = false;
}

bool TOvDib::ChgModifiedSw(bool On) {
  if (!FModifiedSw && On) {
    if (FBitmap) {
      if (FPending) {
        FBitmap->SetModified(true);
        FPending = false;
      }
      if (FPalChanged) PassPalette();
    }
    FModifyCount = 0;
  } else if (FModifyCount == 0 && !On) {
    FModifyCount = 1;
  }
  FModifiedSw = On;
  return FModifiedSw;
}

void TOvDib::ModifiedOff() {
  ++FModifyCount;
  if (FModifiedSw) ChgModifiedSw(false);
}

void TOvDib::ModifiedOn() {
  if (FModifyCount > 0) {
    --FModifyCount;
    if (FModifyCount == 0) ChgModifiedSw(true);
  }
}

void TOvDib::Change() { Fire(FOnChange, this); }

// ---------------------------------------------------------------------------------------------
// Palette
// ---------------------------------------------------------------------------------------------

namespace {
bool IsIndex(int Index) { return Index >= 0 && Index < kPaletteSize; }
PALETTEENTRY EntryOf(const RGBQUAD& Colour) {
  return PALETTEENTRY{Colour.rgbRed, Colour.rgbGreen, Colour.rgbBlue, 0};
}
}  // namespace

void TOvDib::SetPal1(int Index, const RGBQUAD* Colour) {
  if (!FDib || !Colour || !IsIndex(Index)) return;
  const auto start = static_cast<unsigned>(Index);
  const PALETTEENTRY entry = EntryOf(*Colour);
  SetPaletteEntries(FPalette, start, 1, &entry);
  {
    TSectionContext context(*this);
    SetDIBColorTable(context.Get(), start, 1, Colour);
  }
  FPalChanged = true;
  SetModified();
  if (FImage) FImage->Update();
}

void TOvDib::SetPal1(int Index, const TOvRGB* Colour) {
  if (!Colour) return;
  const RGBQUAD quad = Colour->ToRGBQUAD();
  SetPal1(Index, &quad);
}

void TOvDib::SetPal2(const RGBQUAD* Colours) {
  if (!FDib || !Colours) return;
  std::array<PALETTEENTRY, kPaletteSize> entries;
  for (int i = 0; i < kPaletteSize; ++i) entries[static_cast<std::size_t>(i)] = EntryOf(Colours[i]);
  SetPaletteEntries(FPalette, 0, kPaletteSize, entries.data());
  {
    TSectionContext context(*this);
    SetDIBColorTable(context.Get(), 0, kPaletteSize, Colours);
  }
  FPalChanged = true;
  SetModified();
  if (FImage) FImage->Update();
}

void TOvDib::SetPal2(const TOvRGB* Colours) {
  if (!Colours) return;
  std::array<RGBQUAD, kPaletteSize> quads;
  for (int i = 0; i < kPaletteSize; ++i)
    quads[static_cast<std::size_t>(i)] = Colours[i].ToRGBQUAD();
  SetPal2(quads.data());
}

RGBQUAD* TOvDib::AskPal1(int Index, RGBQUAD* Colour) {
  if (!FDib || !Colour || !IsIndex(Index)) return Colour;
  TSectionContext context(*this);
  GetDIBColorTable(context.Get(), static_cast<unsigned>(Index), 1, Colour);
  return Colour;
}

TOvRGB* TOvDib::AskPal1(int Index, TOvRGB* Colour) {
  if (!FDib || !Colour || !IsIndex(Index)) return Colour;
  RGBQUAD quad;
  AskPal1(Index, &quad);
  *Colour = quad;
  return Colour;
}

RGBQUAD* TOvDib::AskPal2(RGBQUAD* Colours) {
  if (!FDib || !Colours) return Colours;
  TSectionContext context(*this);
  GetDIBColorTable(context.Get(), 0, kPaletteSize, Colours);
  return Colours;
}

TOvRGB* TOvDib::AskPal2(TOvRGB* Colours) {
  if (!FDib || !Colours) return Colours;
  std::array<RGBQUAD, kPaletteSize> quads;
  AskPal2(quads.data());
  for (int i = 0; i < kPaletteSize; ++i) Colours[i] = quads[static_cast<std::size_t>(i)];
  return Colours;
}

void TOvDib::InitPal() {
  std::array<RGBQUAD, kPaletteSize> table;
  DefaultTable(table.data(), nullptr);
  SetPal2(table.data());
}

// ---------------------------------------------------------------------------------------------
// Whole-surface operations
// ---------------------------------------------------------------------------------------------

void TOvDib::Cls() {
  if (!FDib) return;
  std::memset(FBits, 0, static_cast<std::size_t>(FHeight) * static_cast<std::size_t>(FStride));
  SetModified();
}

// The drawing step of the DrawBmp operations: takes over the loader's blocks (released here in
// every case), makes storage of the image's size when there is none, replaces the palette and
// draws.
bool TOvDib::DrawLoadedBmp(bool Loaded, RGBQUAD* Palette, Byte* Pixels, int W, int H, int X,
                           int Y) {
  GlobalBlock palette(Palette), pixels(Pixels);
  if (!Loaded) return false;
  if (!FDib) {
    const std::int64_t width = std::int64_t{X} + W, height = std::int64_t{Y} + H;
    if (width > 0 && width <= INT32_MAX && height > 0 && height <= INT32_MAX) {
      FWidth = static_cast<int>(width);
      FHeight = static_cast<int>(height);
      InitDib();
    }
  }
  SetPal2(Palette);
  PutPat(X, Y, W, H, Pixels);
  return true;
}

bool TOvDib::DrawBmpFile(const AnsiString& FileName, int X, int Y) {
  RGBQUAD* palette = nullptr;
  Byte* pixels = nullptr;
  int w = 0, h = 0;
  const bool loaded = LoadBmpFile(FileName, &palette, &pixels, &w, &h);
  return DrawLoadedBmp(loaded, palette, pixels, w, h, X, Y);
}

bool TOvDib::DrawBmpResource(HINSTANCE Module, const char* Name, int X, int Y) {
  RGBQUAD* palette = nullptr;
  Byte* pixels = nullptr;
  int w = 0, h = 0;
  const bool loaded = LoadBmpResource(Module, Name, &palette, &pixels, &w, &h);
  return DrawLoadedBmp(loaded, palette, pixels, w, h, X, Y);
}

bool TOvDib::SetActFile(const AnsiString& FileName) {
  RGBQUAD* palette = nullptr;
  if (!LoadActFile(FileName, &palette)) return false;
  GlobalBlock owned(palette);
  if (FDib) SetPal2(palette);
  return true;
}

bool TOvDib::DrawBmpPack(TOvPack* Pack, const AnsiString& Name, int X, int Y) {
  RGBQUAD* palette = nullptr;
  Byte* pixels = nullptr;
  int w = 0, h = 0;
  const bool loaded = LoadBmpPack(Pack, Name, &palette, &pixels, &w, &h);
  return DrawLoadedBmp(loaded, palette, pixels, w, h, X, Y);
}

bool TOvDib::SetActPack(TOvPack* Pack, const AnsiString& Name) {
  RGBQUAD* palette = nullptr;
  if (!LoadActPack(Pack, Name, &palette)) return false;
  GlobalBlock owned(palette);
  if (FDib) SetPal2(palette);
  return true;
}

namespace Ovdib {
void Register() { RegisterComponents(kOveltaPage, {"TOvDib"}); }
}  // namespace Ovdib

}  // namespace ovelta

// The graphics objects behind handles (bitmap sections, palettes, regions, stock objects), device
// contexts, the colour-table and palette calls, BitBlt and single pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <variant>

#include "platform/gdi/Gdi_p.h"
#include "platform/gdi/GdiTesting_p.h"

namespace ovelta {

namespace gdi {

namespace {

constexpr int kMaxSide = 32768;
constexpr int kPaletteSize = 256;

// The platform's 20 static colours: the default palette's first ten (dark) and last ten (light).
constexpr PALETTEENTRY kSystemColours[kSystemColours] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

struct TPaletteObject {
  std::vector<PALETTEENTRY> Entries;
};
struct TRegionObject {
  QRect Rect;
};
using TGdiObject = std::variant<TSection, TPaletteObject, TRegionObject>;

struct TContext {
  bool Screen = false;
  std::uintptr_t Bitmap = 0;  // handle value of the selected bitmap
  std::uintptr_t Palette = 0;
  std::optional<QRect> Clip;
};

// Every live object and context, by handle value. Handle values are never reused, so a stale handle
// finds nothing.
struct TTable {
  std::uintptr_t Next = 0x10000;
  std::map<std::uintptr_t, std::unique_ptr<TGdiObject>> Objects;
  std::map<std::uintptr_t, TContext> Contexts;
  std::uintptr_t DefaultPalette = 0;
  std::uintptr_t PlaceholderBitmap = 0;

  std::uintptr_t NewHandle() { return Next += 16; }
  bool IsStock(std::uintptr_t Handle) const {
    return Handle == DefaultPalette || Handle == PlaceholderBitmap;
  }
};

std::unique_ptr<TSection> MakeSection(int Width, int Height, int BitCount);

TTable& Table() {
  static TTable* table = [] {
    auto* made = new TTable;  // lives as long as the process: handles may be released late
    made->DefaultPalette = made->NewHandle();
    made->Objects[made->DefaultPalette] = std::make_unique<TGdiObject>(TPaletteObject{
        std::vector<PALETTEENTRY>(std::begin(kSystemColours), std::end(kSystemColours))});
    made->PlaceholderBitmap = made->NewHandle();
    made->Objects[made->PlaceholderBitmap] =
        std::make_unique<TGdiObject>(std::move(*MakeSection(1, 1, 32)));
    return made;
  }();
  return *table;
}

std::uintptr_t Value(const void* Handle) { return reinterpret_cast<std::uintptr_t>(Handle); }

template <typename T> T* Find(const void* Handle) {
  TTable& table = Table();
  auto it = table.Objects.find(Value(Handle));
  return it == table.Objects.end() ? nullptr : std::get_if<T>(it->second.get());
}

TContext* FindContext(HDC Context) {
  TTable& table = Table();
  auto it = table.Contexts.find(Value(Context));
  return it == table.Contexts.end() ? nullptr : &it->second;
}

template <typename Handle> Handle Insert(TGdiObject&& Object) {
  TTable& table = Table();
  const std::uintptr_t handle = table.NewHandle();
  table.Objects[handle] = std::make_unique<TGdiObject>(std::move(Object));
  return reinterpret_cast<Handle>(handle);
}

std::unique_ptr<TSection> MakeSection(int Width, int Height, int BitCount) {
  if (Width < 1 || Height < 1 || Width > kMaxSide || Height > kMaxSide) return nullptr;
  auto section = std::make_unique<TSection>();
  section->Width = Width;
  section->Height = Height;
  section->BitCount = BitCount;
  section->Stride = BitCount == 8 ? (Width + 3) & ~3 : Width * 4;
  const std::size_t bytes =
      static_cast<std::size_t>(section->Stride) * static_cast<std::size_t>(Height);
  section->Bits.reset(new (std::nothrow) Byte[bytes]());
  if (!section->Bits) return nullptr;
  return section;
}

// Cuts a copy of Width x Height from (SourceX, SourceY) to (X, Y) to both rectangles. The cut is
// worked out in 64 bits, so corners and sizes anywhere in the int range (a start near INT_MIN, a
// far edge beyond INT_MAX) clip correctly; what is left lies inside both rectangles.
bool ClipCopy(const QRect& SourceBounds, const QRect& DestBounds, int* X, int* Y, int* Width,
              int* Height, int* SourceX, int* SourceY) {
  using Wide = std::int64_t;
  Wide x = *X, y = *Y, w = *Width, h = *Height, sx = *SourceX, sy = *SourceY;
  auto cut = [](Wide* start, Wide* other, Wide* size, Wide low, Wide high) {
    if (*start < low) {
      const Wide drop = low - *start;
      *start += drop;
      *other += drop;
      *size -= drop;
    }
    if (*start + *size > high) *size = high - *start;
  };
  if (w <= 0 || h <= 0) return false;
  cut(&sx, &x, &w, SourceBounds.left(), Wide{SourceBounds.right()} + 1);
  cut(&sy, &y, &h, SourceBounds.top(), Wide{SourceBounds.bottom()} + 1);
  cut(&x, &sx, &w, DestBounds.left(), Wide{DestBounds.right()} + 1);
  cut(&y, &sy, &h, DestBounds.top(), Wide{DestBounds.bottom()} + 1);
  if (w <= 0 || h <= 0) return false;
  // Both corners now lie inside their rectangles, so every value fits an int again.
  *X = static_cast<int>(x);
  *Y = static_cast<int>(y);
  *Width = static_cast<int>(w);
  *Height = static_cast<int>(h);
  *SourceX = static_cast<int>(sx);
  *SourceY = static_cast<int>(sy);
  return true;
}

}  // namespace

QImage TSection::View() const {
  if (BitCount == 8) {
    QImage view(Bits.get(), Width, Height, Stride, QImage::Format_Indexed8);
    QList<QRgb> table(kPaletteSize);
    for (int i = 0; i < kPaletteSize; ++i) table[i] = ToQRgb(Colours[static_cast<std::size_t>(i)]);
    view.setColorTable(table);
    return view;
  }
  return QImage(Bits.get(), Width, Height, Stride, QImage::Format_RGB32);
}

QRgb TSection::ColourAt(int X, int Y) const {
  const Byte* row = Row(Y);
  if (BitCount == 8) return ToQRgb(Colours[row[X]]);
  const Byte* p = row + static_cast<std::ptrdiff_t>(X) * 4;
  return qRgb(p[2], p[1], p[0]);
}

Byte TNearestIndex::operator()(QRgb Colour) {
  Colour |= 0xFF000000u;
  auto known = FFound.find(Colour);
  if (known != FFound.end()) return known->second;
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < kPaletteSize; ++i) {
    const RGBQUAD& entry = FColours[static_cast<std::size_t>(i)];
    const long dr = entry.rgbRed - qRed(Colour), dg = entry.rgbGreen - qGreen(Colour),
               db = entry.rgbBlue - qBlue(Colour);
    const long distance = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
      if (distance == 0) break;
    }
  }
  FFound.emplace(Colour, static_cast<Byte>(best));
  return static_cast<Byte>(best);
}

void TPixelWriter::Put(int X, int Y, QRgb Colour) {
  Byte* row = FSection.Row(Y);
  if (FSection.BitCount == 8) {
    row[X] = FNearest(Colour);
    return;
  }
  Byte* p = row + static_cast<std::ptrdiff_t>(X) * 4;
  p[0] = static_cast<Byte>(qBlue(Colour));
  p[1] = static_cast<Byte>(qGreen(Colour));
  p[2] = static_cast<Byte>(qRed(Colour));
  p[3] = 0xFF;
}

TSection* SectionOf(HBITMAP Bitmap) { return Find<TSection>(Bitmap); }

TSection* SectionOfContext(HDC Context) {
  TContext* context = FindContext(Context);
  if (!context || context->Screen) return nullptr;
  return Find<TSection>(reinterpret_cast<void*>(context->Bitmap));
}

std::optional<QRect> ClipOf(HDC Context) {
  TContext* context = FindContext(Context);
  return context ? context->Clip : std::nullopt;
}

QRect DrawableRect(HDC Context, const TSection& Section) {
  const std::optional<QRect> clip = ClipOf(Context);
  return clip ? Section.Bounds() & *clip : Section.Bounds();
}

}  // namespace gdi

using gdi::Table;

const PALETTEENTRY* SystemColours() { return gdi::kSystemColours; }

namespace {
HWND const kDesktopWindow = reinterpret_cast<HWND>(std::uintptr_t{0x10});
}

HWND GetDesktopWindow() { return kDesktopWindow; }

HDC GetDC(HWND) {
  auto& table = Table();
  const std::uintptr_t handle = table.NewHandle();
  table.Contexts[handle] = gdi::TContext{true, 0, 0, std::nullopt};
  return reinterpret_cast<HDC>(handle);
}

int ReleaseDC(HWND, HDC Context) {
  gdi::TContext* context = gdi::FindContext(Context);
  if (!context || !context->Screen) return 0;
  Table().Contexts.erase(gdi::Value(Context));
  return 1;
}

HDC CreateCompatibleDC(HDC Reference) {
  if (Reference && !gdi::FindContext(Reference)) return nullptr;
  auto& table = Table();
  const std::uintptr_t handle = table.NewHandle();
  table.Contexts[handle] = gdi::TContext{false, table.PlaceholderBitmap, table.DefaultPalette, {}};
  return reinterpret_cast<HDC>(handle);
}

bool DeleteDC(HDC Context) {
  gdi::TContext* context = gdi::FindContext(Context);
  if (!context || context->Screen) return false;
  Table().Contexts.erase(gdi::Value(Context));
  return true;
}

HGDIOBJ SelectObject(HDC Context, HGDIOBJ Object) {
  gdi::TContext* context = gdi::FindContext(Context);
  auto& table = Table();
  auto it = table.Objects.find(gdi::Value(Object));
  if (!context || it == table.Objects.end()) return nullptr;
  const gdi::TGdiObject& object = *it->second;
  if (std::holds_alternative<gdi::TSection>(object)) {
    if (context->Screen) return nullptr;
    const std::uintptr_t previous = context->Bitmap;
    context->Bitmap = it->first;
    return reinterpret_cast<HGDIOBJ>(previous);
  }
  if (std::holds_alternative<gdi::TPaletteObject>(object)) {
    const std::uintptr_t previous = context->Palette;
    context->Palette = it->first;
    return reinterpret_cast<HGDIOBJ>(previous);
  }
  // A region: the context keeps a copy, as SelectClipRgn.
  context->Clip = std::get<gdi::TRegionObject>(object).Rect;
  return Object;
}

bool DeleteObject(HGDIOBJ Object) {
  auto& table = Table();
  const std::uintptr_t handle = gdi::Value(Object);
  if (table.IsStock(handle)) return false;
  return table.Objects.erase(handle) > 0;
}

HGDIOBJ GetStockObject(int Which) {
  if (Which != DEFAULT_PALETTE) return nullptr;
  return reinterpret_cast<HGDIOBJ>(Table().DefaultPalette);
}

HBITMAP CreateDIBSection(HDC Context, const BITMAPINFO* Info, unsigned Usage, void** Bits, void*,
                         DWord) {
  if (Bits) *Bits = nullptr;
  if (!Info || Usage != DIB_RGB_COLORS || (Context && !gdi::FindContext(Context))) return nullptr;
  const BITMAPINFOHEADER& header = Info->bmiHeader;
  const int bitCount = header.biBitCount;
  if (header.biSize != sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
      header.biCompression != BI_RGB || (bitCount != 8 && bitCount != 32) || header.biHeight >= 0 ||
      header.biHeight == INT32_MIN)
    return nullptr;
  std::unique_ptr<gdi::TSection> section =
      gdi::MakeSection(header.biWidth, -header.biHeight, bitCount);
  if (!section) return nullptr;
  if (bitCount == 8) {
    const DWord used = header.biClrUsed == 0 ? 256 : std::min<DWord>(header.biClrUsed, 256);
    std::copy(Info->bmiColors, Info->bmiColors + used, section->Colours.begin());
    for (RGBQUAD& entry : section->Colours) entry.rgbReserved = 0;
  }
  Byte* bits = section->Bits.get();
  HBITMAP handle = gdi::Insert<HBITMAP>(std::move(*section));
  if (Bits) *Bits = bits;
  return handle;
}

HPALETTE CreatePalette(const LOGPALETTE* Palette) {
  if (!Palette || Palette->palNumEntries == 0 || Palette->palNumEntries > 256) return nullptr;
  return gdi::Insert<HPALETTE>(gdi::TPaletteObject{std::vector<PALETTEENTRY>(
      Palette->palPalEntry, Palette->palPalEntry + Palette->palNumEntries)});
}

unsigned GetPaletteEntries(HPALETTE Palette, unsigned Start, unsigned Count,
                           PALETTEENTRY* Entries) {
  auto* palette = gdi::Find<gdi::TPaletteObject>(Palette);
  if (!palette || !Entries || Start >= palette->Entries.size()) return 0;
  Count = std::min<unsigned>(Count, static_cast<unsigned>(palette->Entries.size()) - Start);
  std::copy_n(palette->Entries.begin() + Start, Count, Entries);
  return Count;
}

unsigned SetPaletteEntries(HPALETTE Palette, unsigned Start, unsigned Count,
                           const PALETTEENTRY* Entries) {
  auto& table = Table();
  auto* palette = gdi::Find<gdi::TPaletteObject>(Palette);
  if (!palette || !Entries || table.IsStock(gdi::Value(Palette)) ||
      Start >= palette->Entries.size())
    return 0;
  Count = std::min<unsigned>(Count, static_cast<unsigned>(palette->Entries.size()) - Start);
  std::copy_n(Entries, Count, palette->Entries.begin() + Start);
  return Count;
}

unsigned SetDIBColorTable(HDC Context, unsigned Start, unsigned Count, const RGBQUAD* Colours) {
  gdi::TSection* section = gdi::SectionOfContext(Context);
  if (!section || section->BitCount != 8 || !Colours || Start >= 256) return 0;
  Count = std::min(Count, 256 - Start);
  std::copy_n(Colours, Count, section->Colours.begin() + Start);
  return Count;
}

unsigned GetDIBColorTable(HDC Context, unsigned Start, unsigned Count, RGBQUAD* Colours) {
  gdi::TSection* section = gdi::SectionOfContext(Context);
  if (!section || section->BitCount != 8 || !Colours || Start >= 256) return 0;
  Count = std::min(Count, 256 - Start);
  std::copy_n(section->Colours.begin() + Start, Count, Colours);
  return Count;
}

HRGN CreateRectRgn(int Left, int Top, int Right, int Bottom) {
  return gdi::Insert<HRGN>(
      gdi::TRegionObject{QRect(QPoint(std::min(Left, Right), std::min(Top, Bottom)),
                               QPoint(std::max(Left, Right) - 1, std::max(Top, Bottom) - 1))});
}

int SelectClipRgn(HDC Context, HRGN Region) {
  gdi::TContext* context = gdi::FindContext(Context);
  if (!context) return 0;
  if (!Region) {
    context->Clip.reset();
    return 1;
  }
  auto* region = gdi::Find<gdi::TRegionObject>(Region);
  if (!region) return 0;
  context->Clip = region->Rect;
  return 1;
}

bool BitBlt(HDC Dest, int X, int Y, int Width, int Height, HDC Source, int SourceX, int SourceY,
            DWord Rop) {
  gdi::TSection* to = gdi::SectionOfContext(Dest);
  gdi::TSection* from = gdi::SectionOfContext(Source);
  if (!to || !from || Rop != SRCCOPY) return false;
  if (!gdi::ClipCopy(from->Bounds(), gdi::DrawableRect(Dest, *to), &X, &Y, &Width, &Height,
                     &SourceX, &SourceY))
    return true;  // nothing visible: a successful copy of nothing

  const bool sameIndices =
      to->BitCount == 8 && from->BitCount == 8 &&
      std::memcmp(to->Colours.data(), from->Colours.data(), sizeof to->Colours) == 0;
  const bool sameFormat = to->BitCount == 32 && from->BitCount == 32;
  if (sameIndices || sameFormat) {
    const std::size_t bytesPerPixel = to->BitCount / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(Width) * bytesPerPixel;
    // Within one section the rows may overlap: walk them in the order that reads before it writes.
    const bool upwards = to == from && Y > SourceY;
    for (int i = 0; i < Height; ++i) {
      const int r = upwards ? Height - 1 - i : i;
      std::memmove(to->Row(Y + r) + static_cast<std::size_t>(X) * bytesPerPixel,
                   from->Row(SourceY + r) + static_cast<std::size_t>(SourceX) * bytesPerPixel,
                   rowBytes);
    }
    return true;
  }
  // Mixed formats: through colours. A copy within one section never gets here (one format).
  gdi::TPixelWriter writer(*to);
  for (int r = 0; r < Height; ++r)
    for (int c = 0; c < Width; ++c)
      writer.Put(X + c, Y + r, from->ColourAt(SourceX + c, SourceY + r));
  return true;
}

COLORREF GetPixel(HDC Context, int X, int Y) {
  gdi::TSection* section = gdi::SectionOfContext(Context);
  if (!section || !section->Bounds().contains(X, Y)) return CLR_INVALID;
  return gdi::ToColorRef(section->ColourAt(X, Y));
}

COLORREF SetPixel(HDC Context, int X, int Y, COLORREF Colour) {
  gdi::TSection* section = gdi::SectionOfContext(Context);
  if (!section || !gdi::DrawableRect(Context, *section).contains(X, Y)) return CLR_INVALID;
  gdi::TPixelWriter(*section).Put(X, Y,
                                  qRgb(GetRValue(Colour), GetGValue(Colour), GetBValue(Colour)));
  return gdi::ToColorRef(section->ColourAt(X, Y));
}

bool GetBitmapFacts(HBITMAP Bitmap, TBitmapFacts* Facts) {
  gdi::TSection* section = gdi::SectionOf(Bitmap);
  if (!section || !Facts) return false;
  *Facts = TBitmapFacts{section->Width, section->Height, section->BitCount, section->Stride,
                        section->Bits.get()};
  return true;
}

namespace graphics_testing {
int LiveObjects() { return static_cast<int>(Table().Objects.size()) - 2; }
int LiveContexts() { return static_cast<int>(Table().Contexts.size()); }
}  // namespace graphics_testing

}  // namespace ovelta

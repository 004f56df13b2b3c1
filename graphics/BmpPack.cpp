// The loaders that read from pack members (through Ovfopen, Ovfseek, Ovfread and Ovfclose).
#include "graphics/BmpSource_p.h"
#include "graphics/Ovbitmap.h"
#include "pack/Ovpack.h"
#include "platform/core/Heap.h"

namespace ovelta {

namespace {

// An open member of a pack, read from its start and closed with the source.
class TMemberSource final : public bmp_detail::TByteSource {
 public:
  TMemberSource(TOvPack* Pack, const AnsiString& Name) : FPack(Pack) {
    if (!FPack) return;
    FHandle = FPack->Ovfopen(Name);
    if (!FHandle) return;
    FPack->Ovfseek(FHandle, 0, 0);
    FSize = FPack->Ovfsize(FHandle);
  }
  ~TMemberSource() override {
    if (FHandle) FPack->Ovfclose(FHandle);
  }
  TMemberSource(const TMemberSource&) = delete;
  TMemberSource& operator=(const TMemberSource&) = delete;

  bool IsOpen() const { return FHandle != nullptr; }
  std::int64_t Size() const override { return FSize; }
  bool Read(void* Buffer, std::size_t Bytes) override {
    if (Bytes == 0) return true;
    if (static_cast<std::int64_t>(Bytes) > FSize - FPosition) return false;
    if (FPack->Ovfread(Buffer, static_cast<unsigned>(Bytes), 1, FHandle) != 1) return false;
    FPosition += static_cast<std::int64_t>(Bytes);
    return true;
  }
  bool Skip(std::size_t Bytes) override {
    if (static_cast<std::int64_t>(Bytes) > FSize - FPosition) return false;
    if (Bytes > 0 && !FPack->Ovfseek(FHandle, static_cast<std::int32_t>(Bytes), 1)) return false;
    FPosition += static_cast<std::int64_t>(Bytes);
    return true;
  }

 private:
  TOvPack* FPack;
  OvFILE* FHandle = nullptr;
  std::int64_t FSize = 0;
  std::int64_t FPosition = 0;
};

}  // namespace

bool LoadBmpPack(TOvPack* Pack, const AnsiString& Name, RGBQUAD** Palette, Byte** Pixels,
                 int* Width, int* Height) {
  TMemberSource source(Pack, Name);
  return source.IsOpen() &&
         bmp_detail::LoadBmp8(source, bmp_detail::TBmpForm::File, Palette, Pixels, Width, Height);
}

bool LoadActPack(TOvPack* Pack, const AnsiString& Name, RGBQUAD** Palette) {
  TMemberSource source(Pack, Name);
  return source.IsOpen() && bmp_detail::LoadAct(source, Palette);
}

bool LoadBmp24Pack(TOvPack* Pack, const AnsiString& Name, TOvRGB** Pixels, int* Width,
                   int* Height) {
  TMemberSource source(Pack, Name);
  return source.IsOpen() &&
         bmp_detail::LoadBmp24(source, bmp_detail::TBmpForm::File, Pixels, Width, Height);
}

}  // namespace ovelta

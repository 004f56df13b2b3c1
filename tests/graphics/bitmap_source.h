// Runs the BMP and ACT loaders on the same bytes through each of their sources: a file, a module
// bitmap resource (the bytes without the 14-byte file header), and a pack member (stored or
// compressed), so that every loader test covers every source.
#pragma once

#include <string>

#include "bmp_builder.h"
#include "graphics/Ovbitmap.h"
#include "pack/Ovpack.h"
#include "platform/core/Resources.h"
#include "support/TempDir.h"

namespace ovelta::test {

enum class Via { File, Resource, StoredMember, CompressedMember };

inline std::string ViaName(Via Source) {
  switch (Source) {
    case Via::File:
      return "File";
    case Via::Resource:
      return "Resource";
    case Via::StoredMember:
      return "StoredMember";
    case Via::CompressedMember:
      return "CompressedMember";
  }
  return "?";
}

// Puts bytes where the loaders of one source find them and calls those loaders.
class LoaderSource {
 public:
  explicit LoaderSource(Via Source) : FVia(Source) {}
  ~LoaderSource() {
    if (FRegistered) UnregisterResource(MainInstance(), RT_BITMAP, kResourceName);
  }
  LoaderSource(const LoaderSource&) = delete;
  LoaderSource& operator=(const LoaderSource&) = delete;

  Via Kind() const { return FVia; }

  // Places the BMP (given in its file form) and loads it.
  bool Bmp8(const Bytes& FileBytes, RGBQUAD** Palette, Byte** Pixels, int* Width, int* Height) {
    Place(FileBytes);
    if (FVia == Via::Resource)
      return LoadBmpResource(MainInstance(), kResourceName, Palette, Pixels, Width, Height);
    if (IsMember()) return LoadBmpPack(&FPack, kMemberName, Palette, Pixels, Width, Height);
    return LoadBmpFile(FPath, Palette, Pixels, Width, Height);
  }
  bool Bmp24(const Bytes& FileBytes, TOvRGB** Pixels, int* Width, int* Height) {
    Place(FileBytes);
    if (FVia == Via::Resource)
      return LoadBmp24Resource(MainInstance(), kResourceName, Pixels, Width, Height);
    if (IsMember()) return LoadBmp24Pack(&FPack, kMemberName, Pixels, Width, Height);
    return LoadBmp24File(FPath, Pixels, Width, Height);
  }
  // ACT palettes have no resource form: the file loader stands in there.
  bool Act(const Bytes& ActBytes, RGBQUAD** Palette) {
    const std::string path = FDir.Write("palette.act", ActBytes);
    if (!IsMember()) return LoadActFile(path, Palette);
    MakePack(path);
    return LoadActPack(&FPack, kMemberName, Palette);
  }

  // The pack of the member forms (open after a load).
  TOvPack& Pack() { return FPack; }

 private:
  static constexpr const char* kResourceName = "TESTBMP";
  static constexpr const char* kMemberName = "image.bmp";

  bool IsMember() const { return FVia == Via::StoredMember || FVia == Via::CompressedMember; }

  // A pack holding the file as its one member, opened read-only for the loaders.
  void MakePack(const std::string& Path) {
    const std::string pack = FDir.Path() + "/test.pak";
    FPack.ClosePack();
    FPack.SetReadOnly(false);
    FPack.NewPack(pack);
    FPack.AddFile(kMemberName, Path, FVia == Via::CompressedMember);
    FPack.EndPack();
    FPack.SetReadOnly(true);
    FPack.LoadPack(pack);
  }

  void Place(const Bytes& FileBytes) {
    if (IsMember()) {
      MakePack(FDir.Write("image.bmp", FileBytes));
    } else if (FVia == Via::Resource) {
      FResource.assign(FileBytes.size() > 14 ? FileBytes.begin() + 14 : FileBytes.end(),
                       FileBytes.end());
      RegisterResource(MainInstance(), RT_BITMAP, kResourceName, FResource.data(),
                       FResource.size());
      FRegistered = true;
    } else {
      FPath = FDir.Write("image.bmp", FileBytes);
    }
  }

  Via FVia;
  TempDir FDir;
  std::string FPath;
  Bytes FResource;
  bool FRegistered = false;
  TOvPack FPack;
};

}  // namespace ovelta::test

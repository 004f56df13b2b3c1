// Fuzzes the BMP and ACT loaders on arbitrary bytes, as a file (through an in-memory file) and as a
// module bitmap resource: they must never crash, never read or write out of bounds, and on success
// hand back blocks of exactly the size their width and height promise, the 24-bit loader the 8-bit
// loader's image expanded through its palette; on failure nothing may be left allocated.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "graphics/Ovbitmap.h"
#include "platform/core/Heap.h"
#include "platform/core/Resources.h"
#include "platform/core/HeapTesting_p.h"

namespace {

using namespace ovelta;

int gAnchor = 0;  // an object of this program, naming its module

// One in-memory file, rewritten for each input and opened by its /proc path.
const std::string& InputPath(int* Descriptor) {
  static int descriptor = memfd_create("bmp-input", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
  *Descriptor = descriptor;
  return path;
}

void Check(bool Condition) {
  if (!Condition) std::abort();
}

void CheckBmp8(bool Loaded, RGBQUAD* Palette, Byte* Pixels, int Width, int Height) {
  if (Loaded) {
    Check(Width >= 1 && Width <= kBmpMaxSide && Height >= 1 && Height <= kBmpMaxSide);
    Check(GlobalSize(Palette) == 1024);
    Check(GlobalSize(Pixels) == static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
  } else {
    Check(Palette == nullptr && Pixels == nullptr);
  }
  GlobalFree(Palette);
  GlobalFree(Pixels);
}

void CheckBmp24(bool Loaded, TOvRGB* Pixels, int Width, int Height) {
  if (Loaded) {
    Check(GlobalSize(Pixels) ==
          3 * static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
  } else {
    Check(Pixels == nullptr);
  }
  GlobalFree(Pixels);
}

// An 8-bit image the 8-bit loader took must load in the 24-bit loader as its pixels expanded
// through the palette block (whose entries past the colour count are zero, as the 24-bit
// expansion's are): the two loaders read the same rows, uncompressed or RLE8, either way up.
void CheckSameImage(bool Loaded8, const RGBQUAD* Palette, const Byte* Pixels, bool Loaded24,
                    const TOvRGB* Pixels24) {
  if (!Loaded8) return;
  Check(Loaded24);
  const std::size_t count = GlobalSize(const_cast<Byte*>(Pixels));
  for (std::size_t i = 0; i < count; ++i) Check(Pixels24[i] == TOvRGB(Palette[Pixels[i]]));
}

// Loads through the 8-bit and 24-bit loaders of one source and checks both and their agreement.
template <typename Load8, typename Load24> void LoadBoth(Load8 By8, Load24 By24) {
  RGBQUAD* palette = nullptr;
  Byte* pixels = nullptr;
  TOvRGB* pixels24 = nullptr;
  int width = 0, height = 0, width24 = 0, height24 = 0;
  const bool loaded8 = By8(&palette, &pixels, &width, &height);
  const bool loaded24 = By24(&pixels24, &width24, &height24);
  if (loaded8 && loaded24) Check(width == width24 && height == height24);
  CheckSameImage(loaded8, palette, pixels, loaded24, pixels24);
  CheckBmp8(loaded8, palette, pixels, width, height);
  CheckBmp24(loaded24, pixels24, width24, height24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::int64_t blocks = heap_testing::LiveBlocks();
  int descriptor = -1;
  const std::string& path = InputPath(&descriptor);
  if (descriptor < 0 || ftruncate(descriptor, 0) != 0) return 0;
  if (Size > 0 && pwrite(descriptor, Data, Size, 0) != static_cast<ssize_t>(Size)) return 0;

  LoadBoth([&](RGBQUAD** Palette, Byte** Pixels, int* Width,
               int* Height) { return LoadBmpFile(path, Palette, Pixels, Width, Height); },
           [&](TOvRGB** Pixels, int* Width, int* Height) {
             return LoadBmp24File(path, Pixels, Width, Height);
           });
  RGBQUAD* palette = nullptr;
  const bool act = LoadActFile(path, &palette);
  Check(act == (Size >= 768) && (!act || GlobalSize(palette) == 1024));
  GlobalFree(palette);

  // The same bytes as a bitmap resource (the form without the file header).
  TResourceRegistration resource(&gAnchor, RT_BITMAP, "FUZZ", Data, Size);
  LoadBoth(
      [&](RGBQUAD** Palette, Byte** Pixels, int* Width, int* Height) {
        return LoadBmpResource(MainInstance(), "FUZZ", Palette, Pixels, Width, Height);
      },
      [&](TOvRGB** Pixels, int* Width, int* Height) {
        return LoadBmp24Resource(MainInstance(), "FUZZ", Pixels, Width, Height);
      });

  Check(heap_testing::LiveBlocks() == blocks);
  return 0;
}

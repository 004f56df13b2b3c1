// Fuzzes the BMP and ACT loaders on arbitrary bytes, as a file (through an in-memory file) and as a
// module bitmap resource: they must never crash, never read or write out of bounds, and on success
// hand back blocks of exactly the size their width and height promise; on failure nothing may be
// left allocated.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::int64_t blocks = heap_testing::LiveBlocks();
  int descriptor = -1;
  const std::string& path = InputPath(&descriptor);
  if (descriptor < 0 || ftruncate(descriptor, 0) != 0) return 0;
  if (Size > 0 && pwrite(descriptor, Data, Size, 0) != static_cast<ssize_t>(Size)) return 0;

  RGBQUAD* palette = nullptr;
  Byte* pixels = nullptr;
  TOvRGB* pixels24 = nullptr;
  int width = 0, height = 0;

  CheckBmp8(LoadBmpFile(path, &palette, &pixels, &width, &height), palette, pixels, width, height);
  palette = nullptr;
  pixels = nullptr;
  CheckBmp24(LoadBmp24File(path, &pixels24, &width, &height), pixels24, width, height);
  pixels24 = nullptr;
  const bool act = LoadActFile(path, &palette);
  Check(act == (Size >= 768) && (!act || GlobalSize(palette) == 1024));
  GlobalFree(palette);
  palette = nullptr;

  // The same bytes as a bitmap resource (the form without the file header).
  TResourceRegistration resource(&gAnchor, RT_BITMAP, "FUZZ", Data, Size);
  CheckBmp8(LoadBmpResource(MainInstance(), "FUZZ", &palette, &pixels, &width, &height), palette,
            pixels, width, height);
  CheckBmp24(LoadBmp24Resource(MainInstance(), "FUZZ", &pixels24, &width, &height), pixels24, width,
             height);

  Check(heap_testing::LiveBlocks() == blocks);
  return 0;
}

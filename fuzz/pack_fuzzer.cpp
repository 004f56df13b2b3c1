// Fuzz target: a pack of arbitrary bytes, loaded from a memory stream under each check mode; every
// entry is listed and every member opened decoded and raw, read whole and in odd pieces, and
// sought. The property: nothing crashes, reads or writes out of bounds, leaks or allocates beyond
// what the input's size allows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pack/Ovpack.h"
#include "platform/core/Dialogs.h"
#include "platform/core/HeapTesting_p.h"

namespace {

using namespace ovelta;

void ReadMember(TOvPack& Pack, OvFILE* Handle) {
  std::vector<Byte> block(4099);
  while (Pack.Ovfread(block.data(), 1, static_cast<unsigned>(block.size()), Handle) > 0) {
  }
  Pack.Ovfseek(Handle, -7, 2);
  Pack.Ovfread(block.data(), 3, 5, Handle);
  Pack.Ovfseek(Handle, 1, 0);
  Pack.Ovfread(block.data(), 4099, 1, Handle);
  std::int32_t position = 0;
  Pack.Ovfgetpos(Handle, &position);
  Pack.Ovfsetpos(Handle, &position);
  Pack.OvIsCrc(Handle);
  Pack.OvGetCrc(Handle);
  FILETIME time;
  Pack.OvGetFileTime(Handle, time);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // Check failures are answered without being shown.
  static const bool kQuiet = [] {
    SetMessageBoxHandler([](const AnsiString&, const AnsiString&, unsigned) { return 1; });
    return true;
  }();
  (void)kQuiet;
  TMemoryStream stream;
  if (Size > 0) stream.WriteBuffer(Data, static_cast<std::int32_t>(Size));
  const std::int64_t blocks = heap_testing::LiveBlocks();
  for (TCrcMode mode : {cmNon, cmPackAll, cmEachFile}) {
    TOvPack pack;
    pack.SetCrcMode(mode);
    if (!pack.LoadPackStream(&stream)) continue;
    for (int i = 0; i < pack.GetFileNum(); ++i) {
      char name[kPackNameBufferBytes];
      if (!pack.GetFileName(i, name)) std::abort();
      pack.GetFileSize(i);
      pack.GetFileIsComp(i);
      FILETIME time;
      pack.GetFileTime(i, time);
      for (bool decode : {true, false}) {
        if (OvFILE* handle = pack.OvfopenComp(name, decode)) {
          ReadMember(pack, handle);
          pack.Ovfclose(handle);
        }
      }
      pack.OvMakeStream(name);
    }
    pack.EndPack();
    // Nothing read from a pack may stay allocated once it is closed.
    if (heap_testing::LiveBlocks() != blocks) std::abort();
  }
  return 0;
}

// Reading packs: LoadPack, LoadPackStream and LoadMain (header and directory of versions 1 to 3,
// checked against the file before anything is allocated, and the whole-pack check word), member
// opening with its check and the decoder over the pack stream.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "pack/Pack.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

// Directory entries read per call.
constexpr std::int64_t kEntriesPerRead = 4096;

void ShowDamagedPack() {
  static const AnsiString kText = Sjis("Packﾌｧｲﾙが壊れています。");
  static const AnsiString kCaption = Sjis("CRCｴﾗｰ");
  MessageBox(kText, kCaption, MB_OK | MB_ICONSTOP);
}

// The longest output a Corvel stream of StoredSize bytes can give: each item takes at least three
// stream bytes and gives at most 8192 bytes. A member claiming more is refused before its memory
// is allocated.
std::int64_t LargestDecodedSize(std::int32_t StoredSize) {
  return std::int64_t{StoredSize} / 3 * kCorvelMaxLength + kCorvelMaxLength;
}

}  // namespace

bool TOvPack::LoadPack(const AnsiString& Path) {
  if (FPackOpen) EndPack();
  try {
    FOwnedPack = std::make_unique<TFileStream>(
        Path, (FReadOnly ? fmOpenRead : fmOpenReadWrite) | fmShareDenyWrite);
  } catch (const std::exception& e) {
    FOwnedPack.reset();
    return Fail(OpenFailure(e));
  }
  FPack = FOwnedPack.get();
  if (!LoadMain()) {
    ReleaseStream();
    return false;
  }
  FPackName = Path;
  return true;  // LoadMain cleared the last error
}

bool TOvPack::LoadPackStream(TStream* Stream) {
  if (FPackOpen) EndPack();
  if (!FReadOnly || !Stream) return Fail(TPackReason::InvalidArgument);
  FPack = Stream;  // the caller's: never released here
  if (!LoadMain()) {
    ReleaseStream();
    return false;
  }
  return true;
}

bool TOvPack::OpenPack(const AnsiString& Path) {
  if (Path.empty()) {
    ClosePack();
    Succeed();
    return true;
  }
  return LoadPack(Path);
}

void TOvPack::ClosePack() {
  if (FPackOpen)
    EndPack();
  else
    Succeed();
}

// Reads Count entries of EntrySize bytes from the stream's position and converts them to
// version-3 entries in FTable (already sized).
bool TOvPack::ReadDirectory(std::int32_t EntrySize) {
  const auto count = static_cast<std::int64_t>(FTable.size());
  if (EntrySize == static_cast<std::int32_t>(sizeof(TOvFileTable3))) {
    for (std::int64_t i = 0; i < count; i += kEntriesPerRead) {
      const std::int64_t n = std::min(kEntriesPerRead, count - i);
      if (!PackRead(&FTable[static_cast<std::size_t>(i)], static_cast<std::int32_t>(n * EntrySize)))
        return false;
    }
    return true;
  }
  std::vector<Byte> raw(static_cast<std::size_t>(std::min(kEntriesPerRead, count) * EntrySize));
  for (std::int64_t i = 0; i < count; i += kEntriesPerRead) {
    const std::int64_t n = std::min(kEntriesPerRead, count - i);
    if (!PackRead(raw.data(), static_cast<std::int32_t>(n * EntrySize))) return false;
    for (std::int64_t k = 0; k < n; ++k) {
      TOvFileTable3& entry = FTable[static_cast<std::size_t>(i + k)];
      entry = TOvFileTable3{};
      const Byte* at = raw.data() + k * EntrySize;
      if (EntrySize == static_cast<std::int32_t>(sizeof(TOvFileTable1))) {
        TOvFileTable1 old;
        std::memcpy(&old, at, sizeof old);
        std::memcpy(entry.FileName, old.FileName, sizeof entry.FileName);
        std::memcpy(entry.FileExt, old.FileExt, sizeof entry.FileExt);
        entry.Offset = old.Offset;
        entry.Size = old.Size;
        entry.CompSize = old.Size;
      } else {
        TOvFileTable2 old;
        std::memcpy(&old, at, sizeof old);
        std::memcpy(entry.FileName, old.FileName, sizeof entry.FileName);
        std::memcpy(entry.FileExt, old.FileExt, sizeof entry.FileExt);
        entry.Offset = old.Offset;
        entry.Size = old.Size;
        entry.CompSize = old.CompSize;
        entry.Comp = old.Comp;
      }
      entry.Time = kPackOldTimeStamp;
    }
  }
  return true;
}

bool TOvPack::LoadMain() {
  if (!FPack) return Fail(TPackReason::InvalidArgument);
  FStreamPos = -1;
  TOvPackHeader header{};
  if (!PackSeek(0)) return Fail(TPackReason::ReadFailed, FStreamError);
  if (!PackRead(&header, sizeof header)) return Fail(ShortRead(TPackReason::NotAPack));

  std::int32_t entrySize = 0;
  switch (header.Version) {
    case kPackVersion1:
      entrySize = sizeof(TOvFileTable1);
      break;
    case kPackVersion2:
      entrySize = sizeof(TOvFileTable2);
      break;
    case kPackVersion3:
      entrySize = sizeof(TOvFileTable3);
      break;
    default:
      return Fail(TPackReason::NotAPack);
  }
  // The data area and the directory must lie within the file before anything is allocated.
  std::int64_t fileSize = 0;
  try {
    errno = 0;
    fileSize = FPack->Size();
  } catch (const std::exception& e) {
    const auto* stream = dynamic_cast<const EStreamError*>(&e);
    return Fail(TPackReason::ReadFailed,
                stream && stream->SystemError() != 0 ? stream->SystemError() : errno);
  }
  // A header that does not fit its file is damage when it is marked as a pack's, and otherwise
  // most likely not a pack at all.
  const bool marked = std::memcmp(header.Magic, kPackMagic, sizeof header.Magic) == 0;
  const TPackReason misfit = marked ? TPackReason::DamagedDirectory : TPackReason::NotAPack;
  if (header.DataSize < 0 || header.DataSize > kPackMaxDataSize || header.Count < 0)
    return Fail(misfit);
  const std::int64_t directory = std::int64_t{kPackHeaderSize} + header.DataSize;
  const std::int64_t end = directory + std::int64_t{entrySize} * header.Count;
  if (end > fileSize) return Fail(misfit);

  try {
    FTable.assign(static_cast<std::size_t>(header.Count), TOvFileTable3{});
  } catch (const std::bad_alloc&) {
    FTable.clear();
    return Fail(TPackReason::OutOfMemory);
  }
  if (header.Count > 0 && (!PackSeek(directory) || !ReadDirectory(entrySize))) {
    FTable.clear();
    return Fail(ShortRead(TPackReason::DamagedDirectory));
  }

  if (header.Version == kPackVersion3 && FCrcMode == cmPackAll) {
    Word crc = 0;
    Word stored = 0;
    // CheckSum gives its own reason; a check word the file ends before is missing.
    TPackError failure;
    if (!CheckSum(end, crc))
      failure = FLastError;
    else if (!PackRead(&stored, sizeof stored))
      failure = ShortRead(TPackReason::CheckWordMismatch);
    else if (stored != crc)
      failure = {TPackReason::CheckWordMismatch, 0};
    if (failure) {
      FTable.clear();
      FTable.shrink_to_fit();
      Fail(failure);
      ShowDamagedPack();
      return false;
    }
  }
  FFileVersion = header.Version;
  header.Version = kPackVersion3;
  FHeader = header;
  FModified = false;
  FPackOpen = true;
  Succeed();
  return true;
}

// An entry a handle can be opened on: not deleted, its stored bytes inside the data area, sizes
// that agree with how it is stored.
bool TOvPack::EntryIsSound(const TOvFileTable3& Entry) const {
  if (Entry.FileName[0] == 0) return false;
  if (Entry.Offset < 0 || Entry.Size < 0 || Entry.CompSize < 0) return false;
  if (std::int64_t{Entry.Offset} + Entry.CompSize > FHeader.DataSize) return false;
  if (Entry.Comp == 0) return Entry.Size == Entry.CompSize;
  return Entry.Size == 0 ||
         (Entry.CompSize > 0 && Entry.Size <= LargestDecodedSize(Entry.CompSize));
}

OvFILE* TOvPack::OvfopenComp(const AnsiString& Name, bool Decode) {
  if (!FPackOpen) {
    Fail(TPackReason::NotOpen);
    return nullptr;
  }
  const int index = CheckFileName(Name);
  if (index < 0) {
    Fail(TPackReason::NoSuchMember);
    return nullptr;
  }
  const TOvFileTable3& entry = FTable[static_cast<std::size_t>(index)];
  if (!EntryIsSound(entry)) {
    // When members are checked, an entry that cannot describe what was written is damage the
    // user is told of, as of a failed check word. A deleted entry is no damage.
    Fail(entry.FileName[0] == 0 ? TPackReason::NoSuchMember : TPackReason::DamagedMember);
    if (FCrcMode == cmEachFile && entry.CrcFlag != 0 && entry.FileName[0] != 0) ShowDamagedPack();
    return nullptr;
  }

  GlobalBlock block(GlobalAlloc(GPTR, sizeof(OvFILE)));
  if (!block) {
    Fail(TPackReason::OutOfMemory);
    return nullptr;
  }
  auto* handle = new (block.Get()) OvFILE{
      index, entry.Offset + kPackHeaderSize, entry.Size, entry.CompSize, entry.Comp != 0, nullptr,
      0};

  if (FCrcMode == cmEachFile && entry.CrcFlag != 0) {
    GlobalBlock buffer(GlobalAlloc(GMEM_FIXED, kPackCopyBlock));
    if (!buffer) {
      Fail(TPackReason::OutOfMemory);
      return nullptr;
    }
    Word crc = 0xFFFF;
    bool readAll = PackSeek(handle->Start);
    for (std::int32_t done = 0; readAll && done < handle->CompSize;) {
      const std::int32_t piece = std::min(kPackCopyBlock, handle->CompSize - done);
      readAll = PackRead(buffer.Get(), piece);
      crc = FCrc->UpDateCrc(crc, buffer.Get(), piece);
      done += piece;
    }
    if (!readAll || crc != entry.Crc) {
      // Stored bytes the file ends before fail the check as much as changed ones.
      Fail(readAll ? TPackError{TPackReason::CheckWordMismatch, 0}
                   : ShortRead(TPackReason::CheckWordMismatch));
      ShowDamagedPack();
      return nullptr;
    }
  }

  if (handle->Comp && Decode) {
    GlobalBlock memory(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(handle->Size)));
    if (!memory) {
      Fail(TPackReason::OutOfMemory);
      return nullptr;
    }
    if (handle->Size > 0 && !PackSeek(handle->Start)) {
      Fail(TPackReason::ReadFailed, FStreamError);
      return nullptr;
    }
    // FileDecode gives its own reason.
    if (handle->Size > 0 && !FileDecode(memory.Get(), FPack, handle->Size, handle->CompSize))
      return nullptr;
    handle->Memory = memory.Release();
  }
  Succeed();
  return static_cast<OvFILE*>(block.Release());
}

bool TOvPack::FileDecode(void* Dest, TStream* Source, std::int32_t Size, std::int32_t StoredSize) {
  if (!Dest || !Source || Size <= 0 || StoredSize <= 0) return Fail(TPackReason::InvalidArgument);
  ReportProgress(0, StoredSize);
  GlobalBlock slice(GlobalAlloc(GMEM_FIXED, kCorvelSliceSize));
  if (!slice) return Fail(TPackReason::OutOfMemory);
  auto* dest = static_cast<Byte*>(Dest);
  std::int64_t written = 0;
  TCorvelDecode decoder;
  const TCorvelRun run = CorvelDecodeAll(
      decoder, Size, StoredSize,
      [&](std::int64_t Offset, std::int32_t Count) -> const Byte* {
        std::int32_t moved = 0;
        if (!StreamRead(Source, slice.Get(), Count, moved)) return nullptr;
        ReportProgress(Offset + Count, StoredSize);
        return slice.As<Byte>();
      },
      [&](const Byte* Data, std::int32_t Count) {
        std::memcpy(dest + written, Data, static_cast<std::size_t>(Count));  // never past Size
        written += Count;
        return true;
      });
  switch (run.Status) {
    case TCorvelStatus::NotOpened:
      return Fail(TPackReason::OutOfMemory);  // the sizes are valid
    case TCorvelStatus::SourceFailed:
      return Fail(ShortRead(TPackReason::ReadFailed));
    case TCorvelStatus::Ok:
      break;
    default:
      return Fail(TPackReason::DamagedMember);
  }
  // The stored size is exactly the stream: bytes left over mean the entry does not describe it.
  return run.Consumed == StoredSize || Fail(TPackReason::DamagedMember);
}

}  // namespace ovelta

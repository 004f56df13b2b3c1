// Member access through OvFILE handles (close, sizes, seek, positions, read, check word and time
// stamp), whole members streamed or as memory streams, and the component's own member stream.
#include <algorithm>
#include <cstring>

#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "pack/Pack.h"

namespace ovelta {

// Bytes a handle can read: the size, or the stored size for a compressed member read raw.
std::int32_t TOvPack::Readable(const OvFILE* Handle) const {
  return Handle->Comp && !Handle->Memory ? Handle->CompSize : Handle->Size;
}

bool TOvPack::Ovfclose(OvFILE* Handle) {
  if (!Handle) return false;
  GlobalFree(Handle->Memory);
  GlobalFree(Handle);
  return true;
}

std::int32_t TOvPack::Ovfsize(OvFILE* Handle) const {
  return FPackOpen && Handle ? Handle->Size : 0;
}

std::int32_t TOvPack::Ovdsize(OvFILE* Handle) const {
  return FPackOpen && Handle ? Handle->CompSize : 0;
}

bool TOvPack::OvIsComp(OvFILE* Handle) const { return FPackOpen && Handle && Handle->Comp; }

bool TOvPack::Ovfseek(OvFILE* Handle, std::int32_t Offset, std::int32_t Origin) {
  if (!FPackOpen || !Handle) return false;
  const std::int64_t length = Readable(Handle);
  std::int64_t position = Handle->Pos;
  switch (Origin) {
    case 0:
      position = Offset;
      break;
    case 1:
      position += Offset;
      break;
    case 2:
      position = length + Offset;
      break;
    default:
      break;
  }
  Handle->Pos = static_cast<std::int32_t>(std::clamp<std::int64_t>(position, 0, length));
  return true;
}

bool TOvPack::Ovfgetpos(OvFILE* Handle, std::int32_t* Position) const {
  if (!FPackOpen || !Handle || !Position) return false;
  *Position = Handle->Pos;
  return true;
}

bool TOvPack::Ovfsetpos(OvFILE* Handle, const std::int32_t* Position) {
  if (!FPackOpen || !Handle || !Position) return false;
  Handle->Pos = std::clamp(*Position, 0, Readable(Handle));
  return true;
}

unsigned TOvPack::Ovfread(void* Buffer, unsigned Size, unsigned Count, OvFILE* Handle) {
  if (!FPackOpen || !Handle || !Buffer || Size == 0) return 0;
  const std::int32_t length = Readable(Handle);
  Handle->Pos = std::clamp(Handle->Pos, 0, length);
  const auto left = static_cast<std::uint64_t>(length - Handle->Pos);
  if (std::uint64_t{Size} * Count > left) Count = static_cast<unsigned>(left / Size);
  if (Count == 0) return 0;
  const auto bytes = static_cast<std::int32_t>(std::uint64_t{Size} * Count);
  if (Handle->Memory) {
    std::memcpy(Buffer, static_cast<const Byte*>(Handle->Memory) + Handle->Pos,
                static_cast<std::size_t>(bytes));
    Handle->Pos += bytes;
    return Count;
  }
  // Straight from the pack stream; the seek is skipped when the stream is already there. A read
  // that comes short (the file changed, an I/O error) counts only the whole items delivered.
  if (!PackSeek(std::int64_t{Handle->Start} + Handle->Pos)) {
    Fail(TPackReason::ReadFailed, FStreamError);
    return 0;
  }
  std::int32_t moved = 0;
  if (!StreamRead(FPack, Buffer, bytes, moved)) Fail(TPackReason::ReadFailed, FStreamError);
  Handle->Pos += moved;
  return static_cast<unsigned>(moved) / Size;
}

bool TOvPack::OvIsCrc(OvFILE* Handle) const {
  const TOvFileTable3* entry = Handle ? GetFileEntry(Handle->Index) : nullptr;
  return entry && entry->CrcFlag == 1;
}

Word TOvPack::OvGetCrc(OvFILE* Handle) const {
  const TOvFileTable3* entry = Handle ? GetFileEntry(Handle->Index) : nullptr;
  return entry ? entry->Crc : 0;
}

bool TOvPack::OvGetFileTime(OvFILE* Handle, FILETIME& Time) const {
  const TOvFileTable3* entry = Handle ? GetFileEntry(Handle->Index) : nullptr;
  if (!entry) return false;
  Time = entry->Time;
  return true;
}

bool TOvPack::OvfreadAll(OvFILE* Handle, const TMemberSink& Sink) {
  if (!FPackOpen) return Fail(TPackReason::NotOpen);
  const TOvFileTable3* entry = Handle ? GetFileEntry(Handle->Index) : nullptr;
  if (!entry || !Sink) return Fail(TPackReason::InvalidArgument);
  const bool checked = entry->CrcFlag != 0;
  const std::int32_t stored = Handle->CompSize;
  const std::int32_t size = Handle->Size;
  GlobalBlock block(GlobalAlloc(GMEM_FIXED, kPackCopyBlock));
  if (!block) return Fail(TPackReason::OutOfMemory);
  if (stored > 0 && !PackSeek(Handle->Start)) return Fail(TPackReason::ReadFailed, FStreamError);
  // Every stored byte passes through the check word on its way in.
  Word crc = 0xFFFF;
  std::int64_t read = 0;
  TPackError shortRead;
  const auto readStored = [&](std::int32_t Count) -> const Byte* {
    if (!PackRead(block.Get(), Count)) {
      // A checked member whose bytes the file ends before fails its check, as on open.
      shortRead = ShortRead(checked ? TPackReason::CheckWordMismatch : TPackReason::ReadFailed);
      return nullptr;
    }
    crc = FCrc->UpDateCrc(crc, block.Get(), Count);
    read += Count;
    return block.As<Byte>();
  };
  bool sinkFailed = false;
  std::int64_t handed = 0;
  const auto hand = [&](const Byte* Data, std::int32_t Count) {
    if (!Sink(Data, Count)) {
      sinkFailed = true;
      return false;
    }
    handed += Count;
    ReportProgress(handed, size);
    return true;
  };
  ReportProgress(0, size);
  TPackError failure;
  if (Handle->Comp && size > 0) {
    TCorvelDecode decoder;
    const TCorvelRun run = CorvelDecodeAll(
        decoder, size, stored, [&](std::int64_t, std::int32_t Count) { return readStored(Count); },
        hand);
    if (run.Status == TCorvelStatus::NotOpened)
      failure = {TPackReason::OutOfMemory, 0};  // the sizes are sound: the entry was checked
    else if (run.Status == TCorvelStatus::SourceFailed)
      failure = shortRead;
    else if (!run.Ok() || run.Consumed != stored)
      failure = {TPackReason::DamagedMember, 0};  // bytes left over: the entry does not describe it
  } else {
    // Stored as it is; a compressed member of size 0 has only stored bytes to check.
    while (!sinkFailed && !failure && read < stored) {
      const auto piece =
          static_cast<std::int32_t>(std::min<std::int64_t>(kPackCopyBlock, stored - read));
      const Byte* bytes = readStored(piece);
      if (!bytes)
        failure = shortRead;
      else if (!Handle->Comp)
        hand(bytes, piece);
    }
  }
  if (sinkFailed) return Fail(TPackReason::WriteFailed);
  // Whatever else went wrong, changed stored bytes are reported as such: read the rest for the
  // check.
  while (checked && !shortRead && read < stored)
    readStored(static_cast<std::int32_t>(std::min<std::int64_t>(kPackCopyBlock, stored - read)));
  if (shortRead) return Fail(shortRead);
  if (checked && crc != entry->Crc) return Fail(TPackReason::CheckWordMismatch);
  return !failure || Fail(failure);
}

std::unique_ptr<TMemoryStream> TOvPack::OvMakeStream(const AnsiString& Name) {
  OvFILE* handle = Ovfopen(Name);  // sets the last error either way
  if (!handle) return nullptr;
  std::unique_ptr<TMemoryStream> stream;
  try {
    stream = std::make_unique<TMemoryStream>();
    stream->SetSize(handle->Size);
    Ovfseek(handle, 0, 0);
    // The whole member as one item, read straight into the stream's memory; Ovfread gives the
    // reason when it comes short.
    if (handle->Size > 0 &&
        Ovfread(stream->Memory(), static_cast<unsigned>(handle->Size), 1, handle) != 1)
      stream.reset();
  } catch (const std::exception&) {
    stream.reset();  // the memory stream could not grow to the member's size
    Fail(TPackReason::OutOfMemory);
  }
  Ovfclose(handle);
  if (stream) stream->SetPosition(0);
  return stream;
}

bool TOvPack::OpenFile(const AnsiString& Name) {
  FMemberStream.reset();
  FFileName = Name;
  if (Name.empty()) {
    Succeed();
    return true;
  }
  FMemberStream = OvMakeStream(Name);
  if (!FMemberStream) {
    FFileName.clear();
    return false;
  }
  return true;
}

void TOvPack::CloseFile() {
  FMemberStream.reset();
  FFileName.clear();
}

}  // namespace ovelta

// Building packs: NewPack, AddFile, AddPack, DelFile and EndPack, with the transfers they run
// (block copies with their check words, the encoder over a stream, the whole-pack check word).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "pack/Pack.h"
#include "pack/PackNames.h"
#include "pack/PackPrepare.h"
#include "pack/PackWriter_p.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

// Directory entries written per call when the directory is written back.
constexpr std::size_t kEntriesPerWrite = 4096;

std::int64_t RoundUp(std::int64_t Size) {
  return (Size + kPackAlign - 1) / kPackAlign * kPackAlign;
}

// AddFile's failures, shown through the exception display.
AnsiString InvalidNameText(const AnsiString& Name) {
  return Sjis("ファイル名") + Name + Sjis("が不正です。");
}
AnsiString CannotOpenText(const AnsiString& Path) {
  return Sjis("ファイル") + Path + Sjis("が開けません。");
}
AnsiString NoTempFileText() { return Sjis("テンポラリファイルが作れません。"); }
AnsiString CannotReadText(const AnsiString& Path) {
  return Sjis("ファイル") + Path + Sjis("が読めません。");
}
AnsiString CannotWriteText(const AnsiString& Path) {
  return Sjis("ファイル") + Path + Sjis("に書き込めません。");
}
AnsiString TooLargeText(const AnsiString& Path) {
  return Sjis("ファイル") + Path + Sjis("が大きすぎます。");
}
AnsiString NoMemoryText() { return Sjis("メモリが足りません。"); }

// One of AddFile's failures: the text shown and the reason kept in LastError.
class EAddFailed : public Exception {
 public:
  EAddFailed(const AnsiString& Text, TPackReason Reason, int SystemError = 0)
      : Exception(Text), Error{Reason, SystemError} {}
  TPackError Error;
};

// Creates the first temporary file name that is free, exclusively: a name that exists in any form
// (a file, a directory, a symbolic link, followed or not) is passed over for the next number, so
// two writers in one directory never share a file and a planted link is never written through.
// Name receives the file's name; the caller deletes the file. Raises EAddFailed with the
// temporary-file message (NoTempFile) when every name is taken, or with the cannot-open message
// (CannotOpen and the system's error) when the system refuses a name for another reason.
std::unique_ptr<TFileStream> CreateTempFile(AnsiString& Name) {
  for (int i = 0; i < pack_names::kTempFileNames; ++i) {
    const AnsiString candidate = pack_names::TempFileName(i);
    try {
      auto file = std::make_unique<TFileStream>(candidate, fmCreate | fmExclusive);
      Name = candidate;
      return file;
    } catch (const EStreamError& e) {
      if (e.SystemError() != EEXIST)
        throw EAddFailed(CannotOpenText(candidate), TPackReason::CannotOpen, e.SystemError());
    }
  }
  throw EAddFailed(NoTempFileText(), TPackReason::NoTempFile);
}

// The largest file AddFile encodes in memory; kPackMemoryEncodeBound unless a test changed it.
std::atomic<std::int64_t> gMemoryEncodeBound{kPackMemoryEncodeBound};

// A member's Corvel stream held in memory: one global-heap block of Limit bytes at most, filled
// from its start. A write that would pass Limit moves nothing and marks the stream Overflowed, so
// the encoder stops there: such a stream would not be smaller than its file. Reads give back what
// was written; the size cannot be set.
class TBoundedStream : public TStream {
 public:
  // Null when the block cannot be had.
  static std::unique_ptr<TBoundedStream> Create(std::int32_t Limit) {
    GlobalBlock block(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(std::max(Limit, 1))));
    if (!block) return nullptr;
    return std::unique_ptr<TBoundedStream>(new TBoundedStream(std::move(block), Limit));
  }
  std::string ClassName() const override { return "TBoundedStream"; }
  bool Overflowed() const { return FOverflowed; }

  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    const auto n = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(FSize - FPosition, 0, std::max<std::int32_t>(Count, 0)));
    if (n > 0) std::memcpy(Buffer, FBlock.As<Byte>() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
  }
  std::int32_t Write(const void* Buffer, std::int32_t Count) override {
    if (Count <= 0) return 0;
    if (FPosition > FLimit - Count) {
      FOverflowed = true;
      return 0;
    }
    std::memcpy(FBlock.As<Byte>() + FPosition, Buffer, static_cast<std::size_t>(Count));
    FPosition += Count;
    FSize = std::max(FSize, FPosition);
    return Count;
  }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    const std::int64_t base = Origin == TSeekOrigin::soCurrent ? FPosition
                              : Origin == TSeekOrigin::soEnd   ? FSize
                                                               : 0;
    if (Offset < -base || Offset > FSize - base)
      throw EStreamError("Seek outside a member held in memory");
    FPosition = base + Offset;
    return FPosition;
  }
  void SetSize(std::int64_t) override {
    throw EStreamError("The size of a member held in memory cannot be set");
  }
  std::int64_t Size() override { return FSize; }

 private:
  TBoundedStream(GlobalBlock Block, std::int32_t Limit) : FBlock(std::move(Block)), FLimit(Limit) {}

  GlobalBlock FBlock;
  std::int64_t FLimit;
  std::int64_t FSize = 0;
  std::int64_t FPosition = 0;
  bool FOverflowed = false;
};

}  // namespace

namespace pack_writer_testing {
std::int64_t SetMemoryEncodeBound(std::int64_t Bytes) {
  return gMemoryEncodeBound.exchange(std::max<std::int64_t>(Bytes, 0));
}
}  // namespace pack_writer_testing

// ---- transfers ------------------------------------------------------------------------------

// Copies Count bytes in 32768-byte blocks from Source (or, with SourcePack, from its member
// Handle through Ovfread) to Dest's position, with the check word of the bytes copied in Crc.
TOvPack::TCopyResult TOvPack::CopyBlocks(TStream* Dest, TStream* Source, TOvPack* SourcePack,
                                         OvFILE* Handle, std::int32_t Count, Word& Crc) {
  Crc = 0xFFFF;
  GlobalBlock buffer(GlobalAlloc(GMEM_FIXED, kPackCopyBlock));
  if (!buffer) return TCopyResult::NoMemory;
  auto* bytes = buffer.As<Byte>();
  ReportProgress(0, Count);
  std::int32_t done = 0;
  while (done < Count) {
    const std::int32_t piece = std::min(kPackCopyBlock, Count - done);
    bool readOk = false;
    if (SourcePack) {
      readOk = SourcePack->Ovfread(bytes, 1, static_cast<unsigned>(piece), Handle) ==
               static_cast<unsigned>(piece);
    } else {
      std::int32_t moved = 0;
      readOk = StreamRead(Source, bytes, piece, moved);
    }
    ReportProgress(std::int64_t{done} + piece, Count);
    if (!readOk) return TCopyResult::ReadFailed;
    std::int32_t moved = 0;
    if (!StreamWrite(Dest, bytes, piece, moved)) return TCopyResult::WriteFailed;
    Crc = FCrc->UpDateCrc(Crc, bytes, piece);
    done += piece;
  }
  return TCopyResult::Ok;
}

// The reason for a copy that did not end Ok; Source is the pack read from, or null.
TPackError TOvPack::CopyFailure(TCopyResult Result, const TOvPack* Source) const {
  switch (Result) {
    case TCopyResult::NoMemory:
      return {TPackReason::OutOfMemory, 0};
    case TCopyResult::ReadFailed:
      return {TPackReason::ReadFailed, (Source ? Source : this)->FStreamError};
    case TCopyResult::WriteFailed:
      return {TPackReason::WriteFailed, FStreamError};
    case TCopyResult::Ok:
      break;
  }
  return {};
}

Word TOvPack::FileCopy(TStream* Dest, TStream* Source, std::int32_t Count) {
  Word crc = 0;
  const TCopyResult result = CopyBlocks(Dest, Source, nullptr, nullptr, Count, crc);
  if (result != TCopyResult::Ok) Fail(CopyFailure(result, nullptr));
  return result == TCopyResult::NoMemory ? 0 : crc;
}

Word TOvPack::PackCopy(TStream* Dest, TOvPack* Source, OvFILE* Handle, std::int32_t Count) {
  if (!Source || !Handle) {
    Fail(TPackReason::InvalidArgument);
    return 0;
  }
  Word crc = 0;
  const TCopyResult result = CopyBlocks(Dest, nullptr, Source, Handle, Count, crc);
  if (result != TCopyResult::Ok) Fail(CopyFailure(result, Source));
  return result == TCopyResult::NoMemory ? 0 : crc;
}

std::int32_t TOvPack::FileEncode(TStream* Dest, TStream* Source, std::int32_t Count) {
  if (!Dest || !Source || Count <= 0) {
    Fail(TPackReason::InvalidArgument);
    return 0;
  }
  GlobalBlock slice(GlobalAlloc(GMEM_FIXED, kCorvelSliceSize));
  if (!slice) {
    Fail(TPackReason::OutOfMemory);
    return 0;
  }
  TCorvelEncode encoder;
  // Progress: 0 once the encoder is open, then before every call the bytes read so far.
  const TCorvelRun run = CorvelEncodeAll(
      encoder, Count,
      [&](std::int64_t Offset, std::int32_t Piece) -> const Byte* {
        if (Offset == 0) ReportProgress(0, Count);
        std::int32_t moved = 0;
        if (Piece > 0 && !StreamRead(Source, slice.Get(), Piece, moved)) return nullptr;
        ReportProgress(Offset + Piece, Count);
        return slice.As<Byte>();
      },
      [&](const Byte* Data, std::int32_t Ready) {
        std::int32_t moved = 0;
        return StreamWrite(Dest, Data, Ready, moved);
      });
  switch (run.Status) {
    case TCorvelStatus::Ok:
      return static_cast<std::int32_t>(run.Produced);
    case TCorvelStatus::SourceFailed:
      Fail(TPackReason::ReadFailed, FStreamError);
      break;
    case TCorvelStatus::SinkFailed:
      Fail(TPackReason::WriteFailed, FStreamError);
      break;
    default:
      Fail(TPackReason::OutOfMemory);
      break;  // the encoder could not be opened
  }
  return 0;
}

// Writes zero bytes after a member of StoredSize bytes up to the next multiple of 16.
bool TOvPack::PadToBoundary(std::int32_t StoredSize) {
  static const Byte kZeros[kPackAlign] = {};
  const auto pad = static_cast<std::int32_t>(RoundUp(StoredSize) - StoredSize);
  return pad == 0 || PackWrite(kZeros, pad);
}

// The check word over the first Length bytes of the pack stream, read in 1 MiB blocks with
// progress before each block; false when the stream cannot give them all.
bool TOvPack::CheckSum(std::int64_t Length, Word& Crc) {
  Crc = 0xFFFF;
  const auto block = static_cast<std::size_t>(std::clamp<std::int64_t>(Length, 1, kPackCheckBlock));
  GlobalBlock buffer(GlobalAlloc(GMEM_FIXED, block));
  if (!buffer) return Fail(TPackReason::OutOfMemory);
  if (!PackSeek(0)) return Fail(TPackReason::ReadFailed, FStreamError);
  ReportProgress(0, Length);
  std::int64_t done = 0;
  while (done < Length) {
    const auto piece =
        static_cast<std::int32_t>(std::min<std::int64_t>(kPackCheckBlock, Length - done));
    ReportProgress(done + piece, Length);
    if (!PackRead(buffer.Get(), piece)) return Fail(ShortRead(TPackReason::ReadFailed));
    Crc = FCrc->UpDateCrc(Crc, buffer.Get(), piece);
    done += piece;
  }
  return true;
}

// ---- building -------------------------------------------------------------------------------

bool TOvPack::NewPack(const AnsiString& Path) {
  if (FReadOnly) return Fail(TPackReason::ReadOnly);
  if (FPackOpen) EndPack();
  try {
    FOwnedPack = std::make_unique<TFileStream>(Path, fmCreate);
  } catch (const std::exception& e) {
    FOwnedPack.reset();
    return Fail(OpenFailure(e));
  }
  FPack = FOwnedPack.get();
  FStreamPos = 0;
  FHeader = TOvPackHeader{};
  std::memcpy(FHeader.Magic, kPackMagic, sizeof FHeader.Magic);
  FHeader.Version = kPackVersion3;
  FFileVersion = kPackVersion3;
  FTable.clear();
  PackWrite(&FHeader, sizeof FHeader);
  FModified = true;
  FPackName = Path;
  FPackOpen = true;
  Succeed();
  return true;
}

bool TOvPack::AddFile(const AnsiString& Name, const AnsiString& Path, bool Compress) {
  if (!Writable()) return Fail(FPackOpen ? TPackReason::ReadOnly : TPackReason::NotOpen);
  std::unique_ptr<TFileStream> source;
  std::unique_ptr<TBoundedStream> memory;  // the stream when encoded in memory
  std::unique_ptr<TFileStream> temp;       // otherwise the temporary file holding it
  AnsiString tempName;
  // The temporary file is removed while still open: an interruption's clean-up knows it by its
  // open descriptor, so it is never closed and still there.
  auto dropTemp = [&] {
    if (!tempName.empty()) ::unlink(tempName.c_str());
    tempName.clear();
    temp.reset();
  };
  try {
    try {
      if (const TPackReason problem = NameProblem(Name); problem != TPackReason::None)
        throw EAddFailed(InvalidNameText(Name), problem);
      try {
        source = std::make_unique<TFileStream>(Path, fmOpenRead | fmShareDenyWrite);
      } catch (const EStreamError& e) {
        throw EAddFailed(CannotOpenText(Path), TPackReason::CannotOpen, e.SystemError());
      }
      TOvFileTable3 entry{};
      MakeFTName(entry, Name);
      entry.Offset = FHeader.DataSize;
      std::int64_t size = 0;
      try {
        size = source->Size();
        entry.Time = source->LastWriteTime();
      } catch (const EStreamError& e) {
        throw EAddFailed(CannotReadText(Path), TPackReason::ReadFailed, e.SystemError());
      }
      if (size > kPackMaxDataSize - FHeader.DataSize)
        throw EAddFailed(TooLargeText(Path), TPackReason::TooLarge);
      entry.Size = static_cast<std::int32_t>(size);

      bool compressed = Compress && size > 0;
      std::int32_t stored = entry.Size;
      TStream* encoded = nullptr;
      if (compressed) {
        // In memory (kept only while smaller than the file) within the bound when the block can
        // be had; otherwise through a temporary file, made here and deleted whatever happens.
        if (size <= gMemoryEncodeBound.load()) memory = TBoundedStream::Create(entry.Size - 1);
        if (!memory) temp = CreateTempFile(tempName);
        encoded = memory ? static_cast<TStream*>(memory.get()) : temp.get();
        const std::int32_t packed = FileEncode(encoded, source.get(), entry.Size);
        if (packed > 0 && packed < entry.Size) {
          stored = packed;
          source.reset();
          // Read back through the stream that made it: reopening by name would open whatever
          // the name holds by then.
          try {
            encoded->Seek(0, TSeekOrigin::soBeginning);
          } catch (const EStreamError& e) {
            throw EAddFailed(CannotReadText(tempName), TPackReason::ReadFailed, e.SystemError());
          }
        } else {
          // Not smaller (or the encoder could not run): store the file unchanged. A stream cut
          // off in memory before the whole file was read ends its progress as a whole one would.
          if (memory && memory->Overflowed() && FProgPercent < 100)
            ReportProgress(entry.Size, entry.Size);
          compressed = false;
          memory.reset();
          dropTemp();  // before the file is copied, which may take long
          try {
            source->Seek(0, TSeekOrigin::soBeginning);
          } catch (const EStreamError& e) {
            throw EAddFailed(CannotReadText(Path), TPackReason::ReadFailed, e.SystemError());
          }
        }
      }
      if (RoundUp(stored) > kPackMaxDataSize - FHeader.DataSize)
        throw EAddFailed(TooLargeText(Path), TPackReason::TooLarge);
      entry.Comp = compressed ? 1 : 0;
      entry.CompSize = stored;
      if (compressed)
        AppendMember(entry, encoded, tempName);
      else
        AppendMember(entry, source.get(), Path);
    } catch (const std::bad_alloc&) {
      throw EAddFailed(NoMemoryText(), TPackReason::OutOfMemory);
    }
  } catch (const Exception& e) {
    source.reset();
    dropTemp();
    return AddFailed(e);
  }
  source.reset();
  dropTemp();
  Succeed();
  return true;
}

void TOvPack::AppendMember(TOvFileTable3& Entry, TStream* From, const AnsiString& ReadName) {
  Entry.CrcFlag = 1;
  // From here the old directory on disk is overwritten: the pack must be rewritten on close.
  FModified = true;
  if (!PackSeek(std::int64_t{kPackHeaderSize} + FHeader.DataSize))
    throw EAddFailed(CannotWriteText(FPackName), TPackReason::WriteFailed, FStreamError);
  switch (CopyBlocks(FPack, From, nullptr, nullptr, Entry.CompSize, Entry.Crc)) {
    case TCopyResult::Ok:
      break;
    case TCopyResult::NoMemory:
      throw EAddFailed(NoMemoryText(), TPackReason::OutOfMemory);
    case TCopyResult::ReadFailed:
      throw EAddFailed(CannotReadText(ReadName), TPackReason::ReadFailed, FStreamError);
    case TCopyResult::WriteFailed:
      throw EAddFailed(CannotWriteText(FPackName), TPackReason::WriteFailed, FStreamError);
  }
  if (!PadToBoundary(Entry.CompSize))
    throw EAddFailed(CannotWriteText(FPackName), TPackReason::WriteFailed, FStreamError);
  FTable.push_back(Entry);
  FHeader.DataSize = static_cast<std::int32_t>(FHeader.DataSize + RoundUp(Entry.CompSize));
  FHeader.Count = static_cast<std::int32_t>(FTable.size());
}

bool TOvPack::AddFailed(const Exception& Raised) {
  const auto* failed = dynamic_cast<const EAddFailed*>(&Raised);
  Fail(failed ? failed->Error : TPackError{TPackReason::WriteFailed, 0});
  ShowException(Raised);
  return false;
}

bool TOvPack::AddPrepared(const AnsiString& Name, TPreparedMember& Member) {
  TPreparedMember member = std::move(Member);
  Member = TPreparedMember{};
  if (!member.Ready || !member.Stored || !Writable() || NameProblem(Name) != TPackReason::None ||
      RoundUp(member.Stored->Size()) > kPackMaxDataSize - FHeader.DataSize) {
    member.Stored.reset();
    return AddFile(Name, member.Path, member.Compress);
  }
  try {
    try {
      TOvFileTable3 entry{};
      MakeFTName(entry, Name);
      entry.Offset = FHeader.DataSize;
      entry.Size = member.Size;
      entry.Time = member.Time;
      entry.Comp = member.Comp ? 1 : 0;
      entry.CompSize = static_cast<std::int32_t>(member.Stored->Size());
      member.Stored->Seek(0, TSeekOrigin::soBeginning);
      AppendMember(entry, member.Stored.get(), member.Path);
    } catch (const std::bad_alloc&) {
      throw EAddFailed(NoMemoryText(), TPackReason::OutOfMemory);
    }
  } catch (const Exception& e) {
    return AddFailed(e);
  }
  Succeed();
  return true;
}

bool TOvPack::AddPack(const AnsiString& Name, TOvPack* Source, const AnsiString& SourceName) {
  if (!Writable()) return Fail(FPackOpen ? TPackReason::ReadOnly : TPackReason::NotOpen);
  if (!Source || Source == this) return Fail(TPackReason::InvalidArgument);
  if (const TPackReason problem = NameProblem(Name); problem != TPackReason::None)
    return Fail(problem);
  OvFILE* handle = Source->OvfopenComp(SourceName, false);
  if (!handle) return Fail(Source->LastError());
  struct Closer {
    TOvPack* Pack;
    OvFILE* Handle;
    ~Closer() { Pack->Ovfclose(Handle); }
  } closer{Source, handle};

  const TOvFileTable3& from = Source->FTable[static_cast<std::size_t>(handle->Index)];
  TOvFileTable3 entry{};
  MakeFTName(entry, Name);
  entry.Offset = FHeader.DataSize;
  entry.Size = from.Size;
  entry.CompSize = from.CompSize;
  entry.Comp = from.Comp;
  entry.Time = from.Time;
  entry.CrcFlag = 1;
  if (RoundUp(entry.CompSize) > kPackMaxDataSize - FHeader.DataSize)
    return Fail(TPackReason::TooLarge);

  FModified = true;
  if (!PackSeek(std::int64_t{kPackHeaderSize} + FHeader.DataSize))
    return Fail(TPackReason::WriteFailed, FStreamError);
  if (!Source->Ovfseek(handle, 0, 0)) return Fail(TPackReason::ReadFailed);
  const TCopyResult copied = CopyBlocks(FPack, nullptr, Source, handle, entry.CompSize, entry.Crc);
  if (copied != TCopyResult::Ok) return Fail(CopyFailure(copied, Source));
  if (!PadToBoundary(entry.CompSize)) return Fail(TPackReason::WriteFailed, FStreamError);
  try {
    FTable.push_back(entry);
  } catch (const std::bad_alloc&) {
    return Fail(TPackReason::OutOfMemory);
  }
  FHeader.DataSize = static_cast<std::int32_t>(FHeader.DataSize + RoundUp(entry.CompSize));
  FHeader.Count = static_cast<std::int32_t>(FTable.size());
  Succeed();
  return true;
}

bool TOvPack::DelFile(const AnsiString& Name) {
  if (!Writable()) return Fail(FPackOpen ? TPackReason::ReadOnly : TPackReason::NotOpen);
  const int index = CheckFileName(Name);
  if (index < 0) return Fail(TPackReason::NoSuchMember);
  TOvFileTable3& entry = FTable[static_cast<std::size_t>(index)];
  if (entry.FileName[0] == 0) return Fail(TPackReason::NoSuchMember);  // already deleted
  std::memset(entry.FileName, 0, sizeof entry.FileName);
  std::memset(entry.FileExt, 0, sizeof entry.FileExt);
  FModified = true;
  Succeed();
  return true;
}

bool TOvPack::EndPack() {
  Succeed();
  if (!FPackOpen) return true;
  bool ok = true;
  CloseFile();
  const std::int64_t directory = std::int64_t{kPackHeaderSize} + FHeader.DataSize;
  const std::int64_t end = directory + std::int64_t{48} * static_cast<std::int64_t>(FTable.size());
  if (FModified) {
    FHeader.Version = kPackVersion3;
    FHeader.Count = static_cast<std::int32_t>(FTable.size());
    ok = PackSeek(0) && PackWrite(&FHeader, sizeof FHeader);
    if (ok && !FTable.empty()) {
      ok = PackSeek(directory);
      for (std::size_t i = 0; ok && i < FTable.size(); i += kEntriesPerWrite) {
        const std::size_t n = std::min(kEntriesPerWrite, FTable.size() - i);
        ok = PackWrite(&FTable[i], static_cast<std::int32_t>(n * sizeof(TOvFileTable3)));
      }
    }
    if (!ok) Fail(TPackReason::WriteFailed, FStreamError);
  }
  FTable.clear();
  FTable.shrink_to_fit();
  if (FModified && ok) {
    Word crc = 0;
    // CheckSum gives its own reason.
    ok = CheckSum(end, crc) &&
         (PackWrite(&crc, sizeof crc) || Fail(TPackReason::WriteFailed, FStreamError));
  }
  ReleaseStream();
  return ok;
}

void TOvPack::ReleaseStream() {
  FOwnedPack.reset();
  FPack = nullptr;
  FStreamPos = -1;
  FHeader = TOvPackHeader{};
  FTable.clear();
  FModified = false;
  FPackName.clear();
  FPackOpen = false;
}

}  // namespace ovelta

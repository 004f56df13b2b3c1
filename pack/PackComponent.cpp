// TOvPack as a component: construction, properties, progress, member lookup, the temporary
// file, the guarded stream transfers, the directory queries and registration.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "pack/Crc.h"
#include "pack/Pack.h"
#include "pack/PackNames.h"
#include "platform/core/Component.h"
#include "platform/core/Text.h"
#include "util/Ovelta.h"

namespace ovelta {

namespace {

// The system's error behind a stream's exception: the one it carries, else errno as the failing
// call left it (callers clear errno first), 0 for exceptions of no system call.
int SystemErrorOf(const std::exception& Raised) {
  if (const auto* stream = dynamic_cast<const EStreamError*>(&Raised);
      stream && stream->SystemError() != 0)
    return stream->SystemError();
  return dynamic_cast<const EStreamError*>(&Raised) ? errno : 0;
}

}  // namespace

TOvPack::TOvPack(TComponent* AOwner) : TComponent(AOwner), FCrc(std::make_unique<TCrcCheck>()) {}

TOvPack::~TOvPack() { EndPack(); }

void TOvPack::Loaded() { TComponent::Loaded(); }

void TOvPack::SetReadOnly(bool Value) {
  if (!FPackOpen) FReadOnly = Value;
}

// Percent of Done in Total; above 64 MiB both are first counted in 32 KiB units (whole units, so
// the percentage steps by those units).
void TOvPack::ReportProgress(std::int64_t Done, std::int64_t Total) {
  if (!FOnProgress) return;
  constexpr std::int64_t kScaleAbove = 0x4000000;
  if (Total > kScaleAbove) {
    Done /= 32768;
    Total /= 32768;
  }
  FProgPercent = Total > 0 ? static_cast<std::int32_t>(Done * 100 / Total) : 0;
  FOnProgress(this);
}

// ---- names ----------------------------------------------------------------------------------

void TOvPack::MakeFTName(TOvFileTable3& Entry, const AnsiString& Name) {
  std::memset(Entry.FileName, 0, sizeof Entry.FileName);
  std::memset(Entry.FileExt, 0, sizeof Entry.FileExt);
  const std::size_t dot = Name.find('.');
  const AnsiString base = Name.substr(0, dot);
  const AnsiString ext = dot == AnsiString::npos ? AnsiString() : Name.substr(dot + 1);
  std::memcpy(Entry.FileName, base.data(), std::min(base.size(), sizeof Entry.FileName));
  std::memcpy(Entry.FileExt, ext.data(), std::min(ext.size(), sizeof Entry.FileExt));
}

int TOvPack::CheckFileName(const AnsiString& Name) const {
  if (!FPackOpen || Name.size() >= static_cast<std::size_t>(kPackNameBufferBytes)) return -1;
  const AnsiString wanted = pack_names::UpperName(Name);
  for (std::size_t i = 0; i < FTable.size(); ++i)
    if (pack_names::UpperName(pack_names::EntryName(FTable[i])) == wanted)
      return static_cast<int>(i);
  return -1;
}

// The index of an entry whose name equals the name Name would be stored as, or -1. Lookups by the
// name as given miss names already cut to 21 + 3 bytes, so additions compare the stored forms.
int TOvPack::FindStoredName(const AnsiString& Name) const {
  const AnsiString wanted = pack_names::UpperName(pack_names::StoredName(Name));
  for (std::size_t i = 0; i < FTable.size(); ++i)
    if (pack_names::UpperName(pack_names::EntryName(FTable[i])) == wanted)
      return static_cast<int>(i);
  return -1;
}

// A new member's name: at most 25 bytes, a base name that does not begin with a zero byte (which
// would mark the entry deleted), and a stored form no other entry has.
TPackReason TOvPack::NameProblem(const AnsiString& Name) const {
  if (Name.size() > static_cast<std::size_t>(kPackMaxNameBytes)) return TPackReason::BadName;
  TOvFileTable3 stored{};
  MakeFTName(stored, Name);
  if (stored.FileName[0] == 0) return TPackReason::BadName;
  if (CheckFileName(Name) >= 0 || FindStoredName(Name) >= 0) return TPackReason::NameTaken;
  return TPackReason::None;
}

bool TOvPack::MakeTempFile(AnsiString& FileName) {
  for (int i = 0; i < pack_names::kTempFileNames; ++i) {
    AnsiString name = pack_names::TempFileName(i);
    if (!FileIsExist(name.c_str())) {
      FileName = std::move(name);
      return true;
    }
  }
  return false;
}

// ---- failure reasons ----------------------------------------------------------------------------

const char* PackReasonText(TPackReason Reason) {
  switch (Reason) {
    case TPackReason::None:
      return "no error";
    case TPackReason::NotOpen:
      return "no pack is open";
    case TPackReason::ReadOnly:
      return "the pack is open read-only";
    case TPackReason::InvalidArgument:
      return "invalid argument";
    case TPackReason::CannotOpen:
      return "cannot open the file";
    case TPackReason::NotAPack:
      return "not a pack";
    case TPackReason::DamagedDirectory:
      return "damaged pack: its header or directory does not fit the file";
    case TPackReason::CheckWordMismatch:
      return "check word mismatch";
    case TPackReason::DamagedMember:
      return "damaged member: its entry or stream is invalid";
    case TPackReason::BadName:
      return "the name cannot be a member name";
    case TPackReason::NameTaken:
      return "the member name is already taken";
    case TPackReason::NoSuchMember:
      return "no such member";
    case TPackReason::TooLarge:
      return "too large: a pack's data stays under 2 GiB";
    case TPackReason::NoTempFile:
      return "no temporary file could be made";
    case TPackReason::OutOfMemory:
      return "out of memory";
    case TPackReason::ReadFailed:
      return "read failure";
    case TPackReason::WriteFailed:
      return "write failure";
  }
  return "unknown reason";
}

std::string TPackError::Text() const {
  std::string text = PackReasonText(Reason);
  if (SystemError != 0) text += ": " + std::generic_category().message(SystemError);
  return text;
}

bool TOvPack::Fail(TPackReason Reason, int SystemError) {
  FLastError = TPackError{Reason, SystemError};
  return false;
}

bool TOvPack::Fail(const TPackError& Error) {
  FLastError = Error;
  return false;
}

TPackError TOvPack::OpenFailure(const std::exception& Raised) {
  if (dynamic_cast<const std::bad_alloc*>(&Raised)) return {TPackReason::OutOfMemory, 0};
  const auto* stream = dynamic_cast<const EStreamError*>(&Raised);
  return {TPackReason::CannotOpen, stream ? stream->SystemError() : 0};
}

TPackError TOvPack::ShortRead(TPackReason Short) const {
  return FStreamRaised ? TPackError{TPackReason::ReadFailed, FStreamError} : TPackError{Short, 0};
}

// ---- guarded transfers --------------------------------------------------------------------------

bool TOvPack::StreamRead(TStream* Stream, void* Buffer, std::int32_t Count, std::int32_t& Moved) {
  Moved = 0;
  bool known = true;
  try {
    errno = 0;
    if (Stream && Count > 0) Moved = Stream->Read(Buffer, Count);
  } catch (const std::exception& e) {
    Moved = 0;
    known = false;
    FStreamError = SystemErrorOf(e);
  }
  FStreamRaised = !known;
  if (known) FStreamError = 0;
  FLastCount = Moved;
  if (Stream && Stream == FPack) FStreamPos = known && FStreamPos >= 0 ? FStreamPos + Moved : -1;
  return Moved == std::max<std::int32_t>(Count, 0);
}

bool TOvPack::StreamWrite(TStream* Stream, const void* Buffer, std::int32_t Count,
                          std::int32_t& Moved) {
  Moved = 0;
  bool known = true;
  try {
    errno = 0;
    if (Stream && Count > 0) Moved = Stream->Write(Buffer, Count);
  } catch (const std::exception& e) {
    Moved = 0;
    known = false;
    FStreamError = SystemErrorOf(e);
  }
  FStreamRaised = !known;
  if (known) FStreamError = 0;
  FLastCount = Moved;
  if (Stream && Stream == FPack) FStreamPos = known && FStreamPos >= 0 ? FStreamPos + Moved : -1;
  return Moved == std::max<std::int32_t>(Count, 0);
}

// Seeks the pack stream unless it is already there.
bool TOvPack::PackSeek(std::int64_t Position) {
  if (!FPack) return false;
  if (FStreamPos == Position) return true;
  try {
    errno = 0;
    FStreamPos = FPack->Seek(Position, TSeekOrigin::soBeginning);
  } catch (const std::exception& e) {
    FStreamPos = -1;
    FStreamRaised = true;
    FStreamError = SystemErrorOf(e);
    return false;
  }
  return FStreamPos == Position;
}

bool TOvPack::PackRead(void* Buffer, std::int32_t Count) {
  std::int32_t moved = 0;
  return StreamRead(FPack, Buffer, Count, moved);
}

bool TOvPack::PackWrite(const void* Buffer, std::int32_t Count) {
  std::int32_t moved = 0;
  return StreamWrite(FPack, Buffer, Count, moved);
}

// ---- directory queries --------------------------------------------------------------------------

int TOvPack::GetFileNum() const { return FPackOpen ? static_cast<int>(FTable.size()) : 0; }

const TOvFileTable3* TOvPack::GetFileEntry(int Index) const {
  if (!FPackOpen || Index < 0 || static_cast<std::size_t>(Index) >= FTable.size()) return nullptr;
  return &FTable[static_cast<std::size_t>(Index)];
}

bool TOvPack::GetFileName(int Index, char* Buffer) const {
  const TOvFileTable3* entry = GetFileEntry(Index);
  if (!entry || !Buffer) return false;
  const AnsiString name = entry->FileName[0] == 0 ? AnsiString() : pack_names::EntryName(*entry);
  std::memcpy(Buffer, name.c_str(), name.size() + 1);  // at most 21 + 1 + 3 + 1 bytes
  return true;
}

AnsiString TOvPack::GetFileName(int Index) const {
  const TOvFileTable3* entry = GetFileEntry(Index);
  if (!entry || entry->FileName[0] == 0) return AnsiString();
  return pack_names::EntryName(*entry);
}

std::int32_t TOvPack::GetFileSize(int Index) const {
  const TOvFileTable3* entry = GetFileEntry(Index);
  return entry && entry->FileName[0] != 0 ? entry->Size : 0;
}

bool TOvPack::GetFileIsComp(int Index) const {
  const TOvFileTable3* entry = GetFileEntry(Index);
  return entry && entry->FileName[0] != 0 && entry->Comp != 0;
}

bool TOvPack::GetFileTime(int Index, FILETIME& Time) const {
  const TOvFileTable3* entry = GetFileEntry(Index);
  if (!entry || entry->FileName[0] == 0) return false;
  Time = entry->Time;
  return true;
}

namespace Ovpack {
void Register() { RegisterComponents(kOveltaPage, {"TOvPack"}); }
}  // namespace Ovpack

}  // namespace ovelta

// Pack archives: TOvPack builds and reads pack files (many named members, each stored unchanged or
// as a Corvel stream, with CRC-16 check words per member and over the whole file), and OvFILE is
// the read handle on one member. doc/pack_format.md draws the file; the layout constants and
// records below are that format in memory. Why a call failed is kept in LastError (TPackError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Component.h"
#include "platform/core/Heap.h"
#include "platform/core/Streams.h"
#include "platform/core/Types.h"

namespace ovelta {

class TCrcCheck;
struct TPreparedMember;

// ---- File layout ------------------------------------------------------------------------------
//
// A pack file, all integers little-endian (doc/pack_format.md draws it):
//   offset 0            16-byte header (TOvPackHeader)
//   offset 16           data area: each member's stored bytes, padded with zeros to 16
//   16 + data size      directory: one 48-byte TOvFileTable3 per member, in the order added
//   after the directory 2-byte whole-pack check word: CRC-16 over every byte before it
// Versions 1 and 2 (32- and 40-byte entries, no check words) are read and converted to 3.

inline constexpr char kPackMagic[6] = {'O', 'v', 'P', 'a', 'c', 'k'};  // not terminated
inline constexpr Word kPackVersion1 = 0x0100;
inline constexpr Word kPackVersion2 = 0x0200;
inline constexpr Word kPackVersion3 = 0x0300;
inline constexpr std::int32_t kPackHeaderSize = 16;
inline constexpr std::int32_t kPackAlign = 16;            // members start on 16-byte boundaries
inline constexpr std::int32_t kPackBaseNameBytes = 21;    // base name in an entry
inline constexpr std::int32_t kPackExtensionBytes = 3;    // extension in an entry
inline constexpr std::int32_t kPackMaxNameBytes = 25;     // longest member name accepted
inline constexpr std::int32_t kPackNameBufferBytes = 26;  // GetFileName's buffer: 21 + "." + 3 + 0
inline constexpr std::int32_t kPackCopyBlock = 32768;     // copies and member checks
inline constexpr std::int32_t kPackCheckBlock = 1048576;  // the whole-pack check
// AddFile encodes a file of at most this many bytes in memory (holding at most its size besides
// the encoder), larger ones through a temporary file.
inline constexpr std::int64_t kPackMemoryEncodeBound = std::int64_t{8} << 20;
// Members and packs stay within what the 32-bit signed fields of the format can address: the
// data area ends at file offset 0x7FFFFFFF at most.
inline constexpr std::int32_t kPackMaxDataSize = 0x7FFFFFFF - kPackHeaderSize;
// The time stamp given to members of version 1 and 2 packs: 1989-12-31 15:00:00 UTC.
inline constexpr FILETIME kPackOldTimeStamp{0xA8EE9800u, 0x01B41DDEu};

// The 16-byte header, in the file and in memory.
struct TOvPackHeader {
  char Magic[6];          // kPackMagic; not required on load (only a refusal's reason looks at it)
  Word Version;           // kPackVersion3 written; 1, 2 and 3 read
  std::int32_t DataSize;  // bytes in the data area, padding included
  std::int32_t Count;     // directory entries, deleted ones included
};

// A version-1 directory entry (32 bytes).
struct TOvFileTable1 {
  char FileName[kPackBaseNameBytes];
  char FileExt[kPackExtensionBytes];
  std::int32_t Offset;
  std::int32_t Size;
};

// A version-2 directory entry (40 bytes); the last three bytes are not read.
struct TOvFileTable2 {
  char FileName[kPackBaseNameBytes];
  char FileExt[kPackExtensionBytes];
  std::int32_t Offset;
  std::int32_t Size;
  std::int32_t CompSize;
  Byte Comp;
  Byte Reserved[3];
};

// A version-3 directory entry (48 bytes), in the file and in memory. An entry whose first name
// byte is 0 is deleted.
struct TOvFileTable3 {
  char FileName[kPackBaseNameBytes];  // base name: up to the first ".", zero-padded, maybe
                                      // unterminated
  char FileExt[kPackExtensionBytes];  // extension: after the first ".", zero-padded
  std::int32_t Offset;                // from the start of the data area (file offset - 16)
  std::int32_t Size;                  // uncompressed size
  std::int32_t CompSize;              // stored size, padding excluded
  Byte Comp;                          // 1: the stored bytes are a Corvel stream
  Byte CrcFlag;                       // 1: Crc is valid
  Word Crc;                           // CRC-16 from 0xFFFF over the stored bytes
  FILETIME Time;                      // the source file's last-write time
};

static_assert(sizeof(TOvPackHeader) == 16 && offsetof(TOvPackHeader, DataSize) == 8);
static_assert(sizeof(TOvFileTable1) == 32);
static_assert(sizeof(TOvFileTable2) == 40 && offsetof(TOvFileTable2, Comp) == 36);
static_assert(sizeof(TOvFileTable3) == 48 && offsetof(TOvFileTable3, Crc) == 38 &&
              offsetof(TOvFileTable3, Time) == 40);

// ---- Member handles ---------------------------------------------------------------------------

// A read handle on one member, shaped like FILE: made by TOvPack::OvfopenComp in a global-heap
// block and released by TOvPack::Ovfclose. Valid only while its pack stays open.
struct OvFILE {
  std::int32_t Index;     // directory index
  std::int32_t Start;     // file offset of the stored bytes
  std::int32_t Size;      // uncompressed size
  std::int32_t CompSize;  // stored size
  bool Comp;              // stored compressed
  HGLOBAL Memory;         // the whole decoded member (global heap), or null
  std::int32_t Pos;       // read position, 0 to the readable length
};

// Takes the next Count (1 or more) bytes of a member read by TOvPack::OvfreadAll; false stops the
// read. The bytes are valid only during the call.
using TMemberSink = std::function<bool(const Byte* Data, std::int32_t Count)>;

// When the check words are verified: never, the whole pack on load, or each member on open.
enum TCrcMode : Byte { cmNon = 0, cmPackAll = 1, cmEachFile = 2 };

// ---- Failure reasons
// ------------------------------------------------------------------------------

// Why a call of TOvPack failed.
enum class TPackReason : std::uint8_t {
  None,               // nothing failed
  NotOpen,            // no pack is open
  ReadOnly,           // the call changes a pack, and the component is read-only
  InvalidArgument,    // a null stream or pack, a pack given as its own source, a size of 0 or less
  CannotOpen,         // a file could not be opened or created: the pack, a file to add or a
                      // temporary file (EWOULDBLOCK: another stream has it locked)
  NotAPack,           // shorter than a header, an unknown version, or a header that does not fit
                      // the file without the "OvPack" mark
  DamagedDirectory,   // the header's data size or count, or the directory, does not fit the file
  CheckWordMismatch,  // a check word (the whole pack's or a member's) differs or is missing
  DamagedMember,      // the entry lies outside the data area or disagrees with its stored bytes,
                      // or the stored stream does not decode to exactly its size
  BadName,            // more than 25 bytes, or no base name
  NameTaken,          // a member is already stored under that name
  NoSuchMember,       // no member of that name (or it was deleted)
  TooLarge,           // the data area would pass kPackMaxDataSize
  NoTempFile,         // every temporary file name is taken
  OutOfMemory,
  ReadFailed,   // a read came short or failed
  WriteFailed,  // a write came short or failed
};

// A reason and the system's error number behind it (errno; 0 when the system gave none).
struct TPackError {
  TPackReason Reason = TPackReason::None;
  int SystemError = 0;
  explicit operator bool() const { return Reason != TPackReason::None; }
  // The reason in English ("check word mismatch"), then ": " and the system's text when there is
  // a system error; "no error" for None.
  std::string Text() const;
};

// The reason alone in English, lower case, without a full stop.
const char* PackReasonText(TPackReason Reason);

// ---- TOvPack ----------------------------------------------------------------------------------

// The pack component: builds packs (NewPack, AddFile, AddPack, DelFile, EndPack) and reads them
// (LoadPack, LoadPackStream, the directory queries and the Ovf* member calls).
//
// Ownership and lifetime: a pack opened from a path owns its file stream; one opened with
// LoadPackStream uses the caller's stream, which must outlive the open pack and is never
// released by it. OvFILE handles must be closed (Ovfclose) before their pack is closed. The
// member stream made by OpenFile belongs to the component and goes with EndPack.
//
// Failures are results (false, 0, null) and LastError says why; no exception leaves a call.
// Messages are shown only for the two check-word failures (a stop-icon box
// "Packﾌｧｲﾙが壊れています。" captioned "CRCｴﾗｰ") and for AddFile's failures (through the
// application's exception display); LastError is already set when they are shown.
//
// Damaged or hostile packs are handled: every count, size and offset is checked against the file
// before anything is allocated or read; a pack whose header or directory does not fit its file does
// not load, and a member whose entry lies outside the data area, or whose stream does not decode
// to its size, fails to open. One thread per object; encoders of different objects may run at once.
class TOvPack : public TComponent {
 public:
  explicit TOvPack(TComponent* AOwner = nullptr);
  // Closes an open pack with EndPack.
  ~TOvPack() override;
  std::string ClassName() const override { return "TOvPack"; }
  void Loaded() override;

  // ---- properties ----
  // Whether packs are opened read-only; can be changed only while no pack is open. Default true.
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  // What is verified (default cmPackAll).
  TCrcMode CrcMode() const { return FCrcMode; }
  void SetCrcMode(TCrcMode Value) { FCrcMode = Value; }
  // Progress of the running long operation in percent; set only while OnProgress is assigned.
  std::int32_t ProgPercent() const { return FProgPercent; }
  // Called after each change of ProgPercent, with the pack as sender.
  const TNotifyEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TNotifyEvent Value) { FOnProgress = std::move(Value); }
  // The open pack's path (after NewPack or LoadPack); empty when none or for a caller's stream.
  const AnsiString& PackName() const { return FPackName; }
  // Whether a pack is open.
  bool PackOpen() const { return FPackOpen; }
  // The version word the open pack had in its file (0x0100, 0x0200 or 0x0300; in memory every
  // pack is version 3, and a changed pack is written back as such); 0 when no pack is open.
  Word FileVersion() const { return FPackOpen ? FFileVersion : 0; }
  // The pack stream, or null when no pack is open.
  TStream* PackStream() const { return FPack; }

  // Why the last failing call failed. The calls that open, build or close a pack or open a member
  // (NewPack, AddFile, AddPack, DelFile, EndPack, LoadPack, LoadPackStream, OpenPack, ClosePack,
  // OvfopenComp, Ovfopen, OvMakeStream, OpenFile) set it when they fail and clear it when they
  // succeed. The transfers (FileCopy, PackCopy, FileEncode, FileDecode), Ovfread and OvfreadAll
  // set it when they fail and leave it otherwise; the queries never change it.
  const TPackError& LastError() const { return FLastError; }

  // ---- building ----
  // Creates (or empties) the file Path and opens it as a new pack. False when ReadOnly is true, the
  // file cannot be created, or another open pack or locking stream has it open (it is then left as
  // it was). An open pack is closed first.
  bool NewPack(const AnsiString& Path);
  // Adds the file Path as the member Name (at most 25 bytes, a non-empty base name, its stored
  // form not already in the pack), compressed when Compress is true and that makes it smaller.
  // A file of at most kPackMemoryEncodeBound bytes is encoded in memory and needs no temporary
  // file name (it is added even when all are taken); a larger one, or one whose stream cannot be
  // held in memory, is encoded through a temporary file (MakeTempFile's names, made exclusively
  // and deleted while still open: before the file itself is copied when the stream is not
  // smaller). The pack and the entry are the same either way. On failure shows the
  // reason through the exception display and returns false; the directory is unchanged.
  bool AddFile(const AnsiString& Name, const AnsiString& Path, bool Compress);
  // Adds a member made ahead by PrepareMember (pack/PackPrepare.h) as Name: the pack, the entry,
  // LastError and any message are exactly what AddFile(Name, Member.Path, Member.Compress) gives
  // for the file as it was read. A member that is not Ready, a bad name, or one that would pass
  // kPackMaxDataSize goes through AddFile itself. The member's bytes are released either way.
  bool AddPrepared(const AnsiString& Name, TPreparedMember& Member);
  // Copies the member SourceName of the other open pack Source as Name, stored bytes unchanged.
  // False (no message) for the same cases as AddFile, when Source is this pack, or when the member
  // cannot be opened or copied.
  bool AddPack(const AnsiString& Name, TOvPack* Source, const AnsiString& SourceName);
  // Blanks the member's directory entry (the data stays; the entry is still counted).
  bool DelFile(const AnsiString& Name);
  // Closes the open pack; when it was changed, first writes the header, the directory and the
  // whole-pack check word. True when nothing failed (also when no pack was open); false when a
  // write or the read-back for the check word failed: the pack on disk is then damaged.
  bool EndPack();

  // The index of the first entry whose name, upper-cased, equals Name upper-cased (ASCII letters
  // only; double-byte characters unchanged), deleted entries included; -1 when none, when no pack
  // is open or when Name has 26 bytes or more.
  int CheckFileName(const AnsiString& Name) const;
  // Fills Entry's base name (up to the first ".", cut to 21 bytes) and extension (after it, cut
  // to 3 bytes), both zero-padded.
  static void MakeFTName(TOvFileTable3& Entry, const AnsiString& Name);
  // The first of "OvTmp000.Corvel" .. "OvTmp999.Corvel" (in the current directory) that does not
  // exist; false when all do.
  static bool MakeTempFile(AnsiString& FileName);

  // ---- transfers (progress reported when OnProgress is set) ----
  // Copies Count bytes from Source's position to Dest's in 32768-byte blocks; returns the check
  // word of the bytes copied, 0 when the copy buffer cannot be had.
  Word FileCopy(TStream* Dest, TStream* Source, std::int32_t Count);
  // The same, reading through Ovfread from the open member Handle of the pack Source.
  Word PackCopy(TStream* Dest, TOvPack* Source, OvFILE* Handle, std::int32_t Count);
  // Compresses Count bytes from Source's position into Dest; returns the compressed size, 0 when
  // the encoder cannot be opened or a read or write fails.
  std::int32_t FileEncode(TStream* Dest, TStream* Source, std::int32_t Count);
  // Stream Read / Write that catch the stream's exceptions: Moved is the count moved (0 after an
  // exception) and the result is true when exactly Count bytes moved.
  bool StreamRead(TStream* Stream, void* Buffer, std::int32_t Count, std::int32_t& Moved);
  bool StreamWrite(TStream* Stream, const void* Buffer, std::int32_t Count, std::int32_t& Moved);

  // ---- opening ----
  // Opens the pack file Path (read-only when ReadOnly, else read-write; others denied writing).
  // An open pack is closed first. False when the file cannot be opened or is not a sound pack.
  bool LoadPack(const AnsiString& Path);
  // Opens the pack held in Stream, which stays the caller's and must outlive the open pack. Only
  // while ReadOnly is true; false for a null stream or a pack that is not sound.
  bool LoadPackStream(TStream* Stream);
  // Reads and checks the header and directory of the stream just made the pack stream.
  bool LoadMain();
  // An empty Path closes the open pack (true); otherwise LoadPack(Path).
  bool OpenPack(const AnsiString& Path);
  // EndPack when a pack is open.
  void ClosePack();
  void SetPackName(const AnsiString& Path) { OpenPack(Path); }

  // ---- directory queries (Index from 0) ----
  // Entries, deleted ones included; 0 when no pack is open.
  int GetFileNum() const;
  // Writes the name (base name, "." and extension when there is one, terminated) into Buffer of at
  // least 26 bytes; a deleted entry gives "". False for a bad index.
  bool GetFileName(int Index, char* Buffer) const;
  // The same as a string; empty for a deleted entry or a bad index.
  AnsiString GetFileName(int Index) const;
  // Uncompressed size; 0 for a deleted entry or a bad index.
  std::int32_t GetFileSize(int Index) const;
  bool GetFileIsComp(int Index) const;
  bool GetFileTime(int Index, FILETIME& Time) const;
  // The entry itself (for tools that show every field); null for a bad index.
  const TOvFileTable3* GetFileEntry(int Index) const;

  // ---- member handles ----
  // Opens the member Name. A compressed member is decoded whole into memory when Decode is true;
  // otherwise its handle reads the raw stored stream. With cmEachFile the stored bytes are checked
  // first (the message box on a mismatch). Null when no pack is open, the name is not found or
  // deleted, the entry lies outside the data area, the check fails, the stream does not decode,
  // or memory cannot be had. Release with Ovfclose.
  OvFILE* OvfopenComp(const AnsiString& Name, bool Decode);
  OvFILE* Ovfopen(const AnsiString& Name) { return OvfopenComp(Name, true); }
  // Releases the handle and its decoded memory; false for null.
  bool Ovfclose(OvFILE* Handle);
  std::int32_t Ovfsize(OvFILE* Handle) const;
  std::int32_t Ovdsize(OvFILE* Handle) const;
  bool OvIsComp(OvFILE* Handle) const;
  // Origin 0 from the start, 1 from the position, 2 from the end; the result is kept within 0 and
  // the readable length (the size, or the stored size for a raw handle).
  bool Ovfseek(OvFILE* Handle, std::int32_t Offset, std::int32_t Origin);
  bool Ovfgetpos(OvFILE* Handle, std::int32_t* Position) const;
  bool Ovfsetpos(OvFILE* Handle, const std::int32_t* Position);
  // Reads whole items of Size bytes, at most Count of them and no further than the readable length,
  // into Buffer; returns the number of items read and advances the position by their bytes.
  unsigned Ovfread(void* Buffer, unsigned Size, unsigned Count, OvFILE* Handle);
  bool OvIsCrc(OvFILE* Handle) const;
  Word OvGetCrc(OvFILE* Handle) const;
  bool OvGetFileTime(OvFILE* Handle, FILETIME& Time) const;
  // Hands the whole uncompressed member of Handle to Sink in order, in pieces of at most 32768
  // bytes, whatever the handle's decoding and position (neither is used nor changed): the stored
  // bytes are read from the pack stream one piece at a time and a compressed member is expanded as
  // they come, so memory stays a few small buffers whatever sizes the entry claims. The stored
  // bytes are checked against the member's check word when it has one, whatever the CrcMode, and
  // are read to their end for it even when the stream breaks off earlier. Bytes Sink was given are
  // good only when the result is true. False sets LastError: CheckWordMismatch (the stored bytes
  // do not give the check word, or the file ends before them when there is one), DamagedMember
  // (the stream is not exactly a stream of the member's size in its stored size), ReadFailed,
  // OutOfMemory, or WriteFailed when Sink returned false (Sink knows why); no message is shown.
  // Progress follows the bytes handed out.
  bool OvfreadAll(OvFILE* Handle, const TMemberSink& Sink);
  // A new memory stream holding the whole uncompressed member, positioned at 0; null on failure.
  std::unique_ptr<TMemoryStream> OvMakeStream(const AnsiString& Name);
  // Expands StoredSize bytes of a Corvel stream read from Source's position into exactly Size bytes
  // at Dest. False when the decoder cannot be opened, the source ends early or the stream is not
  // exactly a stream of Size bytes in StoredSize bytes. Never writes beyond Dest + Size.
  bool FileDecode(void* Dest, TStream* Source, std::int32_t Size, std::int32_t StoredSize);

  // ---- the member stream ----
  // Releases the member stream, records Name and, for a non-empty name, makes the member stream
  // with OvMakeStream; on failure the recorded name becomes empty and the result is false.
  bool OpenFile(const AnsiString& Name);
  void CloseFile();
  void SetFileName(const AnsiString& Name) { OpenFile(Name); }
  const AnsiString& FileName() const { return FFileName; }
  // The member stream made by OpenFile, owned by the component; null when none.
  TMemoryStream* MemberStream() const { return FMemberStream.get(); }

 private:
  bool Writable() const { return FPackOpen && !FReadOnly; }
  int FindStoredName(const AnsiString& Name) const;
  // None when Name can be added; otherwise BadName or NameTaken.
  TPackReason NameProblem(const AnsiString& Name) const;
  // Records Reason (with SystemError) as the last error; returns false.
  bool Fail(TPackReason Reason, int SystemError = 0);
  bool Fail(const TPackError& Error);
  void Succeed() { FLastError = TPackError{}; }
  // The reason for a read of the pack stream that came short: ReadFailed with the system's error
  // when the stream raised one, otherwise Short (the stream simply ended).
  TPackError ShortRead(TPackReason Short) const;
  // The failure of opening or creating a file: OutOfMemory for a memory shortage, otherwise
  // CannotOpen with the system's error the stream carries.
  static TPackError OpenFailure(const std::exception& Raised);
  void ReportProgress(std::int64_t Done, std::int64_t Total);
  bool PackSeek(std::int64_t Position);
  bool PackRead(void* Buffer, std::int32_t Count);
  bool PackWrite(const void* Buffer, std::int32_t Count);
  enum class TCopyResult { Ok, NoMemory, ReadFailed, WriteFailed };
  TCopyResult CopyBlocks(TStream* Dest, TStream* Source, TOvPack* SourcePack, OvFILE* Handle,
                         std::int32_t Count, Word& Crc);
  TPackError CopyFailure(TCopyResult Result, const TOvPack* Source) const;
  bool PadToBoundary(std::int32_t StoredSize);
  // AddFile's last step: writes Stored bytes of From at the end of the data area with Entry's
  // check word and appends Entry. Raises AddFile's failures; ReadName names From in a read failure.
  void AppendMember(TOvFileTable3& Entry, TStream* From, const AnsiString& ReadName);
  // Records and shows one of AddFile's failures; returns false.
  bool AddFailed(const Exception& Raised);
  bool CheckSum(std::int64_t Length, Word& Crc);
  bool ReadDirectory(std::int32_t EntrySize);
  std::int32_t Readable(const OvFILE* Handle) const;
  bool EntryIsSound(const TOvFileTable3& Entry) const;
  void ReleaseStream();

  bool FReadOnly = true;
  TCrcMode FCrcMode = cmPackAll;
  std::int32_t FProgPercent = 0;
  TNotifyEvent FOnProgress;

  TStream* FPack = nullptr;
  std::unique_ptr<TStream> FOwnedPack;  // the pack stream when it is ours (opened from a path)
  TOvPackHeader FHeader{};
  Word FFileVersion = 0;
  std::vector<TOvFileTable3> FTable;
  bool FModified = false;
  std::int64_t FStreamPos = -1;  // the pack stream's position; -1 when unknown
  std::int32_t FLastCount = 0;
  bool FStreamRaised = false;  // the last StreamRead / StreamWrite / PackSeek caught an exception
  int FStreamError = 0;        // the system's error behind it, 0 when none
  TPackError FLastError;
  AnsiString FPackName;
  bool FPackOpen = false;
  AnsiString FFileName;
  std::unique_ptr<TMemoryStream> FMemberStream;
  std::unique_ptr<TCrcCheck> FCrc;
};

// The unit's registration: puts TOvPack on the palette page "Ovelta".
namespace Ovpack {
void Register();
}  // namespace Ovpack

}  // namespace ovelta

// The unit Ovpack: CRC-16 check words, the Corvel compression codec, buffer compression, and the pack
// archive component TOvPack with its member handles (OvFILE).
#pragma once

#include "platform/core/Types.h"

// ============================================================================================
// CRC, Corvel codec and buffer compression
// ============================================================================================

#include <cstdint>
#include <memory>

#include "platform/core/Component.h"

namespace ovelta {

// ---- CRC-16 ---------------------------------------------------------------------------------

// The two polynomials of TCrcCheck. ctPoly1021 (the default, and the one every check word of the
// library uses) is CRC-16/MCRF4XX: reflected 0x1021 (table constant 0x8408), started from 0xFFFF,
// no final XOR; "123456789" gives 0x6F91. ctPoly8003 uses the reflected constant 0xC001 (0x8003 in
// normal form); "123456789" gives 0x7ABB. Any other value selects 0x8408.
enum TCrcType : std::uint8_t { ctPoly1021 = 0, ctPoly8003 = 1 };

// A 16-bit reflected CRC over byte strings, in one call or over any number of pieces: start from
// 0xFFFF and pass each result into the next UpDateCrc call. There is no finishing step. Each object
// has its own byte table (the sixteen-byte tables are shared constants), so objects may be used on
// different threads.
class TCrcCheck : public TObject {
 public:
  // Type ctPoly1021, table built.
  TCrcCheck();
  std::string ClassName() const override { return "TCrcCheck"; }

  // Rebuilds the byte table from the current type.
  void MakeCrcTable();
  // Stores the type, then rebuilds the table.
  void SetCrcType(TCrcType Value);
  TCrcType CrcType() const { return FCrcType; }
  // Entry Index (0 to 255) of the byte-at-a-time table of the current type.
  Word CrcTable(int Index) const { return FCrcTable[Index & 0xFF]; }

  // The check word after feeding Length bytes at Data into the running word Crc. A Length of 0 or
  // less returns Crc unchanged and does not read Data. Reads exactly Length bytes.
  Word UpDateCrc(Word Crc, const void* Data, std::int32_t Length) const;
  // UpDateCrc started from 0xFFFF.
  Word Crc(const void* Data, std::int32_t Length) const { return UpDateCrc(0xFFFF, Data, Length); }
  // The same result as UpDateCrc, one table look-up per byte (the reference the fast update is
  // measured against).
  Word UpDateCrcBytewise(Word Crc, const void* Data, std::int32_t Length) const;
  // The same result as UpDateCrc, sixteen bytes per step through tables: the portable path that
  // UpDateCrc takes on short inputs and on processors without carry-less multiplication.
  Word UpDateCrcTables(Word Crc, const void* Data, std::int32_t Length) const;
  // True when this processor lets UpDateCrc fold long inputs by carry-less multiplication.
  static bool CarrylessAvailable();

 private:
  TCrcType FCrcType = ctPoly1021;
  Word FCrcTable[256];
  const Word (*FSliceTables)[256] = nullptr;  // 16 tables for sixteen bytes per step, per type
};

// ---- Corvel codec -----------------------------------------------------------------------------

// The Corvel stream: groups of a 32-bit little-endian flag word and up to 32 items (bit 31 first;
// 0 a literal byte, 1 a match token with up to three extension bytes). Window 1535 bytes, matches
// of 1 to 8192 bytes as the encoder writes them. The stream has no header, length or end marker:
// the decoder is told the decoded size and the stored size. doc/corvel_format.md draws it.
inline constexpr std::int32_t kCorvelSliceSize = 16384;     // input and stream slices
inline constexpr std::int32_t kCorvelHistory = 1536;        // history kept ahead of each slice
inline constexpr std::int32_t kCorvelMaxDistance = 1535;    // farthest match
inline constexpr std::int32_t kCorvelMaxLength = 8192;      // longest match the encoder writes
inline constexpr std::int32_t kCorvelWindowSize = 0x8600;   // 34304: history + two slices
inline constexpr std::int32_t kCorvelOutputSize = 0x4A00;   // 18944: one call's output + open group
inline constexpr std::int32_t kCorvelInputSize = 0x4100;    // 16640: one stream slice + 256 carried

struct CorvelMatchFinder;  // the encoder's search state (hash chains), private to pack/

// Compresses a byte string of known size, one 16384-byte slice per call.
//
// Calling order: Open(total size); then while !Finished(): Encode(pointer to slice k) on call k
// (input bytes 16384*k onwards, the last slice shorter; once every slice has been passed, the
// pointer is not read and may be null); after each positive result take that many bytes from the
// start of the buffer Open returned before the next call, which overwrites them; then Close.
// Committed() after the last call is the compressed size. The stream does not depend on how the
// input is sliced in memory, only on its bytes.
//
// Memory is fixed, whatever the input size: the window and output buffers (global heap, 34304 and
// 18944 bytes) and the search tables (200 KB, from the C++ heap). Each encoder has its own search
// state: encoders on different threads do not disturb each other.
class TCorvelEncode : public TObject {
 public:
  TCorvelEncode();
  ~TCorvelEncode() override;
  TCorvelEncode(const TCorvelEncode&) = delete;
  TCorvelEncode& operator=(const TCorvelEncode&) = delete;
  std::string ClassName() const override { return "TCorvelEncode"; }

  // Starts encoding Size bytes (1 or more, and small enough that the worst-case stream of
  // Size + 4 bytes per 32 fits in 31 bits). An open encoder is closed first. Returns the output
  // buffer (kCorvelOutputSize bytes, owned by the encoder until Close), or null when the size is
  // refused or memory cannot be had; nothing stays allocated then and the encoder is finished.
  Byte* Open(std::int32_t Size);
  // Takes the next slice (see the calling order) and encodes what the window allows. Returns the
  // number of stream bytes ready at the start of the output buffer, 0 if none yet, and 0 when
  // closed or finished. Reads at most 16384 bytes at Source, and only while input remains.
  std::int32_t Encode(const void* Source);
  // Frees the buffers if open. Always true.
  bool Close();

  // The longest match for the byte at Current, input position Position of an input of Size bytes:
  // the match length (0 if not even one byte matches, at most 8192 and at most Size - Position)
  // and, among matches of that length, the smallest distance (1 to min(Position, 1535)). Reads up
  // to min(Position, 1535) bytes before Current and up to the length limit from Current.
  void NewSearch(const Byte* Current, std::int32_t Position, std::int32_t Size, Word& Length,
                 Word& Distance) const;
  // The number of leading bytes, at most Count, in which A and B agree.
  static Word Search(const Byte* A, const Byte* B, Word Count);

  bool Opened() const { return FOpen; }
  bool Finished() const { return FFinished; }
  // True when a call needed input and was given a null pointer; the encoder is finished then.
  bool Failed() const { return FFailed; }
  std::int32_t Total() const { return FTotal; }
  std::int32_t InputPosition() const { return FInputPos; }
  // Stream bytes completed so far; after the last call, the compressed size.
  std::int32_t Committed() const { return FCommitted; }

 private:
  void FreeBuffers();

  bool FOpen = false;
  bool FFinished = true;
  bool FFailed = false;
  std::int32_t FTotal = 0;
  std::int32_t FSlicesLoaded = 0;
  Byte* FWindow = nullptr;
  Byte* FOutput = nullptr;
  std::int32_t FInputPos = 0;
  std::int32_t FOutCount = 0;
  std::int32_t FWindowBase = 0;
  std::int32_t FOutBase = 0;
  std::int32_t FCommitted = 0;
  DWord FFlagWord = 0;
  DWord FFlagMask = 0x80000000u;
  std::int32_t FFlagSlot = 0;
  std::unique_ptr<CorvelMatchFinder> FFinder;
};

// Expands a Corvel stream of known decoded and stored sizes, one 16384-byte stream slice per call.
//
// Calling order: Open(decoded size, stored size); then while !Finished(): if NeedInput(), pass the
// next slice of the stream (the lesser of 16384 bytes and what remains of the stored size),
// otherwise any pointer (not read); after each positive result take that many bytes from the
// pointer Open returned before calling again; then Close.
//
// The decoder never trusts the stream: a match of length 0, at distance 0, reaching before the
// first byte, or running past the decoded size or the window, and items running past the stored
// size make it stop at once without reading or writing outside its buffers: Failed() becomes true,
// Decode returns 0 and the decoder is finished. Bytes handed out before a failure are not to be
// trusted either. Stream bytes left over once the decoded size is reached are not read; a caller
// that wants the stream to end exactly there compares Consumed() with the stored size.
class TCorvelDecode : public TObject {
 public:
  TCorvelDecode();
  ~TCorvelDecode() override;
  TCorvelDecode(const TCorvelDecode&) = delete;
  TCorvelDecode& operator=(const TCorvelDecode&) = delete;
  std::string ClassName() const override { return "TCorvelDecode"; }

  // Starts expanding a stream of StoredSize bytes into DecodedSize bytes (both 1 or more). An open
  // decoder is closed first. Returns where each call's decoded bytes appear (owned by the decoder
  // until Close), or null when a size is refused (Failed() true) or memory cannot be had; nothing
  // stays allocated then and the decoder is finished.
  Byte* Open(std::int32_t DecodedSize, std::int32_t StoredSize);
  // One step (see the calling order). Returns the number of decoded bytes ready at the pointer Open
  // returned, 0 if none yet, and 0 when closed, finished or failed. Reads at most 16384 bytes at
  // Source, and only when NeedInput() was true.
  std::int32_t Decode(const void* Source);
  // Frees the buffers if open. Always true.
  bool Close();

  bool Opened() const { return FOpen; }
  bool Finished() const { return FFinished; }
  bool NeedInput() const { return FNeedInput; }
  bool Failed() const { return FFailed; }
  std::int32_t DecodedSize() const { return FDecodedSize; }
  std::int32_t StoredSize() const { return FStoredSize; }
  std::int32_t Produced() const { return static_cast<std::int32_t>(FProduced); }
  std::int32_t Consumed() const { return static_cast<std::int32_t>(FConsumed); }

 private:
  bool DecodeItems();
  void Fail();
  void FreeBuffers();

  bool FOpen = false;
  bool FFinished = true;
  bool FNeedInput = false;
  bool FFailed = false;
  std::int32_t FDecodedSize = 0;
  std::int32_t FStoredSize = 0;
  Byte* FInput = nullptr;
  Byte* FWindow = nullptr;
  std::int64_t FConsumed = 0;
  std::int64_t FLoaded = 0;
  std::int64_t FInputBase = 0;
  std::int64_t FProduced = 0;
  std::int64_t FOutBase = 0;
  std::uint64_t FFlags = 0;  // the open group's flag bits, next item first, and a stop bit
};

// ---- Buffer compression -----------------------------------------------------------------------

// Compresses whole buffers in memory into global-heap blocks guarded by a check word, and expands
// them again. No header is written: the caller keeps the uncompressed size, the compressed size and
// the check word and passes all three back. Failures are a false result only.
class TOvCompBuffer : public TObject {
 public:
  TOvCompBuffer();
  ~TOvCompBuffer() override;
  TOvCompBuffer(const TOvCompBuffer&) = delete;
  TOvCompBuffer& operator=(const TOvCompBuffer&) = delete;
  std::string ClassName() const override { return "TOvCompBuffer"; }

  // Compresses SourceSize (1 or more) bytes at Source into a new global-heap block (released by the
  // caller with GlobalFree) holding the Corvel stream, even when it is larger than the source.
  // On success Dest is the block, DestSize the stream size and Crc the check word over the stream.
  // On failure (size 0 or less, no memory): false; with size 0 or less the outputs are untouched,
  // otherwise Dest is null and nothing stays allocated.
  bool EncodeBuffer(const void* Source, std::int32_t SourceSize, void*& Dest, std::int32_t& DestSize,
                    Word& Crc);
  // Checks Crc over SourceSize bytes at Source, then expands them into a new global-heap block of
  // DecodeSize bytes (released by the caller with GlobalFree). Refused (false, Dest untouched, nothing
  // allocated): a check word mismatch, a size of 0 or less. Refused after allocation (false, Dest
  // null, nothing left allocated): no memory, or a stream that is not exactly a Corvel stream of
  // DecodeSize bytes in SourceSize bytes. Never reads outside the source or writes outside the
  // new block.
  bool DecodeBuffer(const void* Source, std::int32_t SourceSize, std::int32_t DecodeSize, Word Crc,
                    void*& Dest);

 private:
  std::unique_ptr<TCrcCheck> FCrcCheck;
};

}  // namespace ovelta

// (end of the CRC, codec and buffer compression section)
//
//
//
//
//
//
//
//
// ============================================================================================
// Pack archives: TOvPack and OvFILE
// ============================================================================================

#include <cstddef>
#include <vector>

#include "platform/core/Heap.h"
#include "platform/core/Streams.h"

namespace ovelta {

// ---- File layout ------------------------------------------------------------------------------
//
// A pack file, all integers little-endian (doc/pack_format.md draws it):
//   offset 0            16-byte header (TOvPackHeader)
//   offset 16           data area: each member's stored bytes, padded with zeros to 16
//   16 + data size      directory: one 48-byte TOvFileTable3 per member, in the order added
//   after the directory 2-byte whole-pack check word: CRC-16 over every byte before it
// Versions 1 and 2 (32- and 40-byte entries, no check words) are read and converted to 3.

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
// Members and packs stay within what the 32-bit signed fields of the format can address: the
// data area ends at file offset 0x7FFFFFFF at most.
inline constexpr std::int32_t kPackMaxDataSize = 0x7FFFFFFF - kPackHeaderSize;
// The time stamp given to members of version 1 and 2 packs: 1989-12-31 15:00:00 UTC.
inline constexpr FILETIME kPackOldTimeStamp{0xA8EE9800u, 0x01B41DDEu};

// The 16-byte header, in the file and in memory.
struct TOvPackHeader {
  char Magic[6];          // "OvPack", not terminated; not examined on load
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
  char FileName[kPackBaseNameBytes];  // base name: up to the first ".", zero-padded, maybe unterminated
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

// When the check words are verified: never, the whole pack on load, or each member on open.
enum TCrcMode : Byte { cmNon = 0, cmPackAll = 1, cmEachFile = 2 };

// ---- TOvPack ----------------------------------------------------------------------------------

// The pack component: builds packs (NewPack, AddFile, AddPack, DelFile, EndPack) and reads them
// (LoadPack, LoadPackStream, the directory queries and the Ovf* member calls).
//
// Ownership and lifetime: a pack opened from a path owns its file stream; one opened with
// LoadPackStream uses the caller's stream, which must outlive the open pack and is never
// released by it. OvFILE handles must be closed (Ovfclose) before their pack is closed. The
// member stream made by OpenFile belongs to the component and goes with EndPack.
//
// Failures are results (false, 0, null); no exception leaves a call. Messages are shown only for
// the two check-word failures (a stop-icon box "Packﾌｧｲﾙが壊れています。" captioned "CRCｴﾗｰ") and
// for AddFile's failures (through the application's exception display).
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

  // ---- building ----
  // Creates (or empties) the file Path and opens it as a new pack. False when ReadOnly is true, the
  // file cannot be created, or another open pack or locking stream has it open (it is then left as
  // it was). An open pack is closed first.
  bool NewPack(const AnsiString& Path);
  // Adds the file Path as the member Name (at most 25 bytes, a non-empty base name, its stored
  // form not already in the pack), compressed when Compress is true and that makes it smaller.
  // On failure shows the reason through the exception display and returns false; the directory
  // is unchanged.
  bool AddFile(const AnsiString& Name, const AnsiString& Path, bool Compress);
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
  bool NameAcceptable(const AnsiString& Name) const;
  void ReportProgress(std::int64_t Done, std::int64_t Total);
  bool PackSeek(std::int64_t Position);
  bool PackRead(void* Buffer, std::int32_t Count);
  bool PackWrite(const void* Buffer, std::int32_t Count);
  enum class TCopyResult { Ok, NoMemory, ReadFailed, WriteFailed };
  TCopyResult CopyBlocks(TStream* Dest, TStream* Source, TOvPack* SourcePack, OvFILE* Handle,
                         std::int32_t Count, Word& Crc);
  bool PadToBoundary(std::int32_t StoredSize);
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

// (end of the pack archive section)

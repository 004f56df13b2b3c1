// The Corvel codec: TCorvelEncode and TCorvelDecode turn a byte string of known size into a
// Corvel stream and back, one 16384-byte slice per call, in fixed memory whatever the size; and
// CorvelEncodeAll / CorvelDecodeAll, which run them over a whole stream in their calling order.
// Callers use the two drivers; the classes' own calling order is for code that must see each call.
// doc/corvel_format.md draws the stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/core/Component.h"
#include "platform/core/Types.h"

namespace ovelta {

// The Corvel stream: groups of a 32-bit little-endian flag word and up to 32 items (bit 31 first;
// 0 a literal byte, 1 a match token with up to three extension bytes). Window 1535 bytes, matches
// of 1 to 8192 bytes as the encoder writes them. The stream has no header, length or end marker:
// the decoder is told the decoded size and the stored size. doc/corvel_format.md draws it.
inline constexpr std::int32_t kCorvelSliceSize = 16384;    // input and stream slices
inline constexpr std::int32_t kCorvelHistory = 1536;       // history kept ahead of each slice
inline constexpr std::int32_t kCorvelMaxDistance = 1535;   // farthest match
inline constexpr std::int32_t kCorvelMaxLength = 8192;     // longest match the encoder writes
inline constexpr std::int32_t kCorvelWindowSize = 0x8600;  // 34304: history + two slices
inline constexpr std::int32_t kCorvelOutputSize = 0x4A00;  // 18944: one call's output + open group
inline constexpr std::int32_t kCorvelInputSize = 0x4100;   // 16640: one stream slice + 256 carried

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

// ---- Whole streams
// --------------------------------------------------------------------------------

// How a run of CorvelEncodeAll or CorvelDecodeAll ended.
enum class TCorvelStatus : std::uint8_t {
  Ok,            // every byte went to the sink
  NotOpened,     // Open refused the sizes or found no memory; the source and sink were not called
  SourceFailed,  // the source gave null for a slice it was asked for
  SinkFailed,    // the sink returned false
  BadStream,     // decoding only: the stream is not a Corvel stream of the stated sizes
  CodecFault,    // a call gave more bytes than its buffer holds or than the size left, asked for
                 // input past the stored size, or the calls did not end within their bound; a
                 // fault of the codec, never of the input
};

// What a run did. Produced and Consumed count up to the point where the run ended.
struct TCorvelRun {
  TCorvelStatus Status = TCorvelStatus::NotOpened;
  std::int64_t Produced = 0;  // bytes handed to the sink
  std::int64_t Consumed = 0;  // encoding: input bytes given; decoding: stream bytes decoded from
  std::int32_t Calls = 0;     // Encode or Decode calls made
  bool Ok() const { return Status == TCorvelStatus::Ok; }
};

// Gives the slice of Count bytes (1 to 16384) that starts Offset bytes into the input (encoding)
// or the stream (decoding): a pointer to Count readable bytes that stay valid until the next
// call, or null to end the run with SourceFailed. CorvelEncodeAll also calls it, with Count 0,
// before each call made after the last slice; the result is then not read.
using TCorvelSource = std::function<const Byte*(std::int64_t Offset, std::int32_t Count)>;
// Takes the next Count (1 or more) bytes of the result; false ends the run with SinkFailed. The
// bytes are valid only during the call.
using TCorvelSink = std::function<bool(const Byte* Data, std::int32_t Count)>;

// Encodes Size bytes (1 or more) from Source into Sink: opens Encoder, asks Source for each
// slice in order and before every call after the last slice, gives Sink each call's output and
// closes Encoder whatever happens. Ok when the encoder finished and Sink received exactly its
// stream (Produced is the compressed size). At most Size / 16384 + 8 calls are made. Any open
// encoding of Encoder is closed first.
TCorvelRun CorvelEncodeAll(TCorvelEncode& Encoder, std::int32_t Size, const TCorvelSource& Source,
                           const TCorvelSink& Sink);
// The same over Size bytes in memory at Data, which must hold Size bytes; they are read in place.
TCorvelRun CorvelEncodeAll(TCorvelEncode& Encoder, const void* Data, std::int32_t Size,
                           const TCorvelSink& Sink);

// Decodes a stream of StoredSize bytes (1 or more) into DecodedSize bytes (1 or more): opens
// Decoder, asks Source for each stream slice when the decoder needs it (the lesser of 16384
// bytes and what remains of StoredSize), gives Sink the decoded bytes in order and closes Decoder
// whatever happens. Ok when exactly DecodedSize bytes went to Sink; BadStream when the decoder
// found the stream outside the format (bytes handed out before are not to be trusted). An Ok run
// may leave stream bytes unused: a caller that wants the stream to end exactly at StoredSize
// compares Consumed with it. Never more than DecodedSize bytes reach Sink, and at most
// StoredSize / 16384 + DecodedSize / 16384 + 8 calls are made.
TCorvelRun CorvelDecodeAll(TCorvelDecode& Decoder, std::int32_t DecodedSize,
                           std::int32_t StoredSize, const TCorvelSource& Source,
                           const TCorvelSink& Sink);
// The same over a stream in memory at Stream, which must hold StoredSize bytes; read in place.
TCorvelRun CorvelDecodeAll(TCorvelDecode& Decoder, const void* Stream, std::int32_t DecodedSize,
                           std::int32_t StoredSize, const TCorvelSink& Sink);

}  // namespace ovelta

// CorvelEncodeAll and CorvelDecodeAll: the codec's calling order over whole streams, written once.
// Each call's result is checked against its buffer and against the size still to come before the
// sink sees it, and the number of calls is bounded, so a faulty codec ends a run instead of
// overrunning a caller's buffer or looping.
#include <algorithm>

#include "pack/Corvel.h"

namespace ovelta {

namespace {

// Calls beyond those that take a slice or hand one out: the calls that finish the window.
constexpr std::int64_t kExtraCalls = 8;
// The most one Decode call hands out: the window less the history kept ahead of it.
constexpr std::int32_t kMostDecoded = kCorvelWindowSize - kCorvelHistory;

// A run that ends with Status, the codec closed.
template <typename Codec> TCorvelRun Ended(Codec& Coder, TCorvelRun Run, TCorvelStatus Status) {
  Coder.Close();
  Run.Status = Status;
  return Run;
}

}  // namespace

TCorvelRun CorvelEncodeAll(TCorvelEncode& Encoder, std::int32_t Size, const TCorvelSource& Source,
                           const TCorvelSink& Sink) {
  TCorvelRun run;
  const Byte* output = Encoder.Open(Size);
  if (!output) return Ended(Encoder, run, TCorvelStatus::NotOpened);
  // One call per slice, then the calls that empty the window.
  const std::int64_t most_calls = std::int64_t{Size} / kCorvelSliceSize + kExtraCalls;
  while (!Encoder.Finished()) {
    if (run.Calls >= most_calls) return Ended(Encoder, run, TCorvelStatus::CodecFault);
    const auto piece = static_cast<std::int32_t>(
        std::min<std::int64_t>(kCorvelSliceSize, std::int64_t{Size} - run.Consumed));
    const Byte* slice = Source(run.Consumed, piece);
    if (piece > 0) {
      if (!slice) return Ended(Encoder, run, TCorvelStatus::SourceFailed);
      run.Consumed += piece;
    } else {
      slice = nullptr;  // every slice has been given: the encoder does not read
    }
    const std::int32_t ready = Encoder.Encode(slice);
    ++run.Calls;
    if (Encoder.Failed() || ready < 0 || ready > kCorvelOutputSize)
      return Ended(Encoder, run, TCorvelStatus::CodecFault);
    if (ready == 0) continue;
    if (!Sink(output, ready)) return Ended(Encoder, run, TCorvelStatus::SinkFailed);
    run.Produced += ready;
  }
  const bool whole = run.Produced == Encoder.Committed();
  return Ended(Encoder, run, whole ? TCorvelStatus::Ok : TCorvelStatus::CodecFault);
}

TCorvelRun CorvelEncodeAll(TCorvelEncode& Encoder, const void* Data, std::int32_t Size,
                           const TCorvelSink& Sink) {
  const auto* bytes = static_cast<const Byte*>(Data);
  return CorvelEncodeAll(
      Encoder, Size, [bytes](std::int64_t Offset, std::int32_t) { return bytes + Offset; }, Sink);
}

TCorvelRun CorvelDecodeAll(TCorvelDecode& Decoder, std::int32_t DecodedSize,
                           std::int32_t StoredSize, const TCorvelSource& Source,
                           const TCorvelSink& Sink) {
  TCorvelRun run;
  const Byte* output = Decoder.Open(DecodedSize, StoredSize);
  if (!output) return Ended(Decoder, run, TCorvelStatus::NotOpened);
  // Every call either takes a slice or hands out more than a slice (or finishes).
  const std::int64_t most_calls = std::int64_t{StoredSize} / kCorvelSliceSize +
                                  std::int64_t{DecodedSize} / kCorvelSliceSize + kExtraCalls;
  std::int64_t given = 0;  // stream bytes handed to the decoder
  while (!Decoder.Finished()) {
    if (run.Calls >= most_calls) return Ended(Decoder, run, TCorvelStatus::CodecFault);
    const Byte* slice = nullptr;
    if (Decoder.NeedInput()) {
      if (given >= StoredSize) return Ended(Decoder, run, TCorvelStatus::CodecFault);
      const auto piece = static_cast<std::int32_t>(
          std::min<std::int64_t>(kCorvelSliceSize, std::int64_t{StoredSize} - given));
      slice = Source(given, piece);
      if (!slice) return Ended(Decoder, run, TCorvelStatus::SourceFailed);
      given += piece;
    }
    const std::int32_t ready = Decoder.Decode(slice);
    ++run.Calls;
    run.Consumed = Decoder.Consumed();
    if (Decoder.Failed()) return Ended(Decoder, run, TCorvelStatus::BadStream);
    if (ready < 0 || ready > kMostDecoded || run.Produced + ready > DecodedSize)
      return Ended(Decoder, run, TCorvelStatus::CodecFault);
    if (ready == 0) continue;
    if (!Sink(output, ready)) return Ended(Decoder, run, TCorvelStatus::SinkFailed);
    run.Produced += ready;
  }
  const bool whole = run.Produced == DecodedSize;
  return Ended(Decoder, run, whole ? TCorvelStatus::Ok : TCorvelStatus::CodecFault);
}

TCorvelRun CorvelDecodeAll(TCorvelDecode& Decoder, const void* Stream, std::int32_t DecodedSize,
                           std::int32_t StoredSize, const TCorvelSink& Sink) {
  const auto* bytes = static_cast<const Byte*>(Stream);
  return CorvelDecodeAll(
      Decoder, DecodedSize, StoredSize,
      [bytes](std::int64_t Offset, std::int32_t) { return bytes + Offset; }, Sink);
}

}  // namespace ovelta

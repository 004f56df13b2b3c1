// The MD5 digest of RFC 1321: the block transform, the feeding of pieces into 64-byte blocks, and
// the final padding with the message length. The transform reads each block as sixteen
// little-endian words straight from the input (no copy into the context for whole blocks, no
// allocation) and wipes its local copy of them before returning; the final step wipes the whole
// context.
#include "digest/Ovmd5.h"

#include <bit>
#include <cstring>

namespace ovelta {
namespace {

constexpr int kBlockBytes = 64;
constexpr int kLengthBytes = 8;
// Padding ends when this many bytes of the block are filled; the length takes the last 8.
constexpr int kPadEnd = kBlockBytes - kLengthBytes;

constexpr DWord kInitA = 0x67452301;
constexpr DWord kInitB = 0xEFCDAB89;
constexpr DWord kInitC = 0x98BADCFE;
constexpr DWord kInitD = 0x10325476;

// The padding: one 0x80 byte, then zero bytes.
constexpr Byte kPadding[kBlockBytes] = {0x80};

// Sets Bytes bytes at Target to zero in a way the optimiser may not drop, even though the memory is
// not read again: the empty assembly statement claims to read it.
void WipeBytes(void* Target, std::size_t Bytes) {
  std::memset(Target, 0, Bytes);
  __asm__ __volatile__("" : : "r"(Target) : "memory");
}

// Reads Bytes bytes (a multiple of 4) as little-endian words.
inline void Md5Decode(DWord* Output, const Byte* Input, std::size_t Bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(Output, Input, Bytes);
  } else {
    for (std::size_t i = 0; i < Bytes / 4; ++i) {
      const Byte* word = Input + 4 * i;
      Output[i] =
          DWord{word[0]} | DWord{word[1]} << 8 | DWord{word[2]} << 16 | DWord{word[3]} << 24;
    }
  }
}

// Writes Bytes bytes (a multiple of 4) of words, each little-endian.
inline void Md5Encode(Byte* Output, const DWord* Input, std::size_t Bytes) {
  for (std::size_t i = 0; i < Bytes / 4; ++i) {
    Output[4 * i] = static_cast<Byte>(Input[i]);
    Output[4 * i + 1] = static_cast<Byte>(Input[i] >> 8);
    Output[4 * i + 2] = static_cast<Byte>(Input[i] >> 16);
    Output[4 * i + 3] = static_cast<Byte>(Input[i] >> 24);
  }
}

// The four rounds' steps. The auxiliary functions are written in forms with fewer dependent
// operations than the RFC's, with the same values:
//   F(b,c,d) = (b & c) | (~b & d)  ==  d ^ (b & (c ^ d))
//   G(b,c,d) = (b & d) | (c & ~d)  ==  (b & d) + (c & ~d)   (the two terms share no bit)
// G's second term and the constant are added before b is needed, which shortens the chain.
inline void StepF(DWord& a, DWord b, DWord c, DWord d, DWord x, int s, DWord t) {
  a += (d ^ (b & (c ^ d))) + x + t;
  a = std::rotl(a, s) + b;
}
inline void StepG(DWord& a, DWord b, DWord c, DWord d, DWord x, int s, DWord t) {
  a += x + t + (c & ~d);
  a += b & d;
  a = std::rotl(a, s) + b;
}
inline void StepH(DWord& a, DWord b, DWord c, DWord d, DWord x, int s, DWord t) {
  a += (b ^ c ^ d) + x + t;
  a = std::rotl(a, s) + b;
}
inline void StepI(DWord& a, DWord b, DWord c, DWord d, DWord x, int s, DWord t) {
  a += (c ^ (b | ~d)) + x + t;
  a = std::rotl(a, s) + b;
}

// The compression function of RFC 1321 over one 64-byte block.
void Md5Transform(DWord State[4], const Byte* Block) {
  DWord x[16];
  Md5Decode(x, Block, kBlockBytes);
  DWord a = State[0], b = State[1], c = State[2], d = State[3];

  StepF(a, b, c, d, x[0], 7, 0xD76AA478);
  StepF(d, a, b, c, x[1], 12, 0xE8C7B756);
  StepF(c, d, a, b, x[2], 17, 0x242070DB);
  StepF(b, c, d, a, x[3], 22, 0xC1BDCEEE);
  StepF(a, b, c, d, x[4], 7, 0xF57C0FAF);
  StepF(d, a, b, c, x[5], 12, 0x4787C62A);
  StepF(c, d, a, b, x[6], 17, 0xA8304613);
  StepF(b, c, d, a, x[7], 22, 0xFD469501);
  StepF(a, b, c, d, x[8], 7, 0x698098D8);
  StepF(d, a, b, c, x[9], 12, 0x8B44F7AF);
  StepF(c, d, a, b, x[10], 17, 0xFFFF5BB1);
  StepF(b, c, d, a, x[11], 22, 0x895CD7BE);
  StepF(a, b, c, d, x[12], 7, 0x6B901122);
  StepF(d, a, b, c, x[13], 12, 0xFD987193);
  StepF(c, d, a, b, x[14], 17, 0xA679438E);
  StepF(b, c, d, a, x[15], 22, 0x49B40821);

  StepG(a, b, c, d, x[1], 5, 0xF61E2562);
  StepG(d, a, b, c, x[6], 9, 0xC040B340);
  StepG(c, d, a, b, x[11], 14, 0x265E5A51);
  StepG(b, c, d, a, x[0], 20, 0xE9B6C7AA);
  StepG(a, b, c, d, x[5], 5, 0xD62F105D);
  StepG(d, a, b, c, x[10], 9, 0x02441453);
  StepG(c, d, a, b, x[15], 14, 0xD8A1E681);
  StepG(b, c, d, a, x[4], 20, 0xE7D3FBC8);
  StepG(a, b, c, d, x[9], 5, 0x21E1CDE6);
  StepG(d, a, b, c, x[14], 9, 0xC33707D6);
  StepG(c, d, a, b, x[3], 14, 0xF4D50D87);
  StepG(b, c, d, a, x[8], 20, 0x455A14ED);
  StepG(a, b, c, d, x[13], 5, 0xA9E3E905);
  StepG(d, a, b, c, x[2], 9, 0xFCEFA3F8);
  StepG(c, d, a, b, x[7], 14, 0x676F02D9);
  StepG(b, c, d, a, x[12], 20, 0x8D2A4C8A);

  StepH(a, b, c, d, x[5], 4, 0xFFFA3942);
  StepH(d, a, b, c, x[8], 11, 0x8771F681);
  StepH(c, d, a, b, x[11], 16, 0x6D9D6122);
  StepH(b, c, d, a, x[14], 23, 0xFDE5380C);
  StepH(a, b, c, d, x[1], 4, 0xA4BEEA44);
  StepH(d, a, b, c, x[4], 11, 0x4BDECFA9);
  StepH(c, d, a, b, x[7], 16, 0xF6BB4B60);
  StepH(b, c, d, a, x[10], 23, 0xBEBFBC70);
  StepH(a, b, c, d, x[13], 4, 0x289B7EC6);
  StepH(d, a, b, c, x[0], 11, 0xEAA127FA);
  StepH(c, d, a, b, x[3], 16, 0xD4EF3085);
  StepH(b, c, d, a, x[6], 23, 0x04881D05);
  StepH(a, b, c, d, x[9], 4, 0xD9D4D039);
  StepH(d, a, b, c, x[12], 11, 0xE6DB99E5);
  StepH(c, d, a, b, x[15], 16, 0x1FA27CF8);
  StepH(b, c, d, a, x[2], 23, 0xC4AC5665);

  StepI(a, b, c, d, x[0], 6, 0xF4292244);
  StepI(d, a, b, c, x[7], 10, 0x432AFF97);
  StepI(c, d, a, b, x[14], 15, 0xAB9423A7);
  StepI(b, c, d, a, x[5], 21, 0xFC93A039);
  StepI(a, b, c, d, x[12], 6, 0x655B59C3);
  StepI(d, a, b, c, x[3], 10, 0x8F0CCC92);
  StepI(c, d, a, b, x[10], 15, 0xFFEFF47D);
  StepI(b, c, d, a, x[1], 21, 0x85845DD1);
  StepI(a, b, c, d, x[8], 6, 0x6FA87E4F);
  StepI(d, a, b, c, x[15], 10, 0xFE2CE6E0);
  StepI(c, d, a, b, x[6], 15, 0xA3014314);
  StepI(b, c, d, a, x[13], 21, 0x4E0811A1);
  StepI(a, b, c, d, x[4], 6, 0xF7537E82);
  StepI(d, a, b, c, x[11], 10, 0xBD3AF235);
  StepI(c, d, a, b, x[2], 15, 0x2AD7D2BB);
  StepI(b, c, d, a, x[9], 21, 0xEB86D391);

  State[0] += a;
  State[1] += b;
  State[2] += c;
  State[3] += d;
  // The message words must not linger on the stack.
  WipeBytes(x, sizeof x);
}

}  // namespace

void Md5Init(Md5Context* Context) {
  Context->state[0] = kInitA;
  Context->state[1] = kInitB;
  Context->state[2] = kInitC;
  Context->state[3] = kInitD;
  Context->count[0] = 0;
  Context->count[1] = 0;
}

void Md5Update(Md5Context* Context, const Byte* Input, DWord Length) {
  if (Length == 0) return;
  DWord index = (Context->count[0] >> 3) & (kBlockBytes - 1);
  DWord bits = Length << 3;  // modulo 2^32; the bits shifted out go to the high word below
  Context->count[0] += bits;
  if (Context->count[0] < bits) ++Context->count[1];
  Context->count[1] += Length >> 29;

  DWord partLen = kBlockBytes - index;
  DWord i = 0;
  if (Length >= partLen) {
    std::memcpy(&Context->buffer[index], Input, partLen);
    Md5Transform(Context->state, Context->buffer);
    // Whole blocks are digested where they lie; i + 63 < Length cannot overflow because
    // i <= Length - 64 + 63 here.
    for (i = partLen; Length - i >= static_cast<DWord>(kBlockBytes); i += kBlockBytes)
      Md5Transform(Context->state, Input + i);
    index = 0;
  }
  std::memcpy(&Context->buffer[index], Input + i, Length - i);
}

void Md5Final(Byte Digest[16], Md5Context* Context) {
  // The length is taken before the padding changes the count.
  Byte bits[kLengthBytes];
  Md5Encode(bits, Context->count, kLengthBytes);

  DWord index = (Context->count[0] >> 3) & (kBlockBytes - 1);
  DWord padLen = index < kPadEnd ? kPadEnd - index : kPadEnd + kBlockBytes - index;
  Md5Update(Context, kPadding, padLen);
  Md5Update(Context, bits, kLengthBytes);

  Md5Encode(Digest, Context->state, 16);
  WipeBytes(Context, sizeof *Context);
}

}  // namespace ovelta

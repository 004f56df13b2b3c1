// The unit Ovmd5: the MD5 message digest of RFC 1321 over a byte string fed in one or more pieces.
// A plain set of free functions over a context record that the caller owns (usually a local); the
// unit allocates nothing, keeps no global state and reports no errors. The APOP login digests the
// greeting timestamp followed by the password and renders the 16 bytes as 32 lowercase hex digits;
// the unit itself has no text rendering.
#pragma once

#include "platform/core/Types.h"

namespace ovelta {

// The running state of one digest.
struct Md5Context {
  DWord state[4];   // the chaining values A, B, C, D
  DWord count[2];   // bits fed so far, modulo 2^64; low word first
  Byte buffer[64];  // the bytes of the current, not yet complete block
};
// Invariant between calls: (count[0] >> 3) & 63 bytes are pending in buffer, always below 64.

// Starts a digest: the four initial chaining values, a bit count of 0. The buffer is not touched.
// Context must not be null.
void Md5Init(Md5Context* Context);

// Feeds Length bytes at Input. Input may be null only when Length is 0; a length of 0 changes
// nothing. Any number of calls may follow one Md5Init; the digest is that of their concatenation.
// Pieces of more than 2^29 bytes are counted correctly.
void Md5Update(Md5Context* Context, const Byte* Input, DWord Length);

// Completes the digest and writes its 16 bytes (the state words A to D, each little-endian) to
// Digest, then sets the whole context (state, count and buffer) to zero bytes. Note the order:
// output first, context second. Md5Init must be called again before the context is reused.
void Md5Final(Byte Digest[16], Md5Context* Context);

}  // namespace ovelta

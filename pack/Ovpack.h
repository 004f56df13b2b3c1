// The unit Ovpack: CRC-16 check words, the Corvel compression codec, buffer compression, and the pack
// archive component TOvPack with its member handles (OvFILE).
#pragma once

#include "platform/Types.h"

// ============================================================================================
// CRC, Corvel codec and buffer compression
// ============================================================================================

namespace ovelta {}  // namespace ovelta

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

namespace ovelta {}  // namespace ovelta

// (end of the pack archive section)

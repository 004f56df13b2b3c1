// The plain data types every unit speaks: the 8-bit string, fixed-size integers, the colour-table
// entry and the file time stamp. No Qt here: every unit may include this header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

// The framework's 8-bit string: a byte string in the system code page (Shift-JIS, CP932), length in
// bytes. An empty string and a missing one are the same.
using AnsiString = std::string;

using Byte = std::uint8_t;
using Word = std::uint16_t;
using DWord = std::uint32_t;

// The platform's 4-byte colour-table entry; a palette is 256 of them (1024 bytes).
struct RGBQUAD {
  Byte rgbBlue = 0;
  Byte rgbGreen = 0;
  Byte rgbRed = 0;
  Byte rgbReserved = 0;
};
static_assert(sizeof(RGBQUAD) == 4);

// The platform's time stamp: 100-nanosecond units since 1601-01-01 UTC, low word first.
struct FILETIME {
  DWord dwLowDateTime = 0;
  DWord dwHighDateTime = 0;
};
static_assert(sizeof(FILETIME) == 8);

// Message-box flags used by the system (the values of the platform's message-box call).
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONERROR = MB_ICONSTOP;

}  // namespace ovelta

// The unit's check words: TCrcCheck, a 16-bit reflected CRC over byte strings given in one piece or
// in many. Every check word of the pack format and of buffer compression is this CRC with its
// default polynomial, started from 0xFFFF. The object owns its byte table and allocates nothing
// else; it reports no errors (every input is valid).
#pragma once

#include <cstdint>

#include "platform/core/Component.h"
#include "platform/core/Types.h"

namespace ovelta {

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

}  // namespace ovelta

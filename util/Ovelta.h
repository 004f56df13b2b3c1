// The unit Ovelta: the library's small value classes and helpers. TCounter is a bounded counter
// that wraps when counting up and stops at zero when counting down; TRandom is a deterministic
// additive lagged-Fibonacci generator on 16-bit words. The free functions copy and split Shift-JIS
// text, format into a string, parse hexadecimal text, test for files, report the memory of the
// system and the process, and open a document with the desktop's handler. None of them keeps state,
// raises an exception or allocates beyond its result; text is 8-bit Shift-JIS (CP932) throughout,
// and file names are handed to the system as the bytes given.
#pragma once

#include "platform/core/Types.h"

namespace ovelta {

// A counter from 0 to a maximum value - 1 with a step. Counting up wraps (one subtraction of the
// maximum), counting down clamps at 0. The maximum is always at least 1 and the step stays between
// 0 and the maximum. Sums that leave the range of a 32-bit int wrap around in two's complement.
class TCounter {
 public:
  // Maximum 9999, step 1, count 0.
  TCounter();
  // Maximum max(MaxVal, 1), step 1, count 0.
  explicit TCounter(int MaxVal);
  // Maximum max(MaxVal, 1), step AddVal kept between 0 and the maximum, count 0.
  TCounter(int MaxVal, int AddVal);
  TCounter(const TCounter& Other) = default;
  TCounter& operator=(const TCounter& Other) = default;

  // Sets the maximum (at least 1), then keeps the step at most the maximum and the count at most
  // the maximum - 1.
  void SetMaxVal(int Value);
  // Sets the step, kept between 0 and the maximum.
  void SetAddVal(int Value);
  // Sets the count, at most the maximum itself (not the maximum - 1); no lower bound.
  void SetCount(int Value);
  int GetMaxVal() const { return FMaxVal; }
  int GetAddVal() const { return FAddVal; }
  int GetCount() const { return FCount; }

  // Adds Value; when the count reaches the maximum or more, subtracts the maximum once and returns
  // true (a wrap). A large Value can therefore leave the count at or above the maximum.
  bool AddVal(int Value);
  // Subtracts Value; when the count falls below 0, sets it to 0 and returns true (the bottom).
  bool SubVal(int Value);
  bool IncVal() { return AddVal(FAddVal); }
  bool DecVal() { return SubVal(FAddVal); }
  bool IsZero() const { return FCount == 0; }

 private:
  int FMaxVal;
  int FAddVal;
  int FCount;
};

// An additive lagged-Fibonacci generator, x(n) = x(n - 32) + x(n - 7) modulo 65536. There is no
// seeding: every new generator yields the same sequence. Copying copies the whole state.
class TRandom {
 public:
  TRandom();
  TRandom(const TRandom& Other) = default;
  TRandom& operator=(const TRandom& Other) = default;

  // The next value, 0 to 65535. A table addition and two index updates.
  Word Rnd();
  // A uniform value from 0 to N - 1 by rejection (so it may draw several values); -1, drawing
  // nothing, when N < 1. Values above 65536 give results confined to 0 to 65535.
  int Random(int N);
  // An approximately normal value from -N to N centred on 0, from three draws; 0, drawing
  // nothing, when N < 1 or N > 4096.
  int NormalDistribution(int N);

 private:
  static constexpr int kTableWords = 32;
  Word FTable[kTableWords];
  int FFirst;   // the word replaced next
  int FSecond;  // the word added to it, always 7 places above the first (modulo 32)
};

// Copies at most Len bytes of the zero-terminated Source to Dest and terminates it, so Dest must
// hold Len + 1 bytes. The copy stops before a carriage return, before a comma when StopAtComma is
// true, at the terminator, or when Len bytes are written. A byte from 0x80 to 0x9F or 0xE0 to 0xEF
// starts a double-byte character, which is copied whole or not at all; a lead byte directly before
// the terminator has no second byte and is dropped. Returns Dest. Null Dest or Source: nothing is
// read or written and Dest is returned.
char* hstrncpy(char* Dest, const char* Source, unsigned Len, bool StopAtComma);

// Formats the arguments as the standard printf does and returns the whole text, however long: the
// result is sized to the formatted text, never cut and never overflowing. An encoding error in the
// formatting gives an empty string.
[[gnu::format(printf, 1, 2)]] AnsiString Ansiprintf(const char* Format, ...);

// True when Name names something that exists and is not a directory (symbolic links are followed).
// Null or empty names, missing files and names that cannot be examined give false. Writes nothing
// to any output.
bool FileIsExist(const char* Name);

// Memory figures in bytes; values of 4 GiB or more are reported as 0xFFFFFFFF, and 0 means the
// system could not be asked.
//  - Physical memory is the machine's RAM (sysinfo); "available" is the kernel's estimate of the
//    memory that can be had without swapping (MemAvailable of /proc/meminfo).
//  - Virtual memory is the address space of this process (a 32-bit figure): the total
//    is the address-space limit (RLIMIT_AS) or, without one, the user address space of the
//    architecture; "available" is that total less what the process has mapped (/proc/self/statm).
//    It is not swap space. A 64-bit process therefore usually sees 0xFFFFFFFF for both.
//  - On Windows the same figures come from GlobalMemoryStatusEx (ullTotalPhys, ullAvailPhys,
//    ullTotalVirtual, ullAvailVirtual).
DWord TotalPhysicalMemory();
DWord AvailPhysicalMemory();
DWord TotalVirtualMemory();
DWord AvailVirtualMemory();

// Splits Source at line feeds into Parts[0] to Parts[Count - 1]; a carriage return before a line
// feed stays at the end of its part. Text beyond the Count-th part is dropped; elements without a
// part become empty. Parts must hold Count elements; Count <= 0 or a null Parts does nothing.
void SeparateString(AnsiString Source, AnsiString* Parts, int Count);

// Reads the first 8 characters of Text as hexadecimal digits, either case; any other character
// counts as a 0 digit. No prefix or sign is recognised ("0x1F" gives 31); eight F give -1.
int HexToInt(AnsiString Text);

// Opens the document (or directory, or URL) Path with the desktop's handler, xdg-open, started
// without a shell in the working directory taken from Path: everything before the last separator
// ("/", or "\", which is also read as a separator elsewhere in the path), the separator kept only
// for a root ("/x" gives "/"); a bare name gives the caller's working directory. The opened program
// is not waited for: xdg-open is given at most a second to report that it cannot open the document,
// and is left running when it is still busy opening it. Failures are shown in a message box
// captioned "エラー" with the stop icon: a missing file, a missing directory, no handler for the
// document (or no xdg-open), too few resources, or an unknown error. An empty Path does nothing.
void OvFileExec(AnsiString Path);

}  // namespace ovelta

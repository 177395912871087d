// The character code and core storage: the 64 BCD codes with their display characters, the
// three-character address format, and the one set of operations through which everything reads
// and changes core, carrying the storage checks and the operator's core stops.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Registers.h"
#include "core/Shared.h"

namespace kestrel {

// ---- Character code -------------------------------------------------------------------------

// The display character of each code.  Codes 0, 15, 16 and 31 all show as a blank.
inline constexpr char InternalCharSet[] =
    " 1234567890#@:>  /STUVWXYZr,%=\\ -JKLMNOPQR!$*);+&ABCDEFGHI?.o(<g";
static_assert(sizeof(InternalCharSet) == 65);

namespace Bcd {
inline constexpr uint8_t Blank = 0;
inline constexpr uint8_t Zero = 10;  // the digit 0
inline constexpr uint8_t RecordMark = 26;
inline constexpr uint8_t Percent = 28;
inline constexpr uint8_t Lozenge = 60;
inline constexpr uint8_t GroupMark = 63;
inline constexpr uint8_t ZoneMask = 48;
inline constexpr uint8_t NumericMask = 15;
inline constexpr uint8_t AZone = 16;
inline constexpr uint8_t BZone = 32;
inline constexpr uint8_t Comma = 27;
inline constexpr uint8_t Minus = 32;
inline constexpr uint8_t Asterisk = 44;
inline constexpr uint8_t Ampersand = 48;
}  // namespace Bcd

// The op codes the processor and the handlers name.
namespace Opcode {
inline constexpr uint8_t ClearStorage = 17;  // /
inline constexpr uint8_t Control = 20;       // U
inline constexpr uint8_t SetWordMark = 27;   // ,
inline constexpr uint8_t LoadChars = 35;     // L
inline constexpr uint8_t MoveChars = 36;     // M
inline constexpr uint8_t StoreAAR = 40;      // Q
inline constexpr uint8_t Branch = 50;        // B
inline constexpr uint8_t StoreBAR = 56;      // H
}  // namespace Opcode

inline char BcdToChar(uint8_t code) {
  return InternalCharSet[code & 63];
}
// The code of a display character: characters not in the table, and the blank, give 0.
uint8_t CharToBcd(char c);

// Address decode tables, indexed by the code; -1 marks a code that may not stand there.
extern const std::array<int32_t, 64> HundredsTable;
extern const std::array<int32_t, 64> TensTable;
extern const std::array<int32_t, 64> UnitsTable;

// Text helpers used by every message and trace line.
std::string Addr5(uint32_t address);  // at least five decimal digits, leading zeros
std::string Hex2(uint32_t value);     // two upper-case hexadecimal digits
// The text without the characters of `blanks` at either end.
std::string Trim(std::string_view text, std::string_view blanks = " ");

// ---- Core storage ---------------------------------------------------------------------------

// One storage position: bits 0-5 the code, bit 7 the word mark, bit 8 changed since drawn,
// bit 9 written since cleared.
namespace CoreChar {
inline constexpr uint16_t CodeMask = 63;
inline constexpr uint16_t WordMark = 128;
inline constexpr uint16_t Changed = 256;
inline constexpr uint16_t Written = 512;
inline constexpr uint16_t Cleared = Changed;
}  // namespace CoreChar

struct TCharWM {
  uint8_t Code;
  bool WordMark;
};

class TCoreStorage {
 public:
  static constexpr uint16_t MaxSize = 16000;

  // The registers supply the current instruction address for messages and take core stops.
  explicit TCoreStorage(TRegisters& registers);

  uint16_t Size() const { return size_; }
  void ClearCore();
  // Same size: nothing.  Another size from 1 to 16000: stored, then core cleared.  0 or more
  // than 16000 is refused (returns false) and the previous size stays.
  bool SetCoreSize(uint16_t size);

  void CheckAddress(uint16_t address) const {
    if (address == 0 || address >= size_) InvalidAddress(address);
  }

  uint8_t ReadChar(uint16_t address) { return ReadCharWM(address).Code; }
  TCharWM ReadCharWM(uint16_t address) {
    CheckAddress(address);
    uint16_t word = core_[address].load(std::memory_order_relaxed);
    if (!(word & CoreChar::Written) && UninitializedCheck) UninitializedRead(address);
    if (address == ReadStopAddress) ReadStop(address);
    return {static_cast<uint8_t>(word & CoreChar::CodeMask), (word & CoreChar::WordMark) != 0};
  }

  // Stores a code, keeping the position's word mark.  A code of 64 or more is refused.
  void StoreChar(uint16_t address, uint8_t code) {
    CheckAddress(address);
    if (code >= 64) InvalidValue(code);
    std::atomic<uint16_t>& cell = core_[address];
    uint16_t word = cell.load(std::memory_order_relaxed);
    cell.store((word & CoreChar::WordMark) | CoreChar::Changed | CoreChar::Written | code,
               std::memory_order_relaxed);
    if (address == WriteStopAddress) WriteStop(address, code);
  }

  void SetWordMark(uint16_t address, bool on);

  // Stores code (low six bits) and word mark together.
  void StoreCharWM(uint16_t address, bool wordMark, uint8_t code) {
    CheckAddress(address);
    core_[address].store((wordMark ? CoreChar::WordMark : 0) | CoreChar::Changed |
                             CoreChar::Written | (code & CoreChar::CodeMask),
                         std::memory_order_relaxed);
    if (address == WriteStopAddress) WriteStop(address, code);
  }

  uint16_t ReadAddress(uint16_t unitsAddress);
  void StoreAddress(uint16_t unitsAddress, uint32_t value);

  // Display characters of `count` positions ending at `address` (stopping after address 1).
  std::string FieldText(uint16_t address, int count);
  // Display characters from the word mark at or below `address` up to `address`.
  std::string WordText(uint16_t address);

  // The raw word, read without checks or stops (the core display, the one-pass fetch), and the
  // clearing of its changed bit only if the word is still the one that was drawn (a store made
  // meanwhile by another thread is never undone).
  uint16_t Word(uint16_t address) const { return core_[address].load(std::memory_order_relaxed); }
  bool ClearChanged(uint16_t address, uint16_t drawnWord) {
    return core_[address].compare_exchange_strong(drawnWord, drawnWord & ~CoreChar::Changed,
                                                  std::memory_order_relaxed);
  }

  // Storage-check settings.
  TShared<bool> UninitializedCheck;
  TShared<uint16_t> ReadStopAddress;
  TShared<uint16_t> WriteStopAddress;
  TShared<uint8_t> WriteStopValue;  // 0 = any value

 private:
  [[noreturn]] void InvalidAddress(uint16_t address) const;
  [[noreturn]] void UninitializedRead(uint16_t address) const;
  [[noreturn]] void InvalidValue(uint8_t code) const;
  void ReadStop(uint16_t address);
  void WriteStop(uint16_t address, uint8_t code);

  TRegisters& registers_;
  TShared<uint16_t> size_{8000};
  std::array<std::atomic<uint16_t>, MaxSize> core_;
};

}  // namespace kestrel

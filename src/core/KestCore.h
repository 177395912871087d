// The character code and core storage: the 64 BCD codes with their display characters, the
// three-character address format, and the one set of operations through which everything reads
// and changes core, carrying the storage checks and the operator's core stops.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/InstructionSet.h"
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
inline constexpr uint8_t LetterR = 41;
inline constexpr uint8_t Dollar = 43;
inline constexpr uint8_t LetterC = 51;
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
// The character a card keeps for a code in the reader's and punch's piles and their files: the
// display character, and for the three codes shown as a blank (15, 16 and 31) one of its own,
// so that every card, column binary ones too, goes through the piles unchanged.
constexpr char BcdToCardChar(uint8_t code) {
  code &= 63;
  return code == 15 ? '{' : code == 16 ? '^' : code == 31 ? '"' : InternalCharSet[code];
}
// The code of a display or card character: other characters, and the blank, give 0.
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

class TCoreStorage;

// Told of the accesses to positions a debugger watches (`TCoreStorage::WatchPosition`): a read
// after its checks, a store after it completed, with the word the position held before.
class ICoreObserver {
 public:
  virtual ~ICoreObserver() = default;
  virtual void CoreRead(uint16_t address) = 0;
  virtual void CoreWritten(uint16_t address, uint16_t before) = 0;
};

// An instruction as the fetch decoded it: what it leaves in the registers.
struct TDecodedInstruction {
  uint16_t AAR = 0;
  uint16_t BAR = 0;
  uint8_t Opcode = 0;
  uint8_t DMod = 0;
  uint8_t Length = 0;
  bool SetsAAR = false;
  bool SetsBAR = false;
  const TOpcodeEntry* Entry = nullptr;  // its handlers
  THandler Execute = nullptr;           // its entry's execute handler
};

// The instructions the processor has decoded, by address, so that one met again is neither read
// nor decoded again.  Only ordinary instructions are kept (inside core, no index register, no %
// unit, no check or stop among their positions).  A store into any position an instruction was
// read from forgets it (core storage sees to that by a trap bit on those positions); a change of
// the storage checks or a clearing of core forgets them all.  Any thread may forget; only the
// processor thread finds and keeps.  Forgetting them all tells the run loop's attention word,
// and the processor empties the table (`Sync`) when it looks, before its next find.
class TDecodeCache {
 public:
  static constexpr unsigned Slots = 4096;

  explicit TDecodeCache(TAttention& attention) : attention_(attention) {}

  // Empties the table if everything was forgotten since the last look.
  void Sync() {
    if (const uint32_t epoch = epoch_.load(std::memory_order_relaxed); epoch != seenEpoch_) {
      for (auto& key : keys_)
        key.store(0, std::memory_order_relaxed);
      seenEpoch_ = epoch;
    }
  }
  const TDecodedInstruction* Find(uint16_t address) {
    const unsigned slot = address & (Slots - 1);
    if (keys_[slot].load(std::memory_order_relaxed) >> 8 != address) return nullptr;
    return &entries_[slot];
  }
  uint32_t Epoch() const { return epoch_.load(std::memory_order_relaxed); }
  // Kept unless everything was forgotten since `epoch` was read, before the decode.
  void Keep(uint16_t address, const TDecodedInstruction& decoded, uint32_t epoch) {
    if (epoch != Epoch() || address == 0) return;
    const unsigned slot = address & (Slots - 1);
    keys_[slot].store(0, std::memory_order_relaxed);
    entries_[slot] = decoded;
    keys_[slot].store(Key(address, decoded.Length), std::memory_order_relaxed);
  }
  // A store at `address`: every kept instruction read from there is forgotten.
  void Forget(uint16_t address) {
    for (unsigned back = 0; back <= MaxLength; ++back) {
      const uint16_t start = static_cast<uint16_t>(address - back);
      std::atomic<uint32_t>& key = keys_[start & (Slots - 1)];
      uint32_t k = key.load(std::memory_order_relaxed);
      if (k >> 8 == start && k != 0 && (k & 255) >= back) {
        key.compare_exchange_strong(k, 0, std::memory_order_relaxed);
      }
    }
  }
  void ForgetAll() {
    epoch_.fetch_add(1, std::memory_order_relaxed);
    attention_.Set(TAttention::ARLook);
  }

 private:
  static constexpr unsigned MaxLength = 8;
  // An instruction of length n was read from its address to n positions after it (the position
  // that ended it).
  static uint32_t Key(uint16_t address, uint8_t length) {
    return (uint32_t{address} << 8) | length;
  }

  std::array<std::atomic<uint32_t>, Slots> keys_{};
  std::array<TDecodedInstruction, Slots> entries_{};
  std::atomic<uint32_t> epoch_{0};
  uint32_t seenEpoch_ = 0;
  TAttention& attention_;
};

// A storage-check setting, read like the value it holds.  Setting it brings the trap bits of the
// positions it concerns up to date, so the accesses test one bit instead of every setting.
template <typename T>
class TCheckSetting {
 public:
  using TChanged = void (TCoreStorage::*)(T before, T now);
  TCheckSetting(TCoreStorage& core, TChanged changed) : core_(core), changed_(changed) {}
  TCheckSetting(const TCheckSetting&) = delete;
  TCheckSetting& operator=(const TCheckSetting&) = delete;

  operator T() const noexcept { return value_; }  // NOLINT: reads as the value
  T Get() const noexcept { return value_; }
  TCheckSetting& operator=(T value) {
    T before = value_.Exchange(value);
    if (before != value) (core_.*changed_)(before, value);
    return *this;
  }

 private:
  TShared<T> value_;
  TCoreStorage& core_;
  TChanged changed_;
};

class TCoreStorage {
 public:
  static constexpr uint16_t MaxSize = 16000;

  // The registers supply the current instruction address for messages and take core stops.
  explicit TCoreStorage(TRegisters& registers);
  TCoreStorage(const TCoreStorage&) = delete;
  TCoreStorage& operator=(const TCoreStorage&) = delete;

  uint16_t Size() const { return size_; }
  void ClearCore();
  // Same size: nothing.  Another size from 1 to 16000: stored, then core cleared.  0 or more
  // than 16000 is refused (returns false) and the previous size stays.
  bool SetCoreSize(uint16_t size);

  void CheckAddress(uint16_t address) const {
    if (address == 0 || address >= size_) InvalidAddress(address);
  }

  // The accesses.  A position whose trap bits say that a check or a stop may concern it takes
  // the careful way, which makes every test in the order the machine makes them; any other
  // position is simply read or written.
  uint8_t ReadChar(uint16_t address) { return ReadCharWM(address).Code; }
  TCharWM ReadCharWM(uint16_t address) {
    uint16_t word = core_[address].load(std::memory_order_relaxed);
    if (trap_[address].load(std::memory_order_relaxed) & Trap::Read) [[unlikely]] {
      word = ReadTrapped(address);
    }
    return {static_cast<uint8_t>(word & CoreChar::CodeMask), (word & CoreChar::WordMark) != 0};
  }

  // Stores a code, keeping the position's word mark.  A code of 64 or more is refused.
  void StoreChar(uint16_t address, uint8_t code) {
    if ((trap_[address].load(std::memory_order_relaxed) & Trap::Write) || code >= 64) [[unlikely]] {
      return StoreTrapped(address, code);
    }
    std::atomic<uint16_t>& cell = core_[address];
    uint16_t word = cell.load(std::memory_order_relaxed);
    cell.store((word & CoreChar::WordMark) | CoreChar::Changed | CoreChar::Written | code,
               std::memory_order_relaxed);
  }

  // Sets or clears the word mark, keeping the code.
  void SetWordMark(uint16_t address, bool on) {
    if (trap_[address].load(std::memory_order_relaxed) & Trap::Write) [[unlikely]] {
      return SetWordMarkTrapped(address, on);
    }
    std::atomic<uint16_t>& cell = core_[address];
    uint16_t word = cell.load(std::memory_order_relaxed);
    cell.store(MarkedWord(word, on), std::memory_order_relaxed);
  }

  // Stores code (low six bits) and word mark together.
  void StoreCharWM(uint16_t address, bool wordMark, uint8_t code) {
    if (trap_[address].load(std::memory_order_relaxed) & Trap::Write) [[unlikely]] {
      return StoreWMTrapped(address, wordMark, code);
    }
    core_[address].store(WordWithMark(wordMark, code), std::memory_order_relaxed);
  }

  // For the field loops that do an access's work themselves: a position with none of the trap
  // bits of a read (and, for a store too, of a store) may be read as its raw word and stored as
  // one (code, word mark, changed and written bits), which is all the access functions would do
  // there.  Any other position takes the access functions.
  bool Plain(uint16_t address) const {
    return !(trap_[address].load(std::memory_order_relaxed) & Trap::Read);
  }
  bool PlainToStore(uint16_t address) const {
    return !(trap_[address].load(std::memory_order_relaxed) & (Trap::Read | Trap::Write));
  }
  // Both at once: `from` may be read and `to` read and stored as raw words.
  bool PlainPair(uint16_t from, uint16_t to) const {
    return !((trap_[from].load(std::memory_order_relaxed) & Trap::Read) |
             (trap_[to].load(std::memory_order_relaxed) & (Trap::Read | Trap::Write)));
  }
  bool PlainToRead(uint16_t a, uint16_t b) const {
    return !((trap_[a].load(std::memory_order_relaxed) | trap_[b].load(std::memory_order_relaxed)) &
             Trap::Read);
  }
  void PutWord(uint16_t address, uint16_t word) {
    core_[address].store(word, std::memory_order_relaxed);
  }
  // Four positions [low, low + 3] in one host word, position low in the low 16 bits, for the
  // field loops that work four positions at once: their raw words, and whether none of them has
  // a trap bit of a read (and, for a store too, of a store).  A position is never torn by the
  // wide access: words are 16-bit aligned, so none straddles a cache line.  Only on
  // little-endian hosts, and not under the thread checker, which would take the wide access for
  // a race with the word-by-word ones.
#if defined(__SANITIZE_THREAD__)
  static constexpr bool WideAccess = false;
#else
  static constexpr bool WideAccess = std::endian::native == std::endian::little;
#endif
  // A value in each of the four lanes of such a word.
  static constexpr uint64_t Lanes(unsigned value) {
    return value * 0x0001000100010001ull;
  }
  uint64_t Words4(uint16_t low) const {
    uint64_t words;
    std::memcpy(&words, reinterpret_cast<const char*>(core_.data()) + 2 * size_t{low}, 8);
    return words;
  }
  void PutWords4(uint16_t low, uint64_t words) {
    std::memcpy(reinterpret_cast<char*>(core_.data()) + 2 * size_t{low}, &words, 8);
  }
  bool Plain4(uint16_t low) const {
    return !(Traps<uint32_t>(low) & (Trap::Read * 0x01010101u));
  }
  bool Plain4ToStore(uint16_t low) const {
    return !(Traps<uint32_t>(low) & ((Trap::Read | Trap::Write) * 0x01010101u));
  }
  // The code and word mark of a raw word, and the raw word a store of `code` makes of a position
  // that held `word` (its word mark kept).
  static TCharWM CharOf(uint16_t word) {
    return {static_cast<uint8_t>(word & CoreChar::CodeMask), (word & CoreChar::WordMark) != 0};
  }
  static uint16_t StoredWord(uint16_t word, uint8_t code) {
    return static_cast<uint16_t>((word & CoreChar::WordMark) | CoreChar::Changed |
                                 CoreChar::Written | code);
  }

  // The three-character address whose units position is `unitsAddress`.  Positions without
  // trap bits holding a valid address are read raw; anything else takes the careful way.
  uint16_t ReadAddress(uint16_t unitsAddress) {
    const uint16_t tensAddress = static_cast<uint16_t>(unitsAddress - 1);
    const uint16_t hundredsAddress = static_cast<uint16_t>(unitsAddress - 2);
    if (!((trap_[hundredsAddress].load(std::memory_order_relaxed) |
           trap_[tensAddress].load(std::memory_order_relaxed) |
           trap_[unitsAddress].load(std::memory_order_relaxed)) &
          Trap::Read)) {
      const int32_t h = HundredsTable[Word(hundredsAddress) & CoreChar::CodeMask];
      const int32_t t = TensTable[Word(tensAddress) & CoreChar::CodeMask];
      const int32_t u = UnitsTable[Word(unitsAddress) & CoreChar::CodeMask];
      if ((h | t | u) >= 0) return static_cast<uint16_t>(h + t + u);
    }
    return ReadAddressCarefully(unitsAddress);
  }
  void StoreAddress(uint16_t unitsAddress, uint32_t value);

  // The fetch's instructions; positions [address, address + length] now hold a kept one.
  TDecodeCache Decoded;
  void MarkInstruction(uint16_t address, uint8_t length) {
    for (unsigned k = 0; k <= length; ++k) {
      std::atomic<uint8_t>& trap = trap_[static_cast<uint16_t>(address + k)];
      if (!(trap.load(std::memory_order_relaxed) & Trap::Instruction)) {
        trap.fetch_or(Trap::Instruction, std::memory_order_relaxed);
      }
    }
  }

  // Display characters of `count` positions ending at `address` (stopping after address 1).
  std::string FieldText(uint16_t address, int count);
  // Display characters from the word mark at or below `address` up to `address`.
  std::string WordText(uint16_t address);

  // The raw word, read without checks or stops (the core display, the one-pass fetch), and the
  // clearing of its changed bit only if the word is still the one that was drawn (a store made
  // meanwhile by another thread is never undone).
  uint16_t Word(uint16_t address) const {
    return core_[address].load(std::memory_order_relaxed);
  }
  bool ClearChanged(uint16_t address, uint16_t drawnWord) {
    return core_[address].compare_exchange_strong(drawnWord, drawnWord & ~CoreChar::Changed,
                                                  std::memory_order_relaxed);
  }

  // Storage-check settings.
  TCheckSetting<bool> UninitializedCheck{*this, &TCoreStorage::UninitializedCheckChanged};
  TCheckSetting<uint16_t> ReadStopAddress{*this, &TCoreStorage::ReadStopChanged};
  TCheckSetting<uint16_t> WriteStopAddress{*this, &TCoreStorage::WriteStopChanged};
  TShared<uint8_t> WriteStopValue;  // 0 = any value

  // The debugger's watch: reads and stores of a watched position take the careful way and tell
  // the observer.  Set while the processor is stopped; a change forgets the kept instructions.
  void SetObserver(ICoreObserver* observer) {
    observer_.store(observer);
  }
  void WatchPosition(uint16_t address, bool reads, bool stores) {
    SetTrap(address, Trap::WatchRead, reads);
    SetTrap(address, Trap::WatchWrite, stores);
  }
  void WatchChanged() {
    Decoded.ForgetAll();
  }
  // A debugger's breakpoint: the instruction here is never kept decoded, so its fetch takes the
  // slow way, which asks the debugger (the run's common case pays nothing for it).
  void SetBreakTrap(uint16_t address, bool on) {
    SetTrap(address, Trap::Break, on);
  }
  bool BreakTrap(uint16_t address) const {
    return (trap_[address].load(std::memory_order_relaxed) & Trap::Break) != 0;
  }

 private:
  template <typename T>
  friend class TCheckSetting;

  // Trap bits, one byte per address: why an access there must take the careful way.  The bits
  // may be set where nothing is to be checked any more (a setting changed while the processor
  // ran); the careful way then finds nothing and the access completes as any other.
  struct Trap {
    static constexpr uint8_t Outside = 1;       // address 0 and every address at or above the size
    static constexpr uint8_t ReadStop = 2;      // the core read stop address
    static constexpr uint8_t WriteStop = 4;     // the core write stop address
    static constexpr uint8_t Unwritten = 8;     // never written, and the check is on
    static constexpr uint8_t Instruction = 16;  // part of a kept decoded instruction
    static constexpr uint8_t WatchRead = 32;    // the debugger watches its reads
    static constexpr uint8_t WatchWrite = 64;   // the debugger watches its stores
    static constexpr uint8_t Break = 128;       // a debugger's breakpoint (no access trap)
    static constexpr uint8_t Read = Outside | ReadStop | Unwritten | WatchRead;
    static constexpr uint8_t Write = Outside | WriteStop | Unwritten | Instruction | WatchWrite;
  };
  // Every 16-bit address has its word and its trap byte, so no access needs a bounds test.
  static constexpr size_t AddressCount = 65536;

  static uint16_t MarkedWord(uint16_t word, bool on) {
    return static_cast<uint16_t>((word & ~CoreChar::WordMark) | (on ? CoreChar::WordMark : 0) |
                                 CoreChar::Changed | CoreChar::Written);
  }
  static uint16_t WordWithMark(bool wordMark, uint8_t code) {
    return static_cast<uint16_t>((wordMark ? CoreChar::WordMark : 0) | CoreChar::Changed |
                                 CoreChar::Written | (code & CoreChar::CodeMask));
  }

  template <typename T>
  T Traps(uint16_t low) const {
    T traps;
    std::memcpy(&traps, reinterpret_cast<const char*>(trap_.data()) + low, sizeof traps);
    return traps;
  }
  uint16_t ReadTrapped(uint16_t address);
  uint16_t ReadAddressCarefully(uint16_t unitsAddress);
  void StoreTrapped(uint16_t address, uint8_t code);
  void SetWordMarkTrapped(uint16_t address, bool on);
  void StoreWMTrapped(uint16_t address, bool wordMark, uint8_t code);
  // A position now written: no longer unwritten, and no kept instruction holds what it was.
  void Written(uint16_t address) {
    const uint8_t trap = trap_[address].load(std::memory_order_relaxed);
    if (trap & Trap::Unwritten) {
      trap_[address].fetch_and(static_cast<uint8_t>(~Trap::Unwritten), std::memory_order_relaxed);
    }
    if (trap & Trap::Instruction) Decoded.Forget(address);
  }
  void SetTrap(uint16_t address, uint8_t bit, bool on) {
    if (on) {
      trap_[address].fetch_or(bit, std::memory_order_relaxed);
    } else {
      trap_[address].fetch_and(static_cast<uint8_t>(~bit), std::memory_order_relaxed);
    }
  }
  void TrapUnwritten();
  void UninitializedCheckChanged(bool before, bool now);
  void ReadStopChanged(uint16_t before, uint16_t now);
  void WriteStopChanged(uint16_t before, uint16_t now);

  [[noreturn]] void InvalidAddress(uint16_t address) const;
  [[noreturn]] void UninitializedRead(uint16_t address) const;
  [[noreturn]] void InvalidValue(uint8_t code) const;
  void ReadStop(uint16_t address);
  void WriteStop(uint16_t address, uint8_t code);

  void Watched(uint16_t address, uint16_t before) {
    if (trap_[address].load(std::memory_order_relaxed) & Trap::WatchWrite) {
      if (ICoreObserver* observer = observer_.load(std::memory_order_relaxed))
        observer->CoreWritten(address, before);
    }
  }

  TRegisters& registers_;
  std::atomic<ICoreObserver*> observer_{nullptr};
  TShared<uint16_t> size_{8000};
  std::array<std::atomic<uint16_t>, AddressCount> core_;
  std::array<std::atomic<uint8_t>, AddressCount> trap_;
  static_assert(sizeof(std::atomic<uint16_t>) == 2 && sizeof(std::atomic<uint8_t>) == 1);
};

}  // namespace kestrel

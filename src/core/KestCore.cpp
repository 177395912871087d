#include "core/KestCore.h"

#include <algorithm>
#include <cstdio>

#include "core/KestDefs.h"

namespace kestrel {

namespace {

// Every code's display character and card character maps back to the code; the blank, which
// also stands at 15, 16 and 31, maps to 0.
constexpr std::array<uint8_t, 256> MakeCharToBcd() {
  std::array<uint8_t, 256> table{};
  for (int code = 0; code < 64; ++code) {
    table[static_cast<unsigned char>(InternalCharSet[code])] = static_cast<uint8_t>(code);
    table[static_cast<unsigned char>(BcdToCardChar(static_cast<uint8_t>(code)))] =
        static_cast<uint8_t>(code);
  }
  table[static_cast<unsigned char>(' ')] = 0;
  return table;
}
constexpr std::array<uint8_t, 256> CharToBcdTable = MakeCharToBcd();

// digitValue * scale for codes 1-9 and 0 for 0 and 10; zone z (1..3) adds z * zoneValue
// over a digit or blank/zero when `zoneValue` is not 0; anything else is -1.
constexpr std::array<int32_t, 64> MakeDecodeTable(int32_t scale, int32_t zoneValue) {
  std::array<int32_t, 64> table{};
  for (int code = 0; code < 64; ++code) {
    int zone = code >> 4;
    int numeric = code & 15;
    int32_t digit = numeric == 10 ? 0 : numeric;
    if (numeric > 10 || (zone != 0 && zoneValue == 0)) {
      table[code] = -1;
    } else {
      table[code] = digit * scale + zone * zoneValue;
    }
  }
  return table;
}

}  // namespace

const std::array<int32_t, 64> HundredsTable = MakeDecodeTable(100, 1000);
const std::array<int32_t, 64> TensTable = MakeDecodeTable(10, 0);
const std::array<int32_t, 64> UnitsTable = MakeDecodeTable(1, 4000);

uint8_t CharToBcd(char c) {
  return CharToBcdTable[static_cast<unsigned char>(c)];
}

std::string Addr5(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%05u", address);
  return text;
}

std::string Trim(std::string_view text, std::string_view blanks) {
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string Hex2(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

const char* StateText(CpuState state) {
  switch (state) {
    case CpuState::ReaderEmpty:
      return "Initial state - Reader empty";
    case CpuState::CardLoaded:
      return "Initial state - Card loaded";
    case CpuState::TapeRecordLoaded:
      return "Initial state - Tape record loaded";
    case CpuState::ProgramHalt:
      return "Program Halt";
    case CpuState::OperatorHalt:
      return "Halted by Operator";
    case CpuState::StopCondition:
      return "Halted by Stop Condition";
    case CpuState::Running:
      return "Running";
    case CpuState::SingleStep:
      return "Running - Single Step";
    case CpuState::MachineCheck:
      return "Machine Check";
  }
  return "???";
}

// ---- Core storage ---------------------------------------------------------------------------

TCoreStorage::TCoreStorage(TRegisters& registers)
    : Decoded(registers.Attention), registers_(registers) {
  for (auto& cell : core_)
    cell.store(CoreChar::Cleared, std::memory_order_relaxed);
  const uint16_t size = size_;
  for (size_t a = 0; a < AddressCount; ++a) {
    trap_[a].store(a == 0 || a >= size ? Trap::Outside : 0, std::memory_order_relaxed);
  }
}

void TCoreStorage::ClearCore() {
  uint16_t size = size_;
  for (uint16_t a = 0; a < size; ++a)
    core_[a].store(CoreChar::Cleared, std::memory_order_relaxed);
  Decoded.ForgetAll();
  for (size_t a = 0; a < AddressCount; ++a) {
    if (trap_[a].load(std::memory_order_relaxed) & Trap::Instruction) {
      trap_[a].fetch_and(static_cast<uint8_t>(~Trap::Instruction), std::memory_order_relaxed);
    }
  }
  if (UninitializedCheck) TrapUnwritten();
}

bool TCoreStorage::SetCoreSize(uint16_t size) {
  if (size == 0 || size > MaxSize) return false;
  if (size == size_) return true;
  const uint16_t before = size_;
  size_ = size;
  for (uint16_t a = 1; a < std::max(before, size); ++a)
    SetTrap(a, Trap::Outside, a >= size);
  ClearCore();
  return true;
}

// Every position not yet written gets its trap bit.
void TCoreStorage::TrapUnwritten() {
  for (uint16_t a = 0; a < MaxSize; ++a) {
    if (!(core_[a].load(std::memory_order_relaxed) & CoreChar::Written)) {
      SetTrap(a, Trap::Unwritten, true);
    }
  }
}

// A kept instruction was fetched without the checks these settings bring.
void TCoreStorage::UninitializedCheckChanged(bool, bool now) {
  Decoded.ForgetAll();
  if (now) {
    TrapUnwritten();
  } else {
    for (uint16_t a = 0; a < MaxSize; ++a)
      SetTrap(a, Trap::Unwritten, false);
  }
}

void TCoreStorage::ReadStopChanged(uint16_t before, uint16_t now) {
  Decoded.ForgetAll();
  SetTrap(before, Trap::ReadStop, false);
  SetTrap(now, Trap::ReadStop, true);
}

void TCoreStorage::WriteStopChanged(uint16_t before, uint16_t now) {
  SetTrap(before, Trap::WriteStop, false);
  SetTrap(now, Trap::WriteStop, true);
}

// The careful ways: the tests of every access, in their order.

uint16_t TCoreStorage::ReadTrapped(uint16_t address) {
  CheckAddress(address);
  uint16_t word = core_[address].load(std::memory_order_relaxed);
  if (!(word & CoreChar::Written) && UninitializedCheck) UninitializedRead(address);
  if (address == ReadStopAddress) ReadStop(address);
  if (trap_[address].load(std::memory_order_relaxed) & Trap::WatchRead) {
    if (ICoreObserver* observer = observer_.load(std::memory_order_relaxed))
      observer->CoreRead(address);
  }
  return word;
}

void TCoreStorage::StoreTrapped(uint16_t address, uint8_t code) {
  CheckAddress(address);
  if (code >= 64) InvalidValue(code);
  std::atomic<uint16_t>& cell = core_[address];
  uint16_t word = cell.load(std::memory_order_relaxed);
  cell.store((word & CoreChar::WordMark) | CoreChar::Changed | CoreChar::Written | code,
             std::memory_order_relaxed);
  Written(address);
  Watched(address, word);
  if (address == WriteStopAddress) WriteStop(address, code);
}

void TCoreStorage::SetWordMarkTrapped(uint16_t address, bool on) {
  CheckAddress(address);
  std::atomic<uint16_t>& cell = core_[address];
  uint16_t word = cell.load(std::memory_order_relaxed);
  cell.store(MarkedWord(word, on), std::memory_order_relaxed);
  Written(address);
  Watched(address, word);
  if (address == WriteStopAddress && WriteStopValue == 0) {
    registers_.RequestCoreStop("Storage at " + Addr5(address) + " WordMark altered by ");
  }
}

void TCoreStorage::StoreWMTrapped(uint16_t address, bool wordMark, uint8_t code) {
  CheckAddress(address);
  const uint16_t before =
      core_[address].exchange(WordWithMark(wordMark, code), std::memory_order_relaxed);
  Written(address);
  Watched(address, before);
  if (address == WriteStopAddress) WriteStop(address, code);
}

void TCoreStorage::InvalidAddress(uint16_t address) const {
  RaiseProcessCheck("Invalid Address: " + std::to_string(address) + " used by ",
                    registers_.InstrAddr);
}

void TCoreStorage::UninitializedRead(uint16_t address) const {
  RaiseProcessCheck("Read from Uninitialized Core at: ", address);
}

void TCoreStorage::InvalidValue(uint8_t code) const {
  RaiseProcessCheck("Store of invalid char. value: $" + Hex2(code) + " by ", registers_.InstrAddr);
}

void TCoreStorage::ReadStop(uint16_t address) {
  registers_.RequestCoreStop("Storage at " + Addr5(address) + " accessed");
}

void TCoreStorage::WriteStop(uint16_t address, uint8_t code) {
  uint8_t value = WriteStopValue;
  if (value != 0 && (code & 63) != value) return;
  registers_.RequestCoreStop("Storage at " + Addr5(address) + " altered to $" + Hex2(code) +
                             " by ");
}

uint16_t TCoreStorage::ReadAddressCarefully(uint16_t unitsAddress) {
  uint8_t hundreds = ReadChar(static_cast<uint16_t>(unitsAddress - 2));
  uint8_t tens = ReadChar(static_cast<uint16_t>(unitsAddress - 1));
  uint8_t units = ReadChar(unitsAddress);
  int32_t h = HundredsTable[hundreds];
  int32_t t = TensTable[tens];
  int32_t u = UnitsTable[units];
  if (h < 0 || t < 0 || u < 0) {
    std::string chars{BcdToChar(hundreds), BcdToChar(tens), BcdToChar(units)};
    RaiseProcessCheck(
        "Bad address (" + chars + ") read from " + std::to_string(unitsAddress) + " by ",
        registers_.InstrAddr);
  }
  return static_cast<uint16_t>(h + t + u);
}

namespace {

// The three digit codes of 0 to 999, hundreds in the low byte, then tens, then units (0 written
// as the zero character), so that storing an address divides once, by 1000.
constexpr std::array<uint32_t, 1000> MakeDigitCodes() {
  std::array<uint32_t, 1000> table{};
  auto digit = [](uint32_t d) { return d == 0 ? uint32_t{Bcd::Zero} : d; };
  for (uint32_t low = 0; low < 1000; ++low)
    table[low] = digit(low / 100) | digit(low / 10 % 10) << 8 | digit(low % 10) << 16;
  return table;
}
constexpr std::array<uint32_t, 1000> DigitCodes = MakeDigitCodes();

}  // namespace

void TCoreStorage::StoreAddress(uint16_t unitsAddress, uint32_t value) {
  if (value >= 16000) value -= 16000;
  // The thousands: 1000 to 3000 in the hundreds' zone, the groups of 4000 in the units' zone.
  const uint32_t thousands = value / 1000;
  const uint32_t codes = DigitCodes[value - 1000 * thousands];
  const uint8_t hundreds = static_cast<uint8_t>((codes & 0xFF) + 16 * (thousands % 4));
  const uint8_t tens = static_cast<uint8_t>(codes >> 8 & 0xFF);
  const uint8_t units = static_cast<uint8_t>((codes >> 16) + 16 * (thousands / 4));
  const uint16_t tensAddress = static_cast<uint16_t>(unitsAddress - 1);
  const uint16_t hundredsAddress = static_cast<uint16_t>(unitsAddress - 2);
  if (PlainToStore(hundredsAddress) && PlainToStore(tensAddress) && PlainToStore(unitsAddress)) {
    PutWord(hundredsAddress, StoredWord(Word(hundredsAddress), hundreds));
    PutWord(tensAddress, StoredWord(Word(tensAddress), tens));
    PutWord(unitsAddress, StoredWord(Word(unitsAddress), units));
    return;
  }
  StoreChar(hundredsAddress, hundreds);
  StoreChar(tensAddress, tens);
  StoreChar(unitsAddress, units);
}

// Both read downward and show the characters high-order first: collected as read, then turned
// round, so a field as long as core costs one pass and not one move per character.
std::string TCoreStorage::FieldText(uint16_t address, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += BcdToChar(ReadCharWM(address).Code);
    if (address == 1) break;
    --address;
  }
  std::reverse(text.begin(), text.end());
  return text;
}

std::string TCoreStorage::WordText(uint16_t address) {
  std::string text;
  while (true) {
    TCharWM c = ReadCharWM(address);
    text += BcdToChar(c.Code);
    if (c.WordMark || address == 1) break;
    --address;
  }
  std::reverse(text.begin(), text.end());
  return text;
}

}  // namespace kestrel

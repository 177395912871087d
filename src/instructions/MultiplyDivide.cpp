// The multiply/divide feature: M (@) and D (%), decimal on fields in core, the sign in the zone of
// each field's units position (only the B zone alone means minus).
//
// Multiply: the multiplicand is the A-field; the multiplier stands in the high-order positions of
// the B-field (the product field), which ends at its word mark and is as long as multiplicand and
// multiplier together plus one.  The product replaces both in the B-field.
//
// Divide: the divisor is the A-field.  The dividend has been placed with a zero and add into a
// field that has one more zero in front of it than the divisor has digits; the B-address is the
// dividend's high-order digit, and its units position is the first to carry a zone (its sign).
// The quotient develops in the high-order positions of that field, one digit left of each partial
// dividend, and the remainder is left in its low-order positions (as long as the divisor plus
// one).
#include <algorithm>
#include <string>

#include "core/KestProc.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

constexpr uint8_t PlusZone = Bcd::ZoneMask;  // A and B: plus, as the machine writes it

uint8_t DigitCode(int digit) {
  return digit == 0 ? Bcd::Zero : static_cast<uint8_t>(digit);
}

bool Negative(uint8_t code) {
  return (code & Bcd::ZoneMask) == Bcd::BZone;
}

// The address n positions away; off either end of the address range it becomes 0 or the
// largest value, which the address check refuses.
uint16_t Offset(uint16_t address, int n) {
  return static_cast<uint16_t>(std::clamp(int{address} + n, 0, 0xFFFF));
}

// The length of the field whose units position is `units`: up to its word mark.
int FieldLength(TCoreStorage& core, uint16_t units) {
  int length = 1;
  while (!core.ReadCharWM(Offset(units, 1 - length)).WordMark)
    ++length;
  return length;
}

std::string Brackets(const TCPUThread& cpu, const char* between) {
  return Addr5(cpu.R.AAR) + "] " + between + " [" + Addr5(cpu.R.BAR) + "]";
}

}  // namespace

// ---- Multiply ----

// M and D: "[A-field] into [B-field]".
void TraceMultiplyDivide(TCPUThread& cpu) {
  if (cpu.Tracing()) cpu.TraceAppend(Brackets(cpu, "into"));
}

void ExecMultiply(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const uint16_t a = r.AAR;
  const uint16_t b = r.BAR;
  const int multiplicandLength = FieldLength(core, a);
  const int productLength = FieldLength(core, b);
  const int multiplierLength = productLength - multiplicandLength - 1;
  // Below this there is no place for a multiplier digit; the machine would run past the word mark.
  if (multiplierLength < 1) RaiseProcessCheck("Product field too short at ", r.InstrAddr);
  const uint16_t multiplierUnits = Offset(b, -multiplicandLength - 1);
  const bool negative = Negative(core.ReadChar(a)) != Negative(core.ReadChar(multiplierUnits));
  std::string detail;
  if (cpu.TracingDetails()) {
    detail = "D          " + core.FieldText(a, multiplicandLength) + " x " +
             core.FieldText(multiplierUnits, multiplierLength) + " = ";
  }

  // The positions right of the multiplier start at zero.  Each multiplier digit, from the units
  // one leftward, adds that many multiplicands into the product one place further left, and its
  // own position becomes the product's next high-order position.
  for (int i = 0; i <= multiplicandLength; ++i)
    core.StoreChar(Offset(b, -i), Bcd::Zero);
  for (int j = 0; j < multiplierLength; ++j) {
    const uint16_t at = Offset(multiplierUnits, -j);
    const int m = AdderDigit(core.ReadChar(at));
    core.StoreChar(at, Bcd::Zero);
    if (m == 0) continue;
    int carry = 0;
    for (int i = 0; i <= multiplicandLength; ++i) {
      const uint16_t p = Offset(b, -j - i);
      const int digit = i < multiplicandLength ? AdderDigit(core.ReadChar(Offset(a, -i))) : 0;
      const int sum = AdderDigit(core.ReadChar(p)) + m * digit + carry;
      core.StoreChar(p, DigitCode(sum % 10));
      carry = sum / 10;
    }
  }
  const uint8_t units = core.ReadChar(b);
  core.StoreChar(
      b, static_cast<uint8_t>((units & Bcd::NumericMask) | (negative ? Bcd::BZone : PlusZone)));
  r.AAR = Offset(a, -multiplicandLength);
  r.BAR = Offset(b, -productLength);
  if (!detail.empty()) cpu.TraceAppend(detail + core.FieldText(b, productLength));
}

// ---- Divide ----

namespace {

// Compares the `length` positions ending at `units` with the divisor (`divisorLength` positions
// ending at `divisor`, zeros in front of it): negative, zero or positive as the part is less,
// equal or greater.
int CompareWithDivisor(TCoreStorage& core, uint16_t units, int length, uint16_t divisor,
                       int divisorLength) {
  for (int i = length - 1; i >= 0; --i) {
    const int p = AdderDigit(core.ReadChar(Offset(units, -i)));
    const int d = i < divisorLength ? AdderDigit(core.ReadChar(Offset(divisor, -i))) : 0;
    if (p != d) return p - d;
  }
  return 0;
}

// Partial dividend minus divisor, in place; each position keeps its zone (the units position
// of the dividend its sign).
void SubtractDivisor(TCoreStorage& core, uint16_t units, int length, uint16_t divisor,
                     int divisorLength) {
  int borrow = 0;
  for (int i = 0; i < length; ++i) {
    const uint16_t at = Offset(units, -i);
    const uint8_t code = core.ReadChar(at);
    const int d = i < divisorLength ? AdderDigit(core.ReadChar(Offset(divisor, -i))) : 0;
    int value = AdderDigit(code) - d - borrow;
    borrow = value < 0 ? 1 : 0;
    value += 10 * borrow;
    core.StoreChar(at, static_cast<uint8_t>((code & Bcd::ZoneMask) | DigitCode(value)));
  }
}

}  // namespace

void ExecDivide(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const uint16_t a = r.AAR;
  const uint16_t first = r.BAR;
  const int divisorLength = FieldLength(core, a);
  const bool divisorNegative = Negative(core.ReadChar(a));
  const int partialLength = divisorLength + 1;

  // One quotient digit per dividend digit: the partial dividend ends at `units` and the digit is
  // written left of it.  The position with a zone is the dividend's units position and the last.
  uint16_t units = first;
  uint16_t quotient = Offset(units, -partialLength);
  bool overflow = false;
  while (true) {
    const uint8_t zone = core.ReadChar(units) & Bcd::ZoneMask;
    const bool last = zone != 0;
    quotient = Offset(units, -partialLength);
    int digit = 0;
    // Ten or more subtractions would not fit one digit: the partial's high-order positions
    // alone hold the divisor (always so for a divisor of zero).
    overflow = CompareWithDivisor(core, Offset(units, -1), divisorLength, a, divisorLength) >= 0;
    if (!overflow) {
      while (CompareWithDivisor(core, units, partialLength, a, divisorLength) >= 0) {
        // Separate fields take at most nine subtractions (the overflow test above sees to
        // that); a tenth means the subtraction changes the divisor too, and a divisor that has
        // become zero is subtracted forever, which no Stop can end: a process check instead.
        if (digit == 9) {
          RaiseProcessCheck("Divide cannot end: the divisor overlaps the dividend at ",
                            r.InstrAddr);
        }
        SubtractDivisor(core, units, partialLength, a, divisorLength);
        ++digit;
      }
    }
    uint8_t code = DigitCode(digit);
    if (last) {
      code |= (zone == Bcd::BZone) != divisorNegative ? Bcd::BZone : PlusZone;
    }
    core.StoreChar(quotient, code);
    if (overflow) {
      r.OverflowIndicator = true;
      break;
    }
    if (last) break;
    units = Offset(units, 1);
  }
  r.AAR = Offset(a, -divisorLength);
  r.BAR = Offset(quotient, -1);
  if (cpu.TracingDetails()) {
    const int digits = quotient - Offset(first, -partialLength) + 1;
    if (overflow) {
      cpu.TraceAppend("D          Divide overflow");
    } else {
      cpu.TraceAppend("D          Quotient=" + core.FieldText(quotient, digits) +
                      " Remainder=" + core.FieldText(units, partialLength));
    }
  }
}

}  // namespace kestrel

// Decimal arithmetic on fields in core: A, S, ZA and ZS.  Fields are addressed by their units
// position and run leftward; the B-field ends at its word mark, the A-field at its own.  The sign
// sits in the zone of the units position: only the B zone alone means minus.
#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/KestProc.h"
#include "instructions/Handlers.h"

namespace kestrel {

namespace {

bool Negative(uint8_t code) {
  return (code & Bcd::ZoneMask) == Bcd::BZone;
}

// The standard sign: minus stays minus (B), anything else becomes plus (AB).
uint8_t StandardSign(uint8_t zone) {
  return zone == Bcd::BZone ? Bcd::BZone : Bcd::ZoneMask;
}

// Minus becomes plus (AB), anything else becomes minus.
uint8_t InvertedSign(uint8_t zone) {
  return zone == Bcd::BZone ? Bcd::ZoneMask : Bcd::BZone;
}

// The adder's digit of every code, and the nine's complement of it (what a complement addition
// adds for the A character).
constexpr std::array<uint8_t, 64> MakeDigitTable(bool complement) {
  std::array<uint8_t, 64> table{};
  for (int code = 0; code < 64; ++code) {
    const int digit = AdderDigit(static_cast<uint8_t>(code));
    table[code] = static_cast<uint8_t>(complement ? 9 - digit : digit);
  }
  return table;
}
constexpr std::array<uint8_t, 64> DigitOf = MakeDigitTable(false);
constexpr std::array<uint8_t, 64> ComplementOf = MakeDigitTable(true);

// One decimal position of the adder: two digits and a carry make a sum of 0 to 19, whose units
// digit is the result (0 written as the zero character, never as a blank) and whose tens digit
// is the carry out.  The carry is computed, not looked up, since each position waits for it.
constexpr std::array<uint8_t, 20> MakeSumTable() {
  std::array<uint8_t, 20> table{};
  for (int sum = 0; sum < 20; ++sum) {
    const int digit = sum % 10;
    table[sum] = static_cast<uint8_t>(digit == 0 ? Bcd::Zero : digit);
  }
  return table;
}
constexpr std::array<uint8_t, 20> SumCode = MakeSumTable();
// The same as the raw word a digits-only position is stored as (no zone, no word mark).
constexpr std::array<uint16_t, 20> MakeSumWordTable() {
  std::array<uint16_t, 20> table{};
  for (int sum = 0; sum < 20; ++sum)
    table[sum] = static_cast<uint16_t>(CoreChar::Changed | CoreChar::Written | SumCode[sum]);
  return table;
}
constexpr std::array<uint16_t, 20> SumWord = MakeSumWordTable();

// Four digits-only positions in one host word each for A and B (`TCoreStorage::Words4`: the
// highest-order position in the low 16 bits, the units-most in the high ones), added as the
// loop would add them one by one with the carry in; `complement` adds the nine's complement of
// the A digits.  The words of the sum with the carry out, or false, with nothing changed, when a
// position has a word mark or a numeric part above 10 (those go one by one).
constexpr uint64_t Lanes(unsigned value) {
  return TCoreStorage::Lanes(value);
}
template <bool Complement>
inline bool AddFour(uint64_t aWords, uint64_t bWords, unsigned& carry, uint64_t& sumWords) {
  if ((aWords | bWords) & Lanes(CoreChar::WordMark)) return false;
  const uint64_t an = aWords & Lanes(Bcd::NumericMask);
  const uint64_t bn = bWords & Lanes(Bcd::NumericMask);
  if (((an + Lanes(5)) | (bn + Lanes(5))) & Lanes(16)) return false;
  // The adder's digits are the numeric parts with the zero character (10) counting 0; each
  // lane's two digits summed (0 to 18), no carry yet.
  const uint64_t aTens = (an + Lanes(6)) >> 4 & Lanes(1);
  const uint64_t bTens = (bn + Lanes(6)) >> 4 & Lanes(1);
  const uint64_t sums =
      Complement ? Lanes(9) + bn - an + (aTens - bTens) * 10 : an + bn - (aTens + bTens) * 10;
  // Byte-reversed, the units-most lane comes lowest with its sum in the lane's high byte.  Each
  // sum is biased by 246 with ones between it and the next lane's sum, so a decimal carry out
  // of a position (sum and carry 10 or more) runs into the next one as a binary carry and
  // leaves the sum less 10; a position without one keeps the bias, whose top four bits say so.
  constexpr uint64_t Bias = 0xF6FF'F6FF'F6FF'F600ull;
  const uint64_t total = __builtin_bswap64(sums) + Bias + (uint64_t{carry} << 8);
  const uint64_t noCarry = total >> 12 & Lanes(1);
  carry = static_cast<unsigned>(1 - (noCarry >> 48));
  const uint64_t digits = (total & Lanes(0x0F00)) - (noCarry << 8) * 6;
  // Back in core order, each digit in its lane's low bits, a 0 stored as the zero character.
  uint64_t codes = __builtin_bswap64(digits);
  const uint64_t nonZero = (codes + Lanes(15)) >> 4 & Lanes(1);
  codes += (Lanes(1) - nonZero) * Bcd::Zero;
  sumWords = codes | Lanes(CoreChar::Changed | CoreChar::Written);
  return true;
}

// Digits-only positions four at a time from (aar, bar) down, while the four positions of both
// fields are untrapped, hold no word mark and do not overlap with A one to three positions above
// B (A would read what the group stores).  Gives the positions done with the registers and the
// carry after them.  A function of its own, taking and giving values, so that neither its
// constants nor the addresses of the loop's variables crowd the loop of one position at a time.
struct TGroups {
  uint16_t AAR;
  uint16_t BAR;
  unsigned Carry;
  int Done;
};
[[gnu::noinline]] TGroups AddGroups(TCoreStorage& core, uint16_t aar, uint16_t bar, unsigned carry,
                                    bool trueAdd) {
  TGroups g{aar, bar, carry, 0};
  if (static_cast<uint16_t>(aar - bar - 1) < 3) return g;
  while (g.AAR >= 4 && g.BAR >= 4 && core.Plain4(static_cast<uint16_t>(g.AAR - 3)) &&
         core.Plain4ToStore(static_cast<uint16_t>(g.BAR - 3))) {
    const uint64_t aWords = core.Words4(static_cast<uint16_t>(g.AAR - 3));
    const uint64_t bWords = core.Words4(static_cast<uint16_t>(g.BAR - 3));
    uint64_t sumWords;
    if (!(trueAdd ? AddFour<false>(aWords, bWords, g.Carry, sumWords)
                  : AddFour<true>(aWords, bWords, g.Carry, sumWords)))
      break;
    core.PutWords4(static_cast<uint16_t>(g.BAR - 3), sumWords);
    g.Done += 4;
    g.AAR = static_cast<uint16_t>(g.AAR - 4);
    g.BAR = static_cast<uint16_t>(g.BAR - 4);
  }
  return g;
}

std::string Reversed(std::string text) {
  std::reverse(text.begin(), text.end());
  return text;
}

// The characters an add or subtract met and wrote, units position first, for its detail line.
struct TAddDetail {
  std::string Header;
  std::string BChars;
  std::string AChars;
  std::string Result;
  std::string FirstPass;
};

// Add and Subtract.  The effective signs decide between a true addition and a complement
// addition.  A complement addition adds the nine's complement of the A-field with a carry of 1
// into the units position; ending without a carry, it produced the complement of the result,
// which a second pass turns back the same way.  A zero A-field complements to a carry, so the
// B-field stands (with its sign made standard).
template <bool Details>
[[gnu::noinline]] void AddOrSubtract(TCPUThread& cpu, bool subtract) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  std::unique_ptr<TAddDetail> detail;  // only while details are traced
  if (Details) {
    detail = std::make_unique<TAddDetail>();
    for (unsigned value : {unsigned{r.InstrAddr}, unsigned{aar}, unsigned{bar}}) {
      detail->Header += ' ';
      detail->Header += std::to_string(value);
    }
    detail->Header += ' ';
  }

  bool trueAdd = !subtract;
  if (Negative(core.ReadChar(aar))) trueAdd = !trueAdd;
  if (Negative(core.ReadChar(bar))) trueAdd = !trueAdd;
  const std::array<uint8_t, 64>& aDigitOf = trueAdd ? DigitOf : ComplementOf;

  // AAR and BAR live in `aar` and `bar` while the fields run; they are stored when the
  // instruction ends or where a check stops it, so the registers are the same either way.
  int i = 0;
  unsigned carry = trueAdd ? 0 : 1;
  bool recomplement = false;
  bool aExhausted = false;
  bool ended = false;  // the B-field's word mark is done
  if (!Details && core.PlainPair(aar, bar)) {
    // Untraced, positions without trap bits are added raw, the field's parts in turn with the
    // state in registers; the careful loop below goes on from the first position with one.
    // The units position: B's sign stays, made standard by a complement addition; a carry out
    // of a one-position field is lost.
    const uint16_t aUnits = core.Word(aar);
    uint16_t bWord = core.Word(bar);
    {
      const uint8_t bCode = static_cast<uint8_t>(bWord & CoreChar::CodeMask);
      const unsigned sum = aDigitOf[aUnits & CoreChar::CodeMask] + DigitOf[bCode] + carry;
      carry = sum >= 10 ? 1 : 0;
      uint8_t zone = bCode & Bcd::ZoneMask;
      if (!trueAdd) zone = StandardSign(zone);
      core.PutWord(bar, TCoreStorage::StoredWord(bWord, static_cast<uint8_t>(zone | SumCode[sum])));
    }
    i = 1;
    --aar;
    --bar;
    aExhausted = (aUnits & CoreChar::WordMark) != 0;
    ended = (bWord & CoreChar::WordMark) != 0;
    bool plain = !ended;
    // Past the units position and short of the B-field's word mark a position is digits only,
    // with no zone to carry over: first while the A-field lasts, four at a time where the first
    // group would be done (a raw look at its words, which decides only the way taken)...
    if (TCoreStorage::WideAccess && plain && !aExhausted && aar >= 4 && bar >= 4 &&
        !((core.Words4(static_cast<uint16_t>(aar - 3)) |
           core.Words4(static_cast<uint16_t>(bar - 3))) &
          Lanes(CoreChar::WordMark))) {
      const TGroups g = AddGroups(core, aar, bar, carry, trueAdd);
      aar = g.AAR;
      bar = g.BAR;
      carry = g.Carry;
      i += g.Done;
    }
    while (plain && !aExhausted) {
      if (!core.PlainPair(aar, bar)) {
        plain = false;
        break;
      }
      bWord = core.Word(bar);
      if (bWord & CoreChar::WordMark) break;
      const uint16_t aWord = core.Word(aar);
      const unsigned sum =
          aDigitOf[aWord & CoreChar::CodeMask] + DigitOf[bWord & CoreChar::CodeMask] + carry;
      carry = sum >= 10 ? 1 : 0;
      core.PutWord(bar, SumWord[sum]);
      ++i;
      --aar;
      --bar;
      aExhausted = (aWord & CoreChar::WordMark) != 0;
    }
    // ... then with the A-field's digits zeros.  A true add keeps the B character's zone there
    // (a program steps an address with a zone over its hundreds digit inside a longer field); a
    // complement add leaves digits only.
    if (plain && aExhausted) {
      const uint16_t keptZone = trueAdd ? Bcd::ZoneMask : 0;
      const unsigned aDigit = aDigitOf[Bcd::Blank];
      while (true) {
        if (!core.PlainToStore(bar)) {
          plain = false;
          break;
        }
        bWord = core.Word(bar);
        if (bWord & CoreChar::WordMark) break;
        const unsigned sum = aDigit + DigitOf[bWord & CoreChar::CodeMask] + carry;
        carry = sum >= 10 ? 1 : 0;
        core.PutWord(bar, static_cast<uint16_t>(SumWord[sum] | (bWord & keptZone)));
        ++i;
        --bar;
      }
    }
    if (plain) {
      // The B-field's high-order position (its word read and its positions untrapped): a true
      // addition adds the zones too.
      const uint16_t aWord = aExhausted ? uint16_t{Bcd::Blank} : core.Word(aar);
      const uint8_t aCode = static_cast<uint8_t>(aWord & CoreChar::CodeMask);
      const uint8_t bCode = static_cast<uint8_t>(bWord & CoreChar::CodeMask);
      ++i;
      const unsigned sum = aDigitOf[aCode] + DigitOf[bCode] + carry;
      carry = sum >= 10 ? 1 : 0;
      uint8_t zone = 0;
      if (trueAdd) {
        zone = static_cast<uint8_t>(
            ((bCode & Bcd::ZoneMask) + (aCode & Bcd::ZoneMask) + Bcd::AZone * carry) &
            Bcd::ZoneMask);
        if (carry) r.OverflowIndicator = true;
      }
      core.PutWord(bar, TCoreStorage::StoredWord(bWord, static_cast<uint8_t>(zone | SumCode[sum])));
      if (!aExhausted) {
        --aar;
        aExhausted = (aWord & CoreChar::WordMark) != 0;
      }
      --bar;
      ended = true;
    }
  }
  try {
    while (!ended) {
      ++i;
      TCharWM a{Bcd::Blank, false};
      if (!aExhausted) a = core.ReadCharWM(aar);
      TCharWM b = core.ReadCharWM(bar);
      const unsigned sum = aDigitOf[a.Code] + DigitOf[b.Code] + carry;
      carry = sum >= 10 ? 1 : 0;

      uint8_t zone = b.Code & Bcd::ZoneMask;
      if (trueAdd) {
        if (i > 1 && b.WordMark) {
          // The high-order position adds zones too: the A character's zone and the carry, in
          // steps of 16 (none, A, B, AB).  Programs count thousands in address zones this way.
          zone = static_cast<uint8_t>((zone + (a.Code & Bcd::ZoneMask) + Bcd::AZone * carry) &
                                      Bcd::ZoneMask);
          if (carry) r.OverflowIndicator = true;
        } else if (i > 1 && !aExhausted) {
          zone = 0;
        }
        // The units position keeps the B-field's sign, a position past the A-field its zone; a
        // carry out of a one-position field is lost.
      } else {
        zone = i == 1 ? StandardSign(zone) : 0;
      }
      const uint8_t result = static_cast<uint8_t>(zone | SumCode[sum]);
      core.StoreChar(bar, result);
      if (detail) {
        detail->BChars += BcdToChar(b.Code);
        detail->AChars += aExhausted ? ' ' : BcdToChar(a.Code);
        detail->Result += BcdToChar(result);
      }
      // The A-field is read up to its word mark; from then on its digits are zeros.  AAR steps
      // past the word mark position too, so a chained instruction finds the next field.
      if (!aExhausted) {
        --aar;
        aExhausted = a.WordMark;
      }
      --bar;
      if (b.WordMark) break;
    }

    recomplement = !trueAdd && carry == 0;
    if (recomplement) {
      bar = static_cast<uint16_t>(bar + i);
      carry = 1;
      if (detail) {
        detail->FirstPass = std::move(detail->Result);
        detail->Result.clear();
      }
      for (int k = 1; k <= i; ++k) {
        const uint8_t stored = core.ReadChar(bar);
        const unsigned sum = ComplementOf[stored] + carry;
        carry = sum >= 10 ? 1 : 0;
        uint8_t zone = stored & Bcd::ZoneMask;
        if (k == 1) zone = InvertedSign(zone);
        const uint8_t result = static_cast<uint8_t>(zone | SumCode[sum]);
        core.StoreChar(bar, result);
        if (detail) detail->Result += BcdToChar(result);
        --bar;
      }
    }
  } catch (...) {
    r.AAR = aar;
    r.BAR = bar;
    throw;
  }
  r.AAR = aar;
  r.BAR = bar;

  if (detail) {
    std::string line = detail->Header + (trueAdd ? "True " : "Comp ") + Reversed(detail->BChars) +
                       (trueAdd ? "+" : "-") + Trim(Reversed(detail->AChars)) + "=" +
                       Reversed(detail->Result);
    if (recomplement) line += " <- " + Reversed(detail->FirstPass);
    cpu.TraceAppend(line);
  }
}

// A and S.  The loop without the detail line is a function of its own, so that nothing of the
// line's texts weighs on it.
void AddOrSubtract(TCPUThread& cpu, bool subtract) {
  if (cpu.TracingDetails()) {
    AddOrSubtract<true>(cpu, subtract);
  } else {
    AddOrSubtract<false>(cpu, subtract);
  }
}

// ZA and the two-field ZS: the A-field moves into the B-field as a number, zones removed; the
// units position takes the standard sign (AB plus, B minus), inverted for ZS.  Positions beyond
// the A-field's word mark receive zeros.
template <bool Details>
void ZeroAndMove(TCPUThread& cpu, bool subtract) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  const bool details = Details;
  uint16_t aar = r.AAR;
  uint16_t bar = r.BAR;
  bool aExhausted = false;
  // AAR and BAR live in locals while the fields run, stored at the end or where a check stops
  // them.  Untraced, positions without trap bits are read and stored raw by a loop of its own;
  // the careful loop goes on from the first position with one.
  int i = 0;
  bool ended = false;
  if (!details) {
    while ((aExhausted || core.Plain(aar)) && core.PlainToStore(bar)) {
      uint8_t code = Bcd::Zero;
      if (!aExhausted) {
        const uint16_t aWord = core.Word(aar);
        --aar;
        code = static_cast<uint8_t>(aWord & (i > 0 ? Bcd::NumericMask : CoreChar::CodeMask));
        aExhausted = (aWord & CoreChar::WordMark) != 0;
      }
      if (i == 0) {
        uint8_t zone = code & Bcd::ZoneMask;
        code = static_cast<uint8_t>((code & Bcd::NumericMask) |
                                    (subtract ? InvertedSign(zone) : StandardSign(zone)));
      }
      const uint16_t bWord = core.Word(bar);
      core.PutWord(bar, TCoreStorage::StoredWord(bWord, code));
      --bar;
      ++i;
      if (bWord & CoreChar::WordMark) {
        ended = true;
        break;
      }
    }
  }
  try {
    for (; !ended; ++i) {
      uint8_t code = Bcd::Zero;
      if (!aExhausted) {
        TCharWM a = core.ReadCharWM(aar);
        --aar;
        code = i > 0 ? static_cast<uint8_t>(a.Code & Bcd::NumericMask) : a.Code;
        aExhausted = a.WordMark;
      }
      if (i == 0) {
        uint8_t zone = code & Bcd::ZoneMask;
        code = static_cast<uint8_t>((code & Bcd::NumericMask) |
                                    (subtract ? InvertedSign(zone) : StandardSign(zone)));
      }
      const TCharWM b = core.ReadCharWM(bar);
      core.StoreChar(bar, code);
      --bar;
      if (details) {
        // All the pieces form one log line, flushed after the instruction.
        const char shown = BcdToChar(code);
        cpu.TraceAppend("D          => ");
        cpu.TraceAppend(std::string_view(&shown, 1));
      }
      if (b.WordMark) break;
    }
  } catch (...) {
    r.AAR = aar;
    r.BAR = bar;
    throw;
  }
  r.AAR = aar;
  r.BAR = bar;
}

void ZeroAndMove(TCPUThread& cpu, bool subtract) {
  if (cpu.TracingDetails()) {
    ZeroAndMove<true>(cpu, subtract);
  } else {
    ZeroAndMove<false>(cpu, subtract);
  }
}

// The one-field ZS: the sign of the units position is inverted, then AAR runs over the field to
// its word mark.
void NegateInPlace(TCPUThread& cpu) {
  TRegisters& r = cpu.R;
  TCoreStorage& core = cpu.Core;
  uint16_t aar = r.AAR;
  uint8_t units = core.ReadChar(aar);
  core.StoreChar(
      aar, static_cast<uint8_t>((units & Bcd::NumericMask) | InvertedSign(units & Bcd::ZoneMask)));
  while (true) {
    bool wordMark = core.ReadCharWM(aar).WordMark;
    r.AAR = --aar;
    if (wordMark) break;
  }
}

// The B-field as the trace shows it: a 4-character form works on its A-field in place.
uint16_t ShownBField(const TCPUThread& cpu) {
  return cpu.R.ILen == 4 ? cpu.R.AAR.Get() : cpu.R.BAR.Get();
}

}  // namespace

// ---- A and S ----

void TraceAdd(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  cpu.TraceAppend(Addr5(cpu.R.AAR) + "] to [" + Addr5(ShownBField(cpu)) + "]");
}

void ExecAdd(TCPUThread& cpu) {
  AddOrSubtract(cpu, false);
}

void TraceSubtract(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  cpu.TraceAppend(Addr5(cpu.R.AAR) + "] from [" + Addr5(ShownBField(cpu)) + "]");
}

void ExecSubtract(TCPUThread& cpu) {
  AddOrSubtract(cpu, true);
}

// ---- ZA and ZS ----

void TraceZeroAdd(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  cpu.TraceAppend(Addr5(cpu.R.AAR) + " to " + Addr5(cpu.R.BAR));
}

void ExecZeroAdd(TCPUThread& cpu) {
  ZeroAndMove(cpu, false);
}

void TraceZeroSubtract(TCPUThread& cpu) {
  if (!cpu.Tracing()) return;
  if (cpu.R.ILen == 7) {
    cpu.TraceAppend(Addr5(cpu.R.AAR) + " from " + Addr5(cpu.R.BAR));
  } else {
    cpu.TraceAppend(Addr5(cpu.R.AAR) + " from itself");
  }
}

void ExecZeroSubtract(TCPUThread& cpu) {
  if (cpu.R.ILen == 7) {
    ZeroAndMove(cpu, true);
  } else {
    NegateInPlace(cpu);
  }
}

}  // namespace kestrel

// Add, subtract, zero-and-add and zero-and-subtract: results, signs, the overflow zone, the
// registers left for chaining and the detail lines.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

std::string Op(char code, unsigned a, unsigned b) {
  return code + Addr(a) + Addr(b);
}
std::string Op(char code, unsigned a) {
  return code + Addr(a);
}

TEST(Arithmetic, TrueAddWithShorterAField) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 210, 220), "."});
  t.Field(210, "456");
  t.Field(220, "0123");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.Text(220, 4), "0579");
  EXPECT_TRUE(t.WordMarkAt(217));
  EXPECT_FALSE(t.R.OverflowIndicator);
  // AAR one below the A-field, BAR one below the B-field.
  EXPECT_EQ(t.R.AAR, 207);
  EXPECT_EQ(t.R.BAR, 216);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "I00500 A 7 A   Add [00210] to [00220]");
  EXPECT_EQ(lines[1], " 500 210 220 True 0123+456=0579");
  EXPECT_EQ(lines[2], "R          AAReg=00207  BAReg=00216  IAReg=00507");
}

TEST(Arithmetic, ResultZerosAreZeroCharactersAndSignsStay) {
  TTestMachine t;
  // Blanks count as zeros; the unsigned field stays unsigned.
  t.Instructions(500, {Op('A', 302, 404), Op('A', 312, 412), "."});
  t.Field(302, " 0");
  t.Field(404, "  0 ");
  t.Field(312, "L");   // -3
  t.Field(412, "1N");  // -15
  t.Run(500);
  EXPECT_EQ(t.Text(404, 4), "0000");
  // Both negative: a true addition that keeps the minus sign of the units position.
  EXPECT_EQ(t.Text(412, 2), "1Q");  // -18
}

TEST(Arithmetic, OnePositionCarryIsDroppedWithoutOverflow) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 300, 400), "."});
  t.Field(300, "5");
  t.Field(400, "7");
  t.Run(500);
  EXPECT_EQ(t.Text(400, 1), "2");
  EXPECT_FALSE(t.R.OverflowIndicator);
}

TEST(Arithmetic, CarryOutOfTheHighOrderPositionStepsItsZone) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 300, 402), "."});
  t.Instructions(600, {Op('A', 311, 402), "."});
  t.Field(300, "1");
  t.Field(311, "99");
  t.Field(402, "99");
  t.Run(500);
  // 99 + 1: the zero digit with the A zone (the record mark) and overflow.
  EXPECT_EQ(t.Core.Word(401) & 63, 26);
  EXPECT_EQ(t.Core.Word(402) & 63, Bcd::Zero);
  EXPECT_TRUE(t.R.OverflowIndicator);

  t.R.OverflowIndicator = false;
  t.Run(600);  // + 99 without a carry out: the zone stays A
  EXPECT_EQ(t.Text(402, 2), "Z9");
  EXPECT_FALSE(t.R.OverflowIndicator);

  t.Run(500);  // the second overflow: the zone steps on to B
  EXPECT_EQ(t.Text(402, 2), "!0");
  EXPECT_TRUE(t.R.OverflowIndicator);
}

TEST(Arithmetic, TrueAddAddsTheAZoneAtTheHighOrderPosition) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 300, 402), "."});
  t.Instructions(600, {Op('A', 300, 412), "."});
  t.Instructions(700, {Op('A', 310, 422), "."});
  t.Field(300, "?1");  // a plus zero over a 1: the AB zone is added at the high-order position
  t.Field(402, "23");
  t.Field(412, "S9");  // A zone over 2: A + AB wraps round to no zone, plus the carry
  t.Field(310, "/1");  // A zone over 1
  t.Field(422, "99");
  t.Run(500);
  EXPECT_EQ(t.Text(402, 2), "B4");
  EXPECT_FALSE(t.R.OverflowIndicator);
  t.Run(600);
  EXPECT_EQ(t.Text(412, 2), "30");
  EXPECT_FALSE(t.R.OverflowIndicator);
  t.Run(700);
  // 9 + 1 + carry = 11: digit 1, zone A (from A) + A (from the carry) = B, and overflow.
  EXPECT_EQ(t.Text(422, 2), "J0");
  EXPECT_TRUE(t.R.OverflowIndicator);
}

TEST(Arithmetic, TrueAddKeepsTheZonesPastTheAField) {
  struct Case {
    const char* A;
    const char* B;
    const char* Result;
  };
  // A program steps a three-character address held in a longer field (its op code in front):
  // the zone over the hundreds digit stays where no A-field digit is added to it.
  const Case cases[] = {
      {"1", "M/31", "M/32"},
      {"1", "M/99", "MS00"},  // the carry steps the digit, the zone stays
      {"11", "M/31", "M/42"},
      {"111", "M/31", "M242"},  // under the A-field a position is digits only
  };
  for (const Case& c : cases) {
    TTestMachine t;
    t.Instructions(500, {Op('A', 300, 404), "."});
    t.Field(300, c.A);
    t.Field(404, c.B);
    t.Run(500);
    EXPECT_EQ(t.Text(404, 4), c.Result) << c.A << " + " << c.B;
    EXPECT_FALSE(t.R.OverflowIndicator) << c.A << " + " << c.B;
  }
}

TEST(Arithmetic, ZoneStepCountsThousandsInAnAddress) {
  TTestMachine t;
  // The hundreds and tens of an address hold 999; adding one thousand as a plus zero with the
  // A zone ("r" is the A zone over zero) and a zero moves 0999 to 1999.
  t.Instructions(500, {Op('A', 301, 412), "."});
  t.Field(301, "r0");
  t.Field(413, "999");  // the word mark on the hundreds makes 411-412 the B-field
  t.Run(500);
  EXPECT_EQ(t.Core.ReadAddress(413), 1999);
}

TEST(Arithmetic, ComplementAddClearsTheHighOrderZone) {
  TTestMachine t;
  t.Instructions(500, {Op('S', 300, 402), "."});
  t.Field(300, "3");
  t.Field(402, "r5");  // A zone over the high-order zero, +05
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(402, 2), "0B");  // +02, zone gone, units positive (AB)
  EXPECT_FALSE(t.R.OverflowIndicator);
  EXPECT_EQ(t.Trace()[1], " 500 300 402 Comp r5-3=0B");
}

TEST(Arithmetic, SubtractLargerNumberRecomplements) {
  TTestMachine t;
  t.Instructions(500, {Op('S', 300, 400), Op('S', 312, 412), "."});
  t.Field(300, "8");
  t.Field(400, "5");
  t.Field(312, "125");
  t.Field(412, "100");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(400, 1), "L");    // -3
  EXPECT_EQ(t.Text(412, 3), "02N");  // -25
  EXPECT_TRUE(t.WordMarkAt(410));
  EXPECT_FALSE(t.WordMarkAt(412));
  EXPECT_EQ(t.R.BAR, 409);
  EXPECT_EQ(t.R.AAR, 309);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "I00500 S 7 S   Subtract [00300] from [00400]");
  EXPECT_EQ(lines[1], " 500 300 400 Comp 5-8=L <- G");
  EXPECT_EQ(lines[4], " 507 312 412 Comp 100-125=02N <- 97E");
}

TEST(Arithmetic, SubtractOfEqualFieldsGivesPlusZero) {
  TTestMachine t;
  t.Instructions(500, {Op('S', 302, 402), "."});
  t.Field(302, "123");
  t.Field(402, "123");
  t.Run(500);
  EXPECT_EQ(t.Text(402, 3), "00?");
  EXPECT_EQ(t.Core.Word(402) & 63, Bcd::ZoneMask | Bcd::Zero);
}

TEST(Arithmetic, SignsChooseTheKindOfAddition) {
  TTestMachine t;
  // Negative A into positive B: complement addition, 50 - 22 = +28.
  // Subtract of a negative from a positive: true addition, 50 + 22 = 72 unsigned.
  t.Instructions(500, {Op('A', 301, 402), Op('S', 301, 412), "."});
  t.Field(301, "2K");
  t.Field(402, "50");
  t.Field(412, "50");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(402, 2), "2H");
  EXPECT_EQ(t.Text(412, 2), "72");
  auto lines = t.Trace();
  EXPECT_EQ(lines[1], " 500 301 402 Comp 50-2K=2H");
  EXPECT_EQ(lines[4], " 507 301 412 True 50+2K=72");
}

TEST(Arithmetic, LongerAFieldIsCutToTheBField) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 304, 402), "."});
  t.Field(304, "98765");
  t.Field(402, "11");
  t.Run(500);
  EXPECT_EQ(t.Text(402, 2), "76");
  EXPECT_EQ(t.R.AAR, 302);
  EXPECT_EQ(t.R.BAR, 400);
}

TEST(Arithmetic, ChainedAddFindsTheNextFields) {
  TTestMachine t;
  // The 1-character A works on the fields just left of the ones before.
  t.Instructions(500, {Op('A', 302, 403), "A", "."});
  t.Field(300, "5");
  t.Field(302, "12");
  t.Field(401, "04");
  t.Field(403, "30");
  t.Run(500);
  EXPECT_EQ(t.Text(403, 2), "42");
  EXPECT_EQ(t.Text(401, 2), "09");
}

TEST(Arithmetic, FourCharacterFormsWorkOnOneField) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 302), Op('S', 312), "."});
  t.Field(302, "123");
  t.Field(312, "456");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(302, 3), "246");
  EXPECT_EQ(t.Text(312, 3), "00?");
  auto lines = t.Trace();
  EXPECT_EQ(lines[0], "I00500 A 4 A   Add [00302] to [00302]");
  EXPECT_EQ(lines[3], "I00504 S 4 S   Subtract [00312] from [00312]");
}

TEST(Arithmetic, BFieldWithoutWordMarkStopsAtTheAddressCheck) {
  TTestMachine t;
  t.Instructions(500, {Op('A', 300, 3), "."});
  t.Field(300, "1");
  t.Field(3, "111", false);
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "Invalid Address: 0 used by 500");
  EXPECT_EQ(t.Text(3, 3), "112");  // the positions written stay written
  // The registers stand where the check stopped the fields.
  EXPECT_EQ(t.R.AAR, 299);
  EXPECT_EQ(t.R.BAR, 0);
}

// The field loops read and store a position themselves when it has no trap bit, and take the
// careful way where one is set.  A trapped position anywhere in either field (a write stop whose
// value never comes, or a read stop, which ends the run after the instruction) must change
// neither the result nor the registers nor the overflow indicator.
TEST(Arithmetic, TrappedPositionsChangeNoResult) {
  struct Case {
    char Op;
    const char* A;
    const char* B;
  };
  const Case cases[] = {
      {'A', "12345", "99999"},     // carries through every position into the zone
      {'A', "7", "00999999"},      // the A-field ends first: carries run on alone
      {'A', "Z9999", "S0001"},     // the A zone and the carry add at the high-order position
      {'S', "12345", "00012"},     // recomplement
      {'S', "5", "10000000"},      // borrows through zeros
      {'A', "1234567890", "123"},  // a longer A-field is cut
      {'A', "1", "M/99"},          // zones past the A-field stay in a true add
      {'S', "1", "M/31"},          // and go in a complement add
      {'?', "12345", "0000000"},   // ZA pads with zeros
      {'!', "1234L", "00000"},     // ZS
  };
  constexpr uint16_t AUnits = 1020;
  constexpr uint16_t BUnits = 1040;
  struct Outcome {
    std::string B;
    uint16_t AAR;
    uint16_t BAR;
    bool Overflow;
    bool operator==(const Outcome&) const = default;
  };
  // trapAt 0: no trap; otherwise a write stop (write = true) or a read stop at that address.
  auto run = [&](const Case& c, uint16_t trapAt, bool write) {
    TTestMachine t;
    t.Instructions(500, {std::string(1, c.Op) + Addr(AUnits) + Addr(BUnits), "."});
    t.Field(AUnits, c.A);
    t.Field(BUnits, c.B);
    if (trapAt != 0 && write) {
      t.Core.WriteStopValue = Bcd::GroupMark;  // no result position holds it
      t.Core.WriteStopAddress = trapAt;
    } else if (trapAt != 0) {
      t.Core.ReadStopAddress = trapAt;
    }
    t.Run(500);
    const CpuState expected = trapAt != 0 && !write ? CpuState::SingleStep : CpuState::ProgramHalt;
    EXPECT_EQ(t.State(), expected) << t.StopMessage();
    const int length = static_cast<int>(std::string(c.B).size());
    return Outcome{t.Text(BUnits, length), t.R.AAR, t.R.BAR, t.R.OverflowIndicator};
  };
  for (const Case& c : cases) {
    const Outcome plain = run(c, 0, false);
    const auto bLength = static_cast<uint16_t>(std::string(c.B).size());
    const auto aLength = static_cast<uint16_t>(std::string(c.A).size());
    for (uint16_t k = 0; k < bLength; ++k) {
      EXPECT_EQ(run(c, static_cast<uint16_t>(BUnits - k), true), plain)
          << c.Op << " " << c.A << " to " << c.B << ", write stop " << k << " left of the units";
    }
    for (uint16_t k = 0; k < aLength && k < bLength; ++k) {
      EXPECT_EQ(run(c, static_cast<uint16_t>(AUnits - k), false), plain)
          << c.Op << " " << c.A << " to " << c.B << ", read stop " << k << " left of the units";
    }
  }
}

TEST(ZeroAdd, IntoALongerFieldWithSignAndZonesRemoved) {
  TTestMachine t;
  t.Instructions(500, {Op('?', 302, 404), Op('?', 312, 414), "."});
  t.Field(302, "AB3");  // zones over the 1 and 2 go; the unsigned units digit becomes plus
  t.Field(404, "99999");
  t.Field(312, "1 L");  // a blank stays a blank; the minus sign stays
  t.Field(414, "99999");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(404, 5), "0012C");
  EXPECT_EQ(t.Text(414, 5), "001 L");
  EXPECT_TRUE(t.WordMarkAt(400));
  EXPECT_EQ(t.R.AAR, 309);
  EXPECT_EQ(t.R.BAR, 409);
  auto lines = t.Trace();
  EXPECT_EQ(lines[0], "I00500 ? 7 ZA  Zero and Add 00302 to 00404");
  EXPECT_EQ(lines[1],
            "D          => CD          => 2D          => 1D          => 0D          => 0");
}

TEST(ZeroAdd, ShorterBFieldTakesOnlyItsLength) {
  TTestMachine t;
  t.Instructions(500, {Op('?', 304, 402), "."});
  t.Field(304, "12345");
  t.Field(402, "  ");
  t.Run(500);
  EXPECT_EQ(t.Text(402, 2), "4E");
  EXPECT_EQ(t.R.AAR, 302);
}

// One program of many one-instruction cases: the complement add of a zero A-field, the adder's
// reading of the codes 11 to 15, and the standard sign that ZA and ZS give.  "~" stands for the
// code 15, which has no display character of its own.
TEST(Arithmetic, AdderCasesInOneProgram) {
  struct Case {
    char Op;
    const char* A;
    const char* B;
    const char* Result;
  };
  const Case cases[] = {
      {'A', "000000000!", "0123456789", "012345678I"},  // minus zero: the B-field stands
      {'A', "!", "5", "E"},                             // +5 plus -0 is +5
      {'S', "0", "N", "N"},                             // -5 minus +0 is -5
      {'S', "000", "000", "00?"},                       // plus zero, standard sign
      {'S', "8", "5", "L"},                             // 5 - 8 recomplements: -3
      {'S', "3", "10", "0G"},                           // 10 - 3 = +7 with a carry
      {'A', "~#", "12", "85"},                          // 15 counts 7, 11 counts 3
      {'A', "@:>", "000", "456"},                       // 12, 13, 14 count 4, 5, 6
      {'S', "#", "5", "B"},                             // complement of 11 (3): +2
      {'A', "~", "3", "0"},                             // 7 + 3 carries out of a 1-field: lost
      {'?', "4", "0", "D"},                             // ZA: unsigned becomes plus
      {'?', "Z", "0", "I"},                             // A zone becomes AB
      {'?', "JT", "000", "01C"},                        // B zone over the 1 goes
      {'?', "#", "0", "."},                             // the code itself is not changed
      {'?', "@", "0", "o"},
      {'?', "K", "0", "K"},  // minus stays minus
      {'!', "Z", "0", "R"},  // ZS: plus becomes minus
      {'!', "K", "0", "B"},  // and minus plus
  };
  TTestMachine t;
  auto place = [&](uint16_t units, const std::string& text) {
    uint16_t address = static_cast<uint16_t>(units + 1 - text.size());
    for (size_t i = 0; i < text.size(); ++i, ++address) {
      uint8_t code = text[i] == '~' ? 15 : CharToBcd(text[i]);
      t.Core.StoreCharWM(address, i == 0, code);
    }
  };
  uint16_t next = 500;
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto a = static_cast<uint16_t>(1020 + 40 * i);
    place(a, cases[i].A);
    place(static_cast<uint16_t>(a + 20), cases[i].B);
    next = static_cast<uint16_t>(t.Instructions(next, {Op(cases[i].Op, a, a + 20u)}) - 1);
  }
  t.Instructions(next, {"."});
  t.Run(500);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto b = static_cast<uint16_t>(1040 + 40 * i);
    EXPECT_EQ(t.Text(b, static_cast<int>(std::string(cases[i].B).size())), cases[i].Result)
        << cases[i].Op << " " << cases[i].A << " to " << cases[i].B;
  }
}

// Untraced, A and S take the digits-only positions four at a time where they can; traced with
// details, every position goes through the careful loop.  Random fields of every length, codes
// (numeric parts above 10, zones, blanks), extra word marks and overlaps (A above, below or on
// B, near and far) must leave the same core, registers and overflow both ways.
TEST(Arithmetic, FourAtOnceMatchesTheCarefulLoop) {
  std::mt19937 random(1401);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  constexpr uint16_t BUnits = 1100;
  constexpr int Window = 40;
  for (int n = 0; n < 1500; ++n) {
    const char op = below(2) == 0 ? 'A' : 'S';
    const int offset = below(3) == 0 ? below(11) - 5 : below(2) == 0 ? -30 : 30;
    const auto aUnits = static_cast<uint16_t>(BUnits + offset);
    std::vector<std::pair<uint16_t, uint16_t>> words;  // address, word mark << 6 | code
    auto field = [&](uint16_t units, int length) {
      for (int k = 0; k < length; ++k) {
        int code = below(8) == 0 ? below(64) : 1 + below(10);
        if (below(6) == 0) code |= 16 * below(4);
        const bool mark = k == length - 1 || below(40) == 0;
        words.emplace_back(static_cast<uint16_t>(units - k), (mark ? 64 : 0) | code);
      }
    };
    field(BUnits, 1 + below(24));
    field(aUnits, 1 + below(24));
    auto run = [&](bool careful) {
      TTestMachine t;
      t.Instructions(500, {Op(op, aUnits, BUnits), "."});
      for (const auto& [address, word] : words)
        t.Core.StoreCharWM(address, word & 64, static_cast<uint8_t>(word & 63));
      if (careful) {
        t.M.TraceFlags.TraceInstructions = true;
        t.M.TraceFlags.TraceDetails = true;
      }
      t.Run(500);
      std::string outcome = StateText(t.State());
      for (int k = -Window; k <= Window; ++k) {
        const auto at = static_cast<uint16_t>(BUnits + k);
        outcome += t.Text(at, 1) + (t.WordMarkAt(at) ? "|" : "");
      }
      return outcome + " " + std::to_string(t.R.AAR) + " " + std::to_string(t.R.BAR) +
             (t.R.OverflowIndicator ? " overflow" : "");
    };
    ASSERT_EQ(run(false), run(true)) << "case " << n << ": " << op << " A at " << offset;
  }
}

TEST(ZeroSubtract, TwoFieldsInvertTheSign) {
  TTestMachine t;
  t.Instructions(500, {Op('!', 302, 404), Op('!', 312, 414), "."});
  t.Field(302, "123");
  t.Field(404, "9999");
  t.Field(312, "12L");
  t.Field(414, "9999");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(404, 4), "012L");
  EXPECT_EQ(t.Text(414, 4), "012C");
  EXPECT_EQ(t.Trace()[0], "I00500 ! 7 ZS  Zero and Subtract 00302 from 00404");
}

TEST(ZeroSubtract, OneFieldInPlace) {
  TTestMachine t;
  t.Instructions(500, {Op('!', 302), Op('!', 312), "."});
  t.Field(302, "12L");
  t.Field(312, "R23");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(302, 3), "12C");
  EXPECT_EQ(t.Text(312, 3), "R2L");  // only the units zone changes
  EXPECT_EQ(t.R.AAR, 309);
  auto lines = t.Trace();
  EXPECT_EQ(lines[0], "I00500 ! 4 ZS  Zero and Subtract 00302 from itself");
  EXPECT_EQ(lines[1], "R          AAReg=00299  BAReg=00302  IAReg=00504");
}

}  // namespace
}  // namespace kestrel::test

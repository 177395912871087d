// The field loops of C, MCW, LCA and MCS run the positions without trap bits raw and take the
// careful way from the first trapped one.  Wherever the trap stands in either field, the result,
// the word marks, the registers and the indicators must be those of the run without it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

constexpr uint16_t AUnits = 1020;
constexpr uint16_t BUnits = 1040;
constexpr int Window = 14;  // the B-field's neighbourhood shown: 12 to the left, 1 to the right

struct TCase {
  char Op;
  const char* A;
  const char* B;
  int BMarkAt = -1;  // positions left of the B units with an extra word mark (-1: none)
};

struct TOutcome {
  std::string Core;  // the neighbourhood of the B-field, a '|' after each word-marked position
  uint16_t AAR;
  uint16_t BAR;
  bool Equal;
  bool Low;
  bool operator==(const TOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TOutcome& o) {
  return out << '"' << o.Core << "\" AAR " << o.AAR << " BAR " << o.BAR << " equal " << o.Equal
             << " low " << o.Low;
}

// trapAt 0: no trap; otherwise a write stop (`write`) or a read stop at that address.
TOutcome RunCase(const TCase& c, uint16_t trapAt, bool write) {
  TTestMachine t;
  t.Instructions(500, {std::string(1, c.Op) + Addr(AUnits) + Addr(BUnits), "."});
  t.Field(BUnits - 12, "S");  // a mark left of every B-field: a loop that runs on stops there
  t.Field(AUnits, c.A);
  t.Field(BUnits, c.B);
  if (c.BMarkAt >= 0) t.Core.SetWordMark(static_cast<uint16_t>(BUnits - c.BMarkAt), true);
  if (trapAt != 0 && write) {
    t.Core.WriteStopValue = Bcd::GroupMark;  // no position is ever stored with it
    t.Core.WriteStopAddress = trapAt;
  } else if (trapAt != 0) {
    t.Core.ReadStopAddress = trapAt;
  }
  t.Run(500);
  const bool readStopMet = trapAt != 0 && !write && t.State() == CpuState::SingleStep;
  EXPECT_TRUE(t.State() == CpuState::ProgramHalt || readStopMet) << t.StopMessage();
  TOutcome o{"", t.R.AAR, t.R.BAR, t.R.EqualIndicator, t.R.LowIndicator};
  for (int k = Window - 2; k >= -1; --k) {
    const auto at = static_cast<uint16_t>(BUnits - k);
    o.Core += t.Text(at, 1);
    if (t.WordMarkAt(at)) o.Core += '|';
  }
  return o;
}

TEST(FieldLoops, TrappedPositionsChangeNoResult) {
  const TCase cases[] = {
      {'C', "12345", "12345"},       // equal
      {'C', "12345", "12445"},       // unequal in the middle: low
      {'C', "9", "12340"},           // the A-field ends first: unequal, one position compared
      {'C', "123456", "A345"},       // the B-field ends first; the high-order position decides
      {'C', "ABC", "ABC", 1},        // a word mark inside the B-field ends it
      {'M', "12345", "ABCDEFG"},     // MCW to the A-field's word mark
      {'M', "1234567", "ABC"},       // ... or the B-field's
      {'M', "ABCDE", "1234567", 2},  // a word mark inside the B-field
      {'L', "12345", "ABCDEFG"},     // LCA moves the word mark too
      {'L', "ABC", "1234567", 1},    // and clears the B-field's marks it passes
      {'Z', "00,120", "999999"},     // MCS: zeros and commas blanked, B word marks cleared
      {'Z', "10A00", "XXXXXX", 2},   // another character starts suppressing again
      {'Z', "0-0N", "QQQQ"},         // the minus keeps suppressing; the units sign dropped
  };
  for (const TCase& c : cases) {
    const TOutcome plain = RunCase(c, 0, false);
    const int bLength = static_cast<int>(std::string(c.B).size());
    const int aLength = static_cast<int>(std::string(c.A).size());
    for (int k = 0; k < bLength + 1; ++k) {
      const auto at = static_cast<uint16_t>(BUnits - k);
      EXPECT_EQ(RunCase(c, at, true), plain)
          << c.Op << " " << c.A << " to " << c.B << ", write stop " << k << " left of the B units";
      EXPECT_EQ(RunCase(c, at, false), plain)
          << c.Op << " " << c.A << " to " << c.B << ", read stop " << k << " left of the B units";
    }
    for (int k = 0; k < aLength + 1; ++k) {
      EXPECT_EQ(RunCase(c, static_cast<uint16_t>(AUnits - k), false), plain)
          << c.Op << " " << c.A << " to " << c.B << ", read stop " << k << " left of the A units";
    }
  }
}

// Untraced, C, MCW and LCA take four positions at a time where they can; traced with details,
// every position goes through the careful loop.  Random fields of every length and code, extra
// word marks and overlaps (A above, below or on B, near and far) must leave the same core,
// registers and indicators both ways.
TEST(FieldLoops, FourAtOnceMatchesTheCarefulLoop) {
  std::mt19937 random(1402);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  constexpr uint16_t Units = 1100;
  constexpr int Shown = 40;
  const char ops[] = {'C', 'M', 'L', 'Z'};
  for (int n = 0; n < 2000; ++n) {
    const char op = ops[below(4)];
    const int offset = below(3) == 0 ? below(11) - 5 : below(2) == 0 ? -30 : 30;
    const auto aUnits = static_cast<uint16_t>(Units + offset);
    std::vector<std::pair<uint16_t, uint16_t>> words;  // address, word mark << 6 | code
    auto field = [&](uint16_t units, int length) {
      for (int k = 0; k < length; ++k) {
        // Equal stretches for the compare: often the same few codes.
        const int code = below(3) == 0 ? below(64) : 1 + below(3);
        const bool mark = k == length - 1 || below(30) == 0;
        words.emplace_back(static_cast<uint16_t>(units - k), (mark ? 64 : 0) | code);
      }
    };
    field(Units, 1 + below(24));
    field(aUnits, 1 + below(24));
    auto run = [&](bool careful) {
      TTestMachine t;
      t.Instructions(500, {std::string(1, op) + Addr(aUnits) + Addr(Units), "."});
      for (const auto& [address, word] : words)
        t.Core.StoreCharWM(address, word & 64, static_cast<uint8_t>(word & 63));
      if (careful) {
        t.M.TraceFlags.TraceInstructions = true;
        t.M.TraceFlags.TraceDetails = true;
      }
      t.Run(500);
      std::string outcome = StateText(t.State());
      for (int k = -Shown; k <= Shown; ++k) {
        const auto at = static_cast<uint16_t>(Units + k);
        outcome += t.Text(at, 1) + (t.WordMarkAt(at) ? "|" : "");
      }
      return outcome + " " + std::to_string(t.R.AAR) + " " + std::to_string(t.R.BAR) +
             (t.R.EqualIndicator ? " equal" : "") + (t.R.LowIndicator ? " low" : "");
    };
    ASSERT_EQ(run(false), run(true)) << "case " << n << ": " << op << " A at " << offset;
  }
}

// The untrapped outcomes themselves, so that the comparison above compares right answers.
TEST(FieldLoops, PlainOutcomes) {
  struct TExpected {
    TCase Case;
    const char* Core;
    uint16_t AAR;
    uint16_t BAR;
    bool Equal;
    bool Low;
  };
  const TExpected expected[] = {
      {{'C', "12345", "12345"}, "S|       1|2345 ", 1015, 1035, true, false},
      {{'C', "12345", "12445"}, "S|       1|2445 ", 1015, 1035, false, false},  // B high
      {{'C', "12345", "12245"}, "S|       1|2245 ", 1015, 1035, false, true},   // B low
      {{'C', "9", "12340"}, "S|       1|2340 ", 1019, 1039, false, false},
      {{'M', "12345", "ABCDEFG"}, "S|     A|B12345 ", 1015, 1035, false, false},
      {{'L', "ABC", "1234567", 1}, "S|     1|234A|BC ", 1017, 1037, false, false},
      {{'Z', "00,120", "999999"}, "S|         120 ", 1014, 1040, false, false},
  };
  for (const TExpected& e : expected) {
    const TOutcome o = RunCase(e.Case, 0, false);
    EXPECT_EQ(o, (TOutcome{e.Core, e.AAR, e.BAR, e.Equal, e.Low}))
        << e.Case.Op << " " << e.Case.A << " to " << e.Case.B;
  }
}

}  // namespace
}  // namespace kestrel::test

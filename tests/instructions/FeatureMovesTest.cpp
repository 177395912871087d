// Move record (MCM) and the column binary moves (MBC, MBD): what moves, where each stops, the
// word marks and the registers a chained instruction goes on with.
#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

std::string Op(char code, unsigned a, unsigned b) {
  return code + Addr(a) + Addr(b);
}

// Three chained MCMs: a record mark in the first position, a group mark without a word mark
// that does not stop, and a group mark with a word mark that does.
TEST(MoveRecord, StopsAfterARecordMarkOrAGroupMarkWithWordMark) {
  TTestMachine t;
  t.M.Registers.Features = FEMoveRecord;
  t.Instructions(500, {Op('P', 301, 401), "P", "."});
  t.Field(312, "rABgCDEgFGHI", false);  // 301 to 312
  t.Core.SetWordMark(303, true);        // a word mark on a plain character: no stop
  t.Core.SetWordMark(308, true);        // the second group mark carries one
  t.Field(412, "............", false);
  t.Core.SetWordMark(405, true);  // B word marks stay where they are
  t.TraceAll();
  t.Run(500);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  EXPECT_EQ(t.Text(412, 12), "rABgCDEg....");
  EXPECT_TRUE(t.WordMarkAt(405));
  EXPECT_FALSE(t.WordMarkAt(403));  // A word marks are not moved
  EXPECT_FALSE(t.WordMarkAt(408));
  // One past the group mark in both fields.
  EXPECT_EQ(t.R.AAR, 309);
  EXPECT_EQ(t.R.BAR, 409);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "I00500 P 7 MCM Move chars to Record or Group Mark from 00301 to 00401");
  EXPECT_EQ(lines[1], "D          => 00301 \"r\" to 00401");
  EXPECT_EQ(lines[2], "D          Chars moved=1");
}

TEST(MoveRecord, WithoutAMarkTheMoveRunsOffTheEndOfCore) {
  TTestMachine t;
  t.M.Registers.Features = FEMoveRecord;
  t.Instructions(500, {Op('P', 7990, 401), "."});
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "Invalid Address: 8000 used by 500");
  EXPECT_EQ(t.R.AAR, 8000);
}

// A card image in column binary form: two rows of 80 a hundred positions apart.  Decoding puts
// each column's two characters side by side; coding takes them back apart.
TEST(BinaryMoves, DecodeAndCodeAreInverse) {
  TTestMachine t;
  t.M.Registers.Features = FEBinaryCode;
  const std::string set = "1234567890#@/STUVWXYZ,%-JKLMNOPQR$*&ABCDEFGHI.";
  std::string upper, lower;
  for (int k = 0; k < 80; ++k) {
    upper += set[k % set.size()];
    lower += set[(k * 7 + 3) % set.size()];
  }
  t.Field(1480, upper, false);  // 1401 to 1480
  t.Field(1580, lower, false);  // 1501 to 1580
  t.Field(2160, std::string(160, ' '), false);
  t.Core.SetWordMark(2005, true);
  t.Instructions(500, {Op('M', 1580, 2160) + "A", "."});
  t.Instructions(600, {Op('M', 2160, 3580) + "B", "."});
  t.Run(500);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  std::string pairs;
  for (int k = 0; k < 80; ++k)
    pairs += std::string{upper[k], lower[k]};
  EXPECT_EQ(t.Text(2160, 160), pairs);
  EXPECT_TRUE(t.WordMarkAt(2005));
  EXPECT_EQ(t.R.AAR, 1400);
  EXPECT_EQ(t.R.BAR, 2000);

  t.Run(600);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  EXPECT_EQ(t.Text(3480, 80), upper);
  EXPECT_EQ(t.Text(3580, 80), lower);
  EXPECT_EQ(t.R.AAR, 2000);
  EXPECT_EQ(t.R.BAR, 3400);
}

// Without the feature, and with any other d-character, MCW is MCW.
TEST(BinaryMoves, OtherwiseAnEightCharacterMCWMovesToAWordMark) {
  for (TFeatureSet features : {TFeatureSet{0}, TFeatureSet{FEBinaryCode}}) {
    for (char d : {'A', 'C'}) {
      if (features != 0 && d == 'A') continue;
      TTestMachine t;
      t.M.Registers.Features = features;
      t.Instructions(500, {Op('M', 1580, 2160) + d, "."});
      t.Field(1580, "XYZ");
      t.Run(500);
      EXPECT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
      EXPECT_EQ(t.Text(2160, 3), "XYZ");
      EXPECT_EQ(t.R.AAR, 1577);
    }
  }
}

}  // namespace
}  // namespace kestrel::test

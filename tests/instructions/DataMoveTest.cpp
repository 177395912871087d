#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

TEST(MoveChars, StopsAtTheFirstWordMarkInEitherField) {
  TTestMachine t;
  t.Field(305, "ABCDEF");
  t.Field(405, "xyz");  // B word mark two positions left of BAR
  t.Instructions(500, {"M" + Addr(305) + Addr(405), "."});
  t.Run(500);
  EXPECT_EQ(t.Text(405, 4), " DEF");
  EXPECT_EQ(t.R.AAR, 302);
  EXPECT_EQ(t.R.BAR, 402);
  EXPECT_TRUE(t.WordMarkAt(403));  // B keeps its word marks
}

TEST(MoveChars, EndsAtLocationZero) {
  TTestMachine t;
  t.TraceAll();
  t.Field(2, "AB", false);
  t.Field(102, "xyz", false);
  t.Core.SetWordMark(90, true);
  t.Instructions(500, {"M" + Addr(2) + Addr(102), "."});
  t.Run(500);
  EXPECT_EQ(t.Text(102, 2), "AB");
  EXPECT_EQ(t.R.AAR, 0);
  Lines trace = t.Trace();
  ASSERT_GE(trace.size(), 5u);
  EXPECT_EQ(trace[3], "D          Chars moved=2");
  EXPECT_EQ(trace[4], "I          *** Stopped at location 0 ***");
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
}

TEST(LoadChars, CopiesTheAWordMarkAndClearsOthers) {
  TTestMachine t;
  t.TraceAll();
  t.Field(302, "ABC");
  t.Field(403, "WXYZ");
  t.Core.SetWordMark(402, true);
  t.Instructions(500, {"L" + Addr(302) + Addr(403), "."});
  t.Run(500);
  EXPECT_EQ(t.Text(403, 4), "WABC");
  EXPECT_TRUE(t.WordMarkAt(401));
  EXPECT_FALSE(t.WordMarkAt(402));
  EXPECT_FALSE(t.WordMarkAt(403));
  EXPECT_TRUE(t.WordMarkAt(400));  // outside the field: untouched
  EXPECT_EQ(t.R.AAR, 299);
  EXPECT_EQ(t.R.BAR, 400);
  Lines trace = t.Trace();
  EXPECT_EQ(trace[3], "D          => 00300 \"A\" to 00401 plus WM");
}

TEST(LoadChars, WithoutAWordMarkRunsIntoTheAddressCheck) {
  TTestMachine t;
  t.Field(3, "ABC", false);
  t.Instructions(500, {"L" + Addr(3) + Addr(403)});
  t.Run(500);
  EXPECT_EQ(t.StopMessage(), "Invalid Address: 0 used by 500");
  EXPECT_EQ(t.Text(403, 3), "ABC");  // what was moved stays moved
}

TEST(ZoneAndNumeric, OnePositionEach) {
  TTestMachine t;
  t.Field(300, "J", false);  // B zone over 1
  t.Field(400, "5", false);
  t.Field(301, "9", false);
  t.Field(401, "A", false);
  t.Instructions(500, {"Y" + Addr(300) + Addr(400), "D" + Addr(301) + Addr(401), "."});
  t.Run(500);
  EXPECT_EQ(t.Text(400, 1), "N");  // B zone over 5
  EXPECT_EQ(t.Text(401, 1), "I");  // AB zone over 9
  EXPECT_EQ(t.R.AAR, 300);
  EXPECT_EQ(t.R.BAR, 400);
}

TEST(WordMarks, SetAndClearInTheirForms) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"," + Addr(50) + Addr(60), ",", "o" + Addr(60), "."});
  t.Run(500);
  EXPECT_TRUE(t.WordMarkAt(50));
  EXPECT_TRUE(t.WordMarkAt(49));  // the 1-character SW works on the registers left behind
  EXPECT_TRUE(t.WordMarkAt(59));
  EXPECT_FALSE(t.WordMarkAt(60));  // cleared again by the CW
  EXPECT_EQ(t.R.AAR, 59);
  EXPECT_EQ(t.R.BAR, 59);  // a 4-character CW leaves both one below its address
  Lines trace = t.Trace();
  EXPECT_EQ(trace[0], "I00500 , 7 SW  Set WM at 00050 and 00060");
  EXPECT_EQ(trace[2], "I00507 , 1 SW  Set WM at 00049 and 00059");
  EXPECT_EQ(trace[4], "I00508 o 4 CW  Clear WM at 00060");
}

TEST(ClearStorage, DownToTheHundredsBoundary) {
  TTestMachine t;
  t.TraceAll();
  for (uint16_t a = 1; a < 450; ++a)
    t.Core.StoreCharWM(a, true, 5);
  t.Instructions(500, {"/" + Addr(399), "/" + Addr(50), "."});
  t.Run(500);
  EXPECT_EQ(t.Core.Word(300) & 0xFF, 0);
  EXPECT_EQ(t.Core.Word(399) & 0xFF, 0);
  EXPECT_EQ(t.Core.Word(400) & 0xFF, CoreChar::WordMark | 5);
  EXPECT_EQ(t.Core.Word(299) & 0xFF, CoreChar::WordMark | 5);
  EXPECT_EQ(t.Core.Word(1) & 0xFF, 0);
  EXPECT_EQ(t.Core.Word(51) & 0xFF, CoreChar::WordMark | 5);
  EXPECT_EQ(t.R.BAR, 0);
  EXPECT_EQ(t.Trace()[0], "I00500 / 4 CS  Clear Storage from 00399 downto 00300");
}

TEST(ClearStorage, SevenCharactersBranchWithTheReturnAddressInBAR) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"/" + Addr(600) + Addr(250)});
  t.Instructions(600, {"."});
  t.Core.StoreChar(250, 7);
  t.Run(500);
  EXPECT_EQ(t.Core.ReadChar(250), 0);
  EXPECT_EQ(t.R.BAR, 507);  // the return address, as every branch leaves it
  EXPECT_EQ(t.R.InstrAddr, 600);
  EXPECT_EQ(t.Trace()[0], "I00500 / 7 CS  Clear Storage from 00250 downto 00200, Branch to 00600");
}

TEST(ModifyAddress, AddsAndWraps) {
  TTestMachine t;
  t.TraceAll();
  t.Field(300, Addr(15000), false);
  t.Field(400, Addr(1500), false);
  t.Instructions(500, {"#" + Addr(300) + Addr(400), "."});
  t.Run(500);
  EXPECT_EQ(t.Core.ReadAddress(400), 500);
  EXPECT_EQ(t.R.AAR, 297);
  EXPECT_EQ(t.R.BAR, 397);
  EXPECT_EQ(t.Trace()[0],
            "I00500 # 7 MA  Modify Address at 00400 with 00300          01500+15000=>00500(wrap)");
}

TEST(ModifyAddress, FourCharactersDoublesInPlace) {
  TTestMachine t;
  t.Field(300, Addr(1234), false);
  t.Instructions(500, {"#" + Addr(300), "."});
  t.Run(500);
  EXPECT_EQ(t.Core.ReadAddress(300), 2468);
  EXPECT_EQ(t.R.AAR, 297);
  EXPECT_EQ(t.R.BAR, 299);
}

TEST(ModifyAddress, BadAddressStopsAlreadyInTheTracePhase) {
  TTestMachine t;
  t.TraceAll();
  t.Field(300, "1R3", false);
  t.Instructions(500, {"#" + Addr(300), "."});
  t.Run(500);
  EXPECT_EQ(t.StopMessage(), "Bad address (1R3) read from 300 by 500");
  EXPECT_EQ(t.Text(300, 3), "1R3");
}

TEST(StoreRegisters, SarAndSbr) {
  TTestMachine t;
  t.TraceAll();
  // After the 7-character MCW: AAR 298, BAR 398.  SBR stores BAR at its A-address.
  t.Field(300, "AB");
  t.Field(400, "xy");
  t.Instructions(500, {"M" + Addr(300) + Addr(400), "H" + Addr(700), "Q" + Addr(800), "."});
  t.Run(500);
  EXPECT_EQ(t.Core.ReadAddress(700), 398);
  // The 4-character SAR stores AAR as SBR left it (697) at its own address.
  EXPECT_EQ(t.Core.ReadAddress(800), 697);
  EXPECT_EQ(t.R.BAR, 697);
  EXPECT_EQ(t.R.AAR, 694);
  Lines trace = t.Trace();
  EXPECT_EQ(trace[5], "I00507 H 4 SBR Store B-Address Register (00398) to 00700");
  EXPECT_EQ(trace[7], "I00511 Q 4 SAR Store A-Address Register (00697) to 00800");
}

TEST(NoOperation, CountsSkippedCharacters) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"N" + Addr(300), "N" + Addr(300) + Addr(400) + "ABC", "."});
  t.Run(500);
  Lines trace = t.Trace();
  EXPECT_EQ(trace[1], "D          3 extra chars skipped");
  EXPECT_EQ(trace[4], "D          9 extra chars skipped");
}

}  // namespace
}  // namespace kestrel::test

// The editing moves: MCS with its zero suppression, MCE with its forward and reverse scans, the
// word marks both leave behind, and MCE's scan lines.
#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

std::string Op(char code, unsigned a, unsigned b) {
  return code + Addr(a) + Addr(b);
}

// ---- MCS ----

TEST(MoveSuppress, BlanksLeadingZerosAndCommas) {
  TTestMachine t;
  t.Instructions(500, {Op('Z', 302, 402), "."});
  t.Field(302, "00,120");
  t.Field(402, "999999");
  t.Core.SetWordMark(399, true);
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(402, 6), "   120");
  for (uint16_t a = 397; a <= 402; ++a)
    EXPECT_FALSE(t.WordMarkAt(a)) << a;
  EXPECT_EQ(t.R.AAR, 296);
  EXPECT_EQ(t.R.BAR, 402);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "I00500 Z 7 MCS Move Characters and Suppress Zeros from 00302 to 00402");
  EXPECT_EQ(lines[1], "D          Chars moved=6");
}

TEST(MoveSuppress, OtherCharactersStartSuppressingAgain) {
  TTestMachine t;
  t.Instructions(500, {Op('Z', 303, 403), Op('Z', 312, 412), "."});
  t.Field(303, "10A0");
  t.Field(403, "    ");
  t.Field(312, "0-0N");  // the minus leaves suppression on; the units sign is dropped
  t.Field(412, "    ");
  t.Run(500);
  EXPECT_EQ(t.Text(403, 4), "10A ");
  EXPECT_EQ(t.Text(412, 4), " - 5");
}

TEST(MoveSuppress, AFieldWithoutWordMarkStopsAtTheAddressCheck) {
  TTestMachine t;
  t.Instructions(500, {Op('Z', 3, 402), "."});
  t.Field(3, "123", false);
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "Invalid Address: 0 used by 500");
}

// ---- MCE ----

TEST(MoveEdit, ZeroStartsSuppressionAndTheReverseScanStopsAtIt) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 302, 409), "."});
  t.Field(302, "0012345");
  t.Field(409, "  ,  0.  ");
  t.Run(500);
  EXPECT_EQ(t.Text(409, 9), "   123.45");
  for (uint16_t a = 401; a <= 409; ++a)
    EXPECT_FALSE(t.WordMarkAt(a)) << a;
  EXPECT_EQ(t.R.AAR, 296);  // on the last data character read
  EXPECT_EQ(t.R.BAR, 407);  // one past the zero position
}

TEST(MoveEdit, SuppressionBlanksZerosCommasMinusAndAsterisks) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 302, 409), "."});
  t.Field(302, "00005");
  t.Field(409, " -,* 0 * ");
  t.Run(500);
  // Data fills the blanks and the zero; the zero position at 406 is itself suppressed, and the
  // reverse scan stops there, so the digit and the asterisk right of it stay.
  EXPECT_EQ(t.Text(409, 9), "      0*5");
}

TEST(MoveEdit, WithoutZeroNothingIsSuppressed) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 302, 406), "."});
  t.Field(302, "00123");
  t.Field(406, "   ,  ");
  t.Run(500);
  EXPECT_EQ(t.Text(406, 6), "001,23");
  for (uint16_t a = 401; a <= 406; ++a)
    EXPECT_FALSE(t.WordMarkAt(a)) << a;
  EXPECT_EQ(t.R.BAR, 407);  // the reverse scan ran past the units position
}

TEST(MoveEdit, NumberFillingTheEditWordKeepsAllItsDigits) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 303, 405), Op('E', 313, 414), "."});
  t.Field(303, "1234");
  t.Field(405, " ,   ");
  t.Field(313, "1234");
  t.Field(414, "0   ");  // the zero on the high-order position
  t.Run(500);
  EXPECT_EQ(t.Text(405, 5), "1,234");
  EXPECT_FALSE(t.WordMarkAt(401));
  EXPECT_EQ(t.Text(414, 4), "1234");
  EXPECT_FALSE(t.WordMarkAt(411));
}

TEST(MoveEdit, AmpersandsBecomeBlanks) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 303, 405), Op('E', 311, 413), "."});
  t.Field(303, "1234");
  t.Field(405, "  &  ");
  t.Field(311, "12");
  t.Field(413, "&  ");  // also on the high-order position
  t.Run(500);
  EXPECT_EQ(t.Text(405, 5), "12 34");
  EXPECT_EQ(t.Text(413, 3), " 12");
  EXPECT_FALSE(t.WordMarkAt(411));
}

TEST(MoveEdit, SignSymbolsRightOfTheDigitsPrintOnlyForMinus) {
  struct Case {
    const char* Data;
    const char* Edit;
    const char* Result;
  };
  const Case cases[] = {
      {"12N", "  0.  -", "  1.25-"},        // -125
      {"12E", "  0.  -", "  1.25 "},        // +125 with the AB zone
      {"125", "  0.  CR", "  1.25  "},      // unsigned counts as plus
      {"12N", "  0.  &CR*", "  1.25 CR*"},  // the asterisk is no sign symbol
      {"12E", "  0.  &CR*", "  1.25   *"},
      {"123E", "  CR  ", "12CR35"},  // a CR among the digits stays
  };
  TTestMachine t;
  uint16_t next = 500;
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto a = static_cast<uint16_t>(1010 + 40 * i);
    t.Field(a, cases[i].Data);
    t.Field(static_cast<uint16_t>(a + 20), cases[i].Edit);
    next = static_cast<uint16_t>(t.Instructions(next, {Op('E', a, a + 20u)}) - 1);
  }
  t.Instructions(next, {"."});
  t.Run(500);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto b = static_cast<uint16_t>(1030 + 40 * i);
    EXPECT_EQ(t.Text(b, static_cast<int>(std::string(cases[i].Edit).size())), cases[i].Result)
        << cases[i].Data << " in " << cases[i].Edit;
  }
}

TEST(MoveEdit, ScanLines) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 302, 403), "."});
  t.Field(302, "012");
  t.Field(403, "  0");
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.Text(403, 3), " 12");
  std::vector<std::string> expected = {
      "I00500 E 7 MCE Move Characters and Edit from 00302 to 00403",
      " MCE",
      " A=\"012\"",
      " B=\"  0\"",
      " Fwd scan",
      " AR=00301 BR=00403 CA=2   CB=0      B=\"  0\"",
      " Suppress ON",
      " AR=00300 BR=00402 CA=1   CB=    Z  B=\"  2\"",
      " AR=00299 BR=00401 CA=0   CB=  W Z  B=\" 12\"",
      " Rev scan",
      " BR=00401   CB=0   Z  B=\"012\"",
      " >>Suppressed",
      " BR=00402   CB=1   Z  B=\" 12\"",
      " Suppress OFF",
      " BR=00403   CB=2 W    B=\" 12\"",
      " Suppress OFF",
      " AR=00300 BR=00404 CA=0   CB=2 W    B=\" 12\"",
      " End of MCE",
      "R          AAReg=00300  BAReg=00404  IAReg=00507",
  };
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(lines[i], expected[i]) << i;
}

TEST(MoveEdit, ScanLinesNeedOnlyInstructionTracing) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 302, 403), "."});
  t.Field(302, "012");
  t.Field(403, "  0");
  t.M.TraceFlags.TraceInstructions = true;
  t.Run(500);
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], " MCE");
  EXPECT_EQ(t.Text(403, 3), " 12");
}

TEST(MoveEdit, EditWordWithoutWordMarkStopsAtTheAddressCheck) {
  TTestMachine t;
  t.Instructions(500, {Op('E', 302, 3), "."});
  t.Field(302, "12345");
  t.Field(3, "   ", false);
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::MachineCheck);
  EXPECT_EQ(t.StopMessage(), "Invalid Address: 0 used by 500");
  EXPECT_EQ(t.Text(3, 3), "345");
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// The expanded print edit: an asterisk or a dollar sign just left of the zero-suppression code
// takes a digit and protects the suppressed positions with asterisks, or floats a dollar sign
// to the left of the first significant digit.  Without the feature (or anywhere else in the
// edit word) they are edit characters as before.
TEST(ExpandedPrintEdit, AsteriskProtectionAndFloatingDollar) {
  struct TCase {
    bool Feature;
    const char* Data;
    const char* EditWord;
    const char* Result;
  } cases[] = {
      {true, "000012", " , *0.  ", "*****.12"},
      {true, "001234", " , *0.  ", "***12.34"},
      {true, "123456", " , *0.  ", "1,234.56"},
      {true, "000012", " , $0.  ", "    $.12"},
      {true, "001234", " , $0.  ", "  $12.34"},
      {true, "123456", " , $0.  ", "1,234.56"},  // no place left for the dollar sign
      {true, "000012", " *  0.  ", "     .12"},  // not next to the zero: suppressed as ever
      {false, "000012", " , *0.  ", "     .12"},
      {false, "000012", " , $0.  ", "   $ .12"},
  };
  for (const TCase& c : cases) {
    TTestMachine t;
    t.M.Registers.Features = c.Feature ? FEExpandedPrintEdit : 0;
    t.Instructions(500, {Op('E', 306, 408), "."});
    t.Field(306, c.Data);
    t.Field(408, c.EditWord);
    t.Run(500);
    ASSERT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
    const std::string expected = c.Result;
    EXPECT_EQ(t.Text(408, 8), std::string(8 - expected.size(), ' ') + expected)
        << c.Data << " in \"" << c.EditWord << "\"" << (c.Feature ? " with" : " without");
    for (uint16_t a = 401; a <= 408; ++a)
      EXPECT_FALSE(t.WordMarkAt(a)) << a;
  }
}

}  // namespace
}  // namespace kestrel::test

// Branch if bit equal: the bits of the d-character against the tested character, the chained
// form that tests the next position to the left, and the registers.
#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

TEST(BitEqual, BranchesWhenAnyBitOfTheDCharacterIsPresent) {
  struct TCase {
    char D;
    char Tested;
    bool Taken;
  } cases[] = {
      {'1', '1', true},  {'1', 'A', true},   // A is B, A and 1
      {'1', '2', false}, {'3', '2', true},   // 3 is 2 and 1: either bit will do
      {'-', 'J', true},  {'-', '/', false},  // the B bit; / has A and 1 only
      {'&', '/', true},  {'&', '5', false},  // & is B and A
      {'8', 'Y', true},  {'8', 'T', false},  // Y is A and 8; T is A, 2 and 1
      {' ', 'I', false},                     // a blank d-character has no bits
      {'?', '4', false},                     // ? is B, A, 8 and 2
  };
  for (const TCase& c : cases) {
    TTestMachine t;
    t.M.Registers.Features = FEBitTest;
    t.Instructions(500, {std::string("W") + Addr(600) + Addr(300) + c.D, "."});
    t.Instructions(600, {"."});
    t.Field(300, std::string(1, c.Tested));
    t.Run(500);
    EXPECT_EQ(t.R.InstrAddr, c.Taken ? 600 : 508) << c.D << " " << c.Tested;
    // Taken: BAR holds the return address; not taken: one below the tested position.
    EXPECT_EQ(t.R.BAR, c.Taken ? 508 : 299) << c.D << " " << c.Tested;
  }
}

// A 1-character W goes on with the registers and d-character of the one before: the three
// positions of a field, right to left.
TEST(BitEqual, ChainedTestsWalkLeftAndTraceTheCharacters) {
  TTestMachine t;
  t.M.Registers.Features = FEBitTest;
  t.Instructions(500, {std::string("W") + Addr(700) + Addr(302) + "4", "W", "W", "."});
  t.Instructions(700, {"."});
  t.Field(302, "D21");  // only the high-order D (AB 4) has the 4 bit
  t.TraceAll();
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 700);
  EXPECT_EQ(t.R.BAR, 510);  // the return address after the third W at 509
  auto lines = t.Trace();
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], "I00500 W 8 BBE Branch if Bit Equal at 00302 (\"1\") to \"4\" to 00700");
}

}  // namespace
}  // namespace kestrel::test

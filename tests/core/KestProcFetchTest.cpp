// The instruction fetch: lengths, the registers each length loads, the d-modifier, the ends that
// are not word marks, and the checks with the registers they leave.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

struct TFetched {
  uint16_t InstrAddr, IAR, AAR, BAR;
  int ILen;
  char Opcode, DMod;
};

TFetched FetchAt(TTestMachine& t, uint16_t at) {
  t.R.IAR = at;
  t.M.Cpu.FetchInstruction();
  return {t.R.InstrAddr,      t.R.IAR, t.R.AAR, t.R.BAR, t.R.ILen, BcdToChar(t.R.Opcode),
          BcdToChar(t.R.DMod)};
}

// Places text with a word mark on its first character and one after it.
void Place(TTestMachine& t, uint16_t at, const std::string& text) {
  t.Instructions(at, {text});
}

class InstructionFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    t.R.AAR = 111;
    t.R.BAR = 222;
    t.R.DMod = CharToBcd('Q');
  }
  TTestMachine t;
};

TEST_F(InstructionFetch, OneCharacterKeepsTheRegisters) {
  Place(t, 500, "A");
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 1);
  EXPECT_EQ(f.InstrAddr, 500);
  EXPECT_EQ(f.IAR, 501);
  EXPECT_EQ(f.AAR, 111);
  EXPECT_EQ(f.BAR, 222);
  EXPECT_EQ(f.DMod, 'Q');
  EXPECT_EQ(f.Opcode, 'A');
}

TEST_F(InstructionFetch, TwoCharactersSetOnlyTheDModifier) {
  Place(t, 500, "N5");
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 2);
  EXPECT_EQ(f.DMod, '5');
  EXPECT_EQ(f.AAR, 111);
  EXPECT_EQ(f.IAR, 502);
}

TEST_F(InstructionFetch, FourCharactersLoadBothRegistersExceptForLMQH) {
  // L, M and H keep BAR; Q puts its address into BAR alone and keeps AAR.
  Place(t, 500, "A" + Addr(1234));
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 4);
  EXPECT_EQ(f.AAR, 1234);
  EXPECT_EQ(f.BAR, 1234);
  EXPECT_EQ(f.DMod, Addr(1234)[0]);
  for (char op : {'L', 'M', 'Q', 'H'}) {
    t.R.AAR = 111;
    t.R.BAR = 222;
    Place(t, 600, op + Addr(4321));
    f = FetchAt(t, 600);
    EXPECT_EQ(f.AAR, op == 'Q' ? 111 : 4321) << op;
    EXPECT_EQ(f.BAR, op == 'Q' ? 4321 : 222) << op;
  }
}

TEST_F(InstructionFetch, FiveSevenAndEightCharacters) {
  Place(t, 500, "B" + Addr(700) + "/");
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 5);
  EXPECT_EQ(f.DMod, '/');
  EXPECT_EQ(f.IAR, 505);

  Place(t, 510, "M" + Addr(300) + Addr(15999));
  f = FetchAt(t, 510);
  EXPECT_EQ(f.ILen, 7);
  EXPECT_EQ(f.AAR, 300);
  EXPECT_EQ(f.BAR, 15999);
  EXPECT_EQ(f.DMod, Addr(15999)[0]);

  Place(t, 520, "V" + Addr(300) + Addr(400) + "K");
  f = FetchAt(t, 520);
  EXPECT_EQ(f.ILen, 8);
  EXPECT_EQ(f.DMod, 'K');
  EXPECT_EQ(f.IAR, 528);
}

TEST_F(InstructionFetch, LongerInstructionsCountAsEightWithTheLastDModifier) {
  Place(t, 500, "N" + Addr(300) + Addr(400) + "XYZ");
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 8);
  EXPECT_EQ(f.DMod, 'Z');
  EXPECT_EQ(f.IAR, 510);
}

TEST_F(InstructionFetch, EndsThatAreNotWordMarks) {
  // A branch of four characters followed by a blank without word mark.
  t.Field(505, "B" + Addr(700) + " 9", false);
  t.Core.SetWordMark(500, true);
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 4);
  EXPECT_EQ(f.IAR, 504);
  // Set word mark and clear storage end at seven on a position without word mark.
  for (char op : {',', '/'}) {
    t.Field(608, op + Addr(300) + Addr(400) + "12", false);
    t.Core.SetWordMark(600, true);
    f = FetchAt(t, 600);
    EXPECT_EQ(f.ILen, 7) << op;
    EXPECT_EQ(f.IAR, 607) << op;
  }
  // Any other op code reads on to the next word mark.
  t.Field(708, "M" + Addr(300) + Addr(400) + "12", false);
  t.Core.SetWordMark(700, true);
  t.Core.SetWordMark(709, true);
  f = FetchAt(t, 700);
  EXPECT_EQ(f.ILen, 8);
  EXPECT_EQ(f.DMod, '2');
  EXPECT_EQ(f.IAR, 709);
}

TEST_F(InstructionFetch, PercentAddressSelectsAUnit) {
  Place(t, 500, "M%U1" + Addr(400));
  TFetched f = FetchAt(t, 500);
  EXPECT_TRUE(t.R.IOFlag);
  EXPECT_EQ(BcdToChar(t.R.IOUnitType), 'U');
  EXPECT_EQ(BcdToChar(t.R.IOUnitNum), '1');
  EXPECT_EQ(f.AAR, 0);
  EXPECT_EQ(f.BAR, 400);
  Place(t, 510, "A" + Addr(300));
  FetchAt(t, 510);
  EXPECT_FALSE(t.R.IOFlag);
}

TEST_F(InstructionFetch, IndexRegistersAddToTheAddress) {
  t.Field(89, Addr(1000));
  t.Field(94, Addr(20));
  std::string a = Addr(300);
  a[1] = BcdToChar(static_cast<uint8_t>(CharToBcd(a[1]) | Bcd::AZone));
  std::string b = Addr(400);
  b[1] = BcdToChar(static_cast<uint8_t>(CharToBcd(b[1]) | Bcd::BZone));
  Place(t, 500, "M" + a + b);
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.AAR, 1300);
  EXPECT_EQ(f.BAR, 420);
  // The sum goes past 15999 and starts again at 0, as the machine's address adder does; the
  // character-by-character fetch (the % unit forces it) agrees.
  t.Field(99, Addr(15999));
  std::string wrap = Addr(93);
  wrap[1] = BcdToChar(static_cast<uint8_t>(CharToBcd(wrap[1]) | Bcd::AZone | Bcd::BZone));
  Place(t, 600, "M" + wrap + wrap);
  f = FetchAt(t, 600);
  EXPECT_EQ(f.AAR, 92);
  EXPECT_EQ(f.BAR, 92);
  Place(t, 700, "M%U1" + wrap);
  f = FetchAt(t, 700);
  EXPECT_EQ(f.BAR, 92);
}

TEST_F(InstructionFetch, ChecksAndTheRegistersTheyLeave) {
  auto check = [&](uint16_t at, const std::string& message, uint16_t iar) {
    t.R.IAR = at;
    try {
      t.M.Cpu.FetchInstruction();
      ADD_FAILURE() << "no check at " << at;
    } catch (const EProcessCheck& e) {
      EXPECT_EQ(e.FullText(), message);
    }
    EXPECT_EQ(t.R.IAR, iar) << message;
    EXPECT_EQ(t.R.InstrAddr, at) << message;
  };
  t.Field(500, "A", false);
  check(500, "Missing WordMark at 500", 501);
  Place(t, 510, "A12");  // length 3
  check(510, "Unexpected WordMark at 513", 514);
  Place(t, 520, "A" + Addr(300) + "12");  // length 6
  check(520, "Unexpected WordMark at 526", 527);
  Place(t, 530, "A3#0");
  check(530, "Bad Address character: $0B used at 530", 534);
  // A fetch that runs off the end of core.
  t.Field(7999, "A" + Addr(300), false);
  t.Core.SetWordMark(7996, true);
  check(7996, "Invalid Address: 8000 used by 7996", 8000);
}

TEST_F(InstructionFetch, ReadStopsAndChecksOnlyForThePositionsRead) {
  // The fetch reads the instruction and the character that ends it, nothing beyond.
  Place(t, 500, "A" + Addr(300));
  t.Core.ReadStopAddress = 506;
  t.Core.UninitializedCheck = true;  // 506 and on were never written
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 4);
  EXPECT_EQ(t.R.State, CpuState::ReaderEmpty);
  t.Core.ReadStopAddress = 504;  // the word mark that ends it is read
  f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 4);
  EXPECT_EQ(t.R.State, CpuState::SingleStep);
  EXPECT_EQ(t.StopMessage(), "Storage at 00504 accessed");
}

TEST_F(InstructionFetch, UninitializedCheckInsideTheInstruction) {
  t.Core.StoreCharWM(500, true, CharToBcd('A'));
  t.Core.StoreCharWM(501, false, CharToBcd('3'));
  t.Core.StoreCharWM(504, true, 0);  // 502 and 503 were never written
  t.Core.UninitializedCheck = true;
  t.R.IAR = 500;
  try {
    t.M.Cpu.FetchInstruction();
    ADD_FAILURE() << "no check";
  } catch (const EProcessCheck& e) {
    EXPECT_EQ(e.FullText(), "Read from Uninitialized Core at: 502");
  }
  EXPECT_EQ(t.R.IAR, 502);
}

TEST_F(InstructionFetch, InstructionsAtTheEndOfCore) {
  Place(t, 7991, "M" + Addr(300) + Addr(400));  // its closing word mark at 7998
  TFetched f = FetchAt(t, 7991);
  EXPECT_EQ(f.ILen, 7);
  EXPECT_EQ(f.IAR, 7998);
  Place(t, 7995, "A" + Addr(300));  // closing word mark at 7999, the last position
  f = FetchAt(t, 7995);
  EXPECT_EQ(f.ILen, 4);
  EXPECT_EQ(f.AAR, 300);
}

// An instruction met again is not decoded again, but a store into its text, its word marks
// included, is seen at its next fetch, and so is a read stop set on it after it ran.
TEST(DecodedInstructions, FollowStoresIntoThemAndTheStops) {
  TTestMachine t;
  t.Field(700, "1");
  t.Field(705, "2");
  t.Field(710, "0000");
  t.Field(720, "705");  // an address
  t.Field(730, "1");
  t.Field(735, "3");  // passes
  t.Field(740, "?");  // plus zero
  // 500 A 700 710: adds the field at 700, until 507 M 720 503 makes it the field at 705.
  t.Instructions(
      500, {"A" + Addr(700) + Addr(710), "M" + Addr(720) + Addr(503), "S" + Addr(730) + Addr(735),
            "C" + Addr(740) + Addr(735), "B" + Addr(500) + "/", "."});
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::ProgramHalt) << t.StopMessage();
  EXPECT_EQ(t.Text(710, 4), "0005");  // 1 + 2 + 2

  // A word mark set inside the add makes it a 4-character one: the field at 705 doubles.
  t.Field(735, "1");
  t.Core.SetWordMark(504, true);
  t.Instructions(504, {"."});
  t.Run(500);
  EXPECT_EQ(t.R.IAR, 505);
  EXPECT_EQ(t.Text(705, 1), "4");

  // A read stop on the add's text: the next run stops in its fetch.
  t.Core.ReadStopAddress = 502;
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::SingleStep);
  EXPECT_EQ(t.StopMessage(), "Storage at 00502 accessed");
}

// The one-pass fetch must be indistinguishable from the character-by-character one: over many
// random instructions (op codes that have fetch rules of their own among them, any characters
// and word marks, index registers, % units, read stops and unwritten positions), wherever the
// one-pass fetch accepts an instruction the other leaves the same registers and raises no check.
TEST(InstructionFetchPaths, OnePassAndCharacterByCharacterAgree) {
  TTestMachine fast;
  TTestMachine slow;
  std::mt19937 random(1401);
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  const std::string opcodes = "B/,LMQHACDZ.U%";
  // A small core: each trial clears it.
  fast.Core.SetCoreSize(1000);
  slow.Core.SetCoreSize(1000);
  int accepted = 0;
  int declined = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    const uint16_t at = static_cast<uint16_t>(400 + pick(200));
    // An op code, then address-like characters most of the time, and any character else.
    uint8_t codes[10];
    bool marks[10];
    codes[0] = CharToBcd(opcodes[pick(static_cast<unsigned>(opcodes.size()))]);
    marks[0] = pick(20) != 0;
    for (int k = 1; k < 10; ++k) {
      codes[k] = static_cast<uint8_t>(pick(3) != 0 ? 1 + pick(10) : pick(64));
      marks[k] = pick(4) == 0;
    }
    const bool uninitialized = pick(8) == 0;
    const uint16_t readStop = pick(8) == 0 ? static_cast<uint16_t>(at + pick(10)) : 0;
    const uint8_t dmod = static_cast<uint8_t>(pick(64));

    for (TTestMachine* t : {&fast, &slow}) {
      // Cleared core is unwritten; the index registers and the instruction are written again,
      // all but one position when the uninitialised-read check is to find one.
      t->Core.UninitializedCheck = false;
      t->Core.ReadStopAddress = 0;
      t->Core.ClearCore();
      t->Field(89, "123");
      t->Field(94, "456");
      t->Field(99, "789");
      for (int k = 0; k < 10; ++k) {
        if (uninitialized && k == 5) continue;
        t->Core.StoreCharWM(static_cast<uint16_t>(at + k), marks[k], codes[k]);
      }
      t->Core.UninitializedCheck = uninitialized;
      t->Core.ReadStopAddress = readStop;
      t->R.IAR = at;
      t->R.AAR = 111;
      t->R.BAR = 222;
      t->R.DMod = dmod;
      t->R.State = CpuState::Running;
    }

    if (!fast.M.Cpu.FetchFast()) {
      ++declined;
      continue;
    }
    ++accepted;
    std::string check;
    try {
      slow.M.Cpu.FetchByCharacter();
    } catch (const E1401Exception& e) {
      check = e.FullText();
    }
    const TRegisters& a = fast.R;
    const TRegisters& b = slow.R;
    const std::string where = "trial " + std::to_string(trial) + " at " + std::to_string(at);
    ASSERT_EQ(check, "") << where;
    ASSERT_EQ(a.InstrAddr, b.InstrAddr) << where;
    ASSERT_EQ(int{a.ILen}, int{b.ILen}) << where;
    ASSERT_EQ(a.IAR, b.IAR) << where;
    ASSERT_EQ(a.AAR, b.AAR) << where;
    ASSERT_EQ(a.BAR, b.BAR) << where;
    ASSERT_EQ(int{a.Opcode}, int{b.Opcode}) << where;
    ASSERT_EQ(int{a.DMod}, int{b.DMod}) << where;
    ASSERT_EQ(a.IOFlag, b.IOFlag) << where;
    ASSERT_EQ(a.State, b.State) << where;
  }
  // Both outcomes must be common, or the comparison proves little.
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(declined, 1000);
}

}  // namespace
}  // namespace kestrel::test

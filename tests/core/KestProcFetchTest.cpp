// The instruction fetch: lengths, the registers each length loads, the d-modifier, the ends that
// are not word marks, and the checks with the registers they leave.
#include <gtest/gtest.h>

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
  Place(t, 500, "A" + Addr(1234));
  TFetched f = FetchAt(t, 500);
  EXPECT_EQ(f.ILen, 4);
  EXPECT_EQ(f.AAR, 1234);
  EXPECT_EQ(f.BAR, 1234);
  EXPECT_EQ(f.DMod, Addr(1234)[0]);
  for (char op : {'L', 'M', 'Q', 'H'}) {
    t.R.BAR = 222;
    Place(t, 600, op + Addr(4321));
    f = FetchAt(t, 600);
    EXPECT_EQ(f.AAR, 4321) << op;
    EXPECT_EQ(f.BAR, 222) << op;
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

}  // namespace
}  // namespace kestrel::test

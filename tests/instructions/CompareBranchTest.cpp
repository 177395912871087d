#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

// Records the device requests the branch instructions send.
class TDeviceRecorder : public IMessageReceiver {
 public:
  void HandleMessage(const TMessage& message) override {
    auto* command = static_cast<DeviceCommand*>(message.Ref);
    Requests.push_back({command->Operation, command->Selector});
  }
  std::vector<std::pair<int, int>> Requests;
};

struct TCompareCase {
  const char* A;
  const char* B;
  bool Equal;
  bool Low;
};

TEST(Compare, IndicatorsFromTheFields) {
  const TCompareCase cases[] = {
      {"123", "123", true, false},
      {"B", "A", false, true},     // the B character collates lower
      {"A", "B", false, false},    // high
      {"19", "91", false, false},  // the high-order position decides: B is higher
      {"91", "19", false, true},
      {"1", "0", false, true},  // digits collate above letters, and 0 below 1
      {"A", "1", false, false},
      {" ", "&", false, false},
  };
  for (const TCompareCase& c : cases) {
    TTestMachine t;
    t.Field(300, c.A);
    t.Field(400, c.B);
    t.Instructions(500, {"C" + Addr(300) + Addr(400), "."});
    t.Run(500);
    EXPECT_EQ(t.R.EqualIndicator, c.Equal) << c.A << " " << c.B;
    EXPECT_EQ(t.R.LowIndicator, c.Low) << c.A << " " << c.B;
  }
}

// The 64 codes in ascending order, each in a place of its own: one program compares every code
// with the next, both ways round, as IBM's high-low-equal test does.
TEST(Compare, EveryCodeCollatesInAPlaceOfItsOwn) {
  const uint8_t ascending[64] = {0,  59, 60, 61, 62, 63, 48, 43, 44, 45, 46, 47, 32, 17, 27, 28,
                                 29, 30, 31, 16, 11, 12, 13, 14, 15, 58, 49, 50, 51, 52, 53, 54,
                                 55, 56, 57, 42, 33, 34, 35, 36, 37, 38, 39, 40, 41, 26, 18, 19,
                                 20, 21, 22, 23, 24, 25, 10, 1,  2,  3,  4,  5,  6,  7,  8,  9};
  TTestMachine t;
  for (int i = 0; i + 1 < 64; ++i) {
    for (bool higherInB : {true, false}) {
      const uint8_t a = ascending[higherInB ? i : i + 1];
      const uint8_t b = ascending[higherInB ? i + 1 : i];
      t.Core.StoreCharWM(300, true, a);
      t.Core.StoreCharWM(400, true, b);
      t.Instructions(500, {"C" + Addr(300) + Addr(400), "."});
      t.Run(500);
      EXPECT_FALSE(t.R.EqualIndicator) << int{a} << " " << int{b};
      EXPECT_EQ(t.R.LowIndicator, !higherInB) << int{a} << " " << int{b};
    }
  }
}

TEST(Compare, LongerBFieldEndsUnequalAtTheAWordMark) {
  TTestMachine t;
  t.TraceAll();
  t.Field(300, "12");
  t.Field(400, "312");
  t.Instructions(500, {"C" + Addr(300) + Addr(400), "."});
  t.Run(500);
  EXPECT_FALSE(t.R.EqualIndicator);
  EXPECT_FALSE(t.R.LowIndicator);
  EXPECT_EQ(t.R.AAR, 298);  // the A word mark's position was read but not compared
  EXPECT_EQ(t.R.BAR, 398);
  Lines trace = t.Trace();
  EXPECT_EQ(trace[0], "I00500 C 7 C   Compare 00300 to 00400 \"12\" \"312\"");
  EXPECT_EQ(trace[1], "D          00300 00400 \"2 2\" ->  Equal High");
  EXPECT_EQ(trace[2], "R          AAReg=00298  BAReg=00398  IAReg=00507");
}

TEST(Compare, LongerAFieldIsReadOnlyAsFarAsTheBField) {
  TTestMachine t;
  t.Field(300, "912");
  t.Field(400, "12");
  t.Instructions(500, {"C" + Addr(300) + Addr(400), "."});
  t.Run(500);
  EXPECT_TRUE(t.R.EqualIndicator);
  EXPECT_EQ(t.R.AAR, 298);
}

// Compare sets the indicators, then the 5-character branch tests one.
struct TBranchCase {
  const char* A;
  const char* B;
  char D;
  bool Taken;
};

TEST(BranchOnIndicator, AfterCompare) {
  const TBranchCase cases[] = {
      {"12", "12", 'S', true}, {"12", "12", '/', false}, {"B", "A", 'T', true},
      {"B", "A", 'U', false},  {"A", "B", 'U', true},    {"A", "B", '/', true},
  };
  for (const TBranchCase& c : cases) {
    TTestMachine t;
    t.Field(300, c.A);
    t.Field(400, c.B);
    t.Instructions(500, {"C" + Addr(300) + Addr(400), "B" + Addr(700) + c.D, "."});
    t.Instructions(700, {"."});
    t.Run(500);
    EXPECT_EQ(t.R.InstrAddr, c.Taken ? 700 : 512) << c.A << c.B << c.D;
    // Taken: BAR holds the return address; not taken: 100 times the d-modifier's code.
    EXPECT_EQ(t.R.BAR, c.Taken ? 512 : CharToBcd(c.D) * 100) << c.A << c.B << c.D;
  }
}

TEST(BranchOnIndicator, OverflowIsResetByTheTest) {
  TTestMachine t;
  t.R.OverflowIndicator = true;
  t.Instructions(500, {"B" + Addr(600) + "Z"});
  t.Instructions(600, {"B" + Addr(700) + "Z", "."});
  t.Instructions(700, {"."});
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 605);  // the second test finds it off
  EXPECT_FALSE(t.R.OverflowIndicator);
}

TEST(BranchOnIndicator, SenseSwitchesAndTraceText) {
  TTestMachine t;
  t.TraceAll();
  t.R.SetSenseSwitch(2, true);  // C
  t.Instructions(500, {"B" + Addr(600) + "C"});
  t.Instructions(600, {"B" + Addr(700) + "D", "."});
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 605);
  EXPECT_EQ(t.Trace()[0], "I00500 B 5 B   Branch if Indicator On \"C\" (Switch C) to 00600");
}

TEST(BranchOnIndicator, CarriageChannelsAskThePrinterAndEndOfReelClearsTheTape) {
  TTestMachine t;
  TDeviceRecorder printer, tapes;
  t.Messenger.Attach(TReceiver::Printer, &printer);
  t.Messenger.Attach(TReceiver::TapeUnits, &tapes);
  t.R.EndOfReelIndicator = true;
  t.Instructions(500, {"B" + Addr(510) + "9"});
  t.Instructions(510, {"B" + Addr(520) + "@"});
  t.Instructions(520, {"B" + Addr(530) + "K"});
  t.Instructions(530, {"."});
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 530);  // line count 0 is a multiple of 50 and 66
  EXPECT_EQ(printer.Requests, (std::vector<std::pair<int, int>>{{9, 0}, {9, 0}}));
  EXPECT_EQ(tapes.Requests, (std::vector<std::pair<int, int>>{{30, 1}}));
}

// The error indicators of the check-stop switches: each branch finds its own indicator, names it
// in the trace and turns it off, so a second test falls through; the others stay as they were.
TEST(BranchOnIndicator, ErrorIndicatorsAreTestedAndTurnedOff) {
  struct TCase {
    const char* D;
    TShared<bool> TRegisters::*Indicator;
    const char* Name;
  };
  const std::vector<TCase> cases = {
      {"r", &TRegisters::PrinterErrorIndicator, "Printer Error"},
      {"%", &TRegisters::ProcessErrorIndicator, "Process Error"},
      {"!", &TRegisters::PunchErrorIndicator, "Punch Error"},
      {"?", &TRegisters::ReaderErrorIndicator, "Reader Error"},
  };
  for (const TCase& c : cases) {
    TTestMachine t;
    t.TraceAll();
    for (const TCase& other : cases)
      (t.R.*other.Indicator) = true;
    t.Instructions(500, {"B" + Addr(600) + c.D});
    t.Instructions(600, {"B" + Addr(700) + c.D, "."});
    t.Instructions(700, {"."});
    t.Run(500);
    EXPECT_EQ(t.R.InstrAddr, 605) << c.D;  // taken once, then off
    for (const TCase& other : cases)
      EXPECT_EQ(bool(t.R.*other.Indicator), other.Indicator != c.Indicator) << c.D << other.D;
    EXPECT_EQ(t.Trace()[0], std::string("I00500 B 5 B   Branch if Indicator On \"") + c.D + "\" (" +
                                c.Name + ") to 00600");
  }
  // Off, none of them branches.
  TTestMachine t;
  t.Instructions(500, {"B" + Addr(700) + "r", "B" + Addr(700) + "%", "B" + Addr(700) + "!",
                       "B" + Addr(700) + "?", "."});
  t.Instructions(700, {"."});
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 520);
}

// Tape, printer and carriage busy: every operation is done when its instruction ends, so none
// branches, each named in the trace.
TEST(BranchOnIndicator, BusyIndicatorsAreNeverOn) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"B" + Addr(700) + "J", "B" + Addr(700) + "P", "B" + Addr(700) + "R", "."});
  t.Instructions(700, {"."});
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 515);
  EXPECT_EQ(t.Trace()[0], "I00500 B 5 B   Branch if Indicator On \"J\" (Tape Busy) to 00700");
}

TEST(BranchOnIndicator, InvalidModifier) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"B" + Addr(600) + "X"});
  t.Run(500);
  EXPECT_EQ(t.StopMessage(), "Invalid d-char: X at 504");
  EXPECT_EQ(t.Trace()[0], "I00500 B 5 B   Branch INVALID d-char: X");
}

TEST(Branch, UnconditionalAndCharacterEqual) {
  TTestMachine t;
  t.TraceAll();
  t.Field(800, "X", false);
  t.Field(799, "Q", false);
  t.Instructions(500, {"B" + Addr(600)});
  // Not taken (X is not Q); then the 1-character B repeats the test one position lower with
  // the same d-modifier, and is taken.
  t.Instructions(600, {"B" + Addr(700) + Addr(800) + "Q", "B", "."});
  t.Instructions(700, {"."});
  t.Run(500);
  Lines trace = t.Trace();
  EXPECT_EQ(trace[0], "I00500 B 4 B   Branch  to 00600");
  EXPECT_EQ(trace[2],
            "I00600 B 8 B   Branch if Character Equal at 00800 (\"X\") to \"Q\" to 00700");
  EXPECT_EQ(trace[4],
            "I00608 B 1 B   Branch if Character Equal at 00799 (\"Q\") to \"Q\" to 00700");
  EXPECT_EQ(t.R.InstrAddr, 700);
  EXPECT_EQ(t.R.BAR, 609);
}

TEST(Branch, SevenCharactersIsUnconditionalAndOtherLengthsAreRefused) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"B" + Addr(600) + Addr(800)});
  t.Instructions(600, {"."});
  t.Run(500);
  EXPECT_EQ(t.Trace()[0], "I00500 B 7 B   Branch  (3 extra characters will be ignored) to 00600");
  EXPECT_EQ(t.R.BAR, 507);

  TTestMachine u;
  u.Instructions(500, {"BS"});
  u.Run(500);
  EXPECT_EQ(u.StopMessage(), "Invalid Branch instruction length at 500");
}

TEST(BranchWordMarkZone, ConditionsAndMark) {
  TTestMachine t;
  t.TraceAll();
  t.Field(800, "J", false);  // B zone
  t.Instructions(500, {"V" + Addr(600) + Addr(800) + "K"});
  t.Instructions(600, {"."});
  t.Run(500);
  EXPECT_EQ(t.R.InstrAddr, 600);
  EXPECT_EQ(t.R.BAR, 508);
  EXPECT_EQ(t.Trace()[0], "I00500 V 8 BWZ Branch to 00600 If WM/Z at 00800(.B.) matches: B-Zone");

  TTestMachine u;
  u.Field(800, "S");  // word mark, A zone
  u.Instructions(500, {"V" + Addr(600) + Addr(800) + "2", "."});
  u.Instructions(600, {"."});
  u.Run(500);
  EXPECT_EQ(u.R.InstrAddr, 508);  // not taken: there is a zone
  EXPECT_EQ(u.R.BAR, 799);
}

TEST(BranchWordMarkZone, TheDCharacterIsReadByItsBits) {
  // The 1 bit tests the word mark, the 2 bit the zone named by the d-character's zone bits.
  struct Case {
    char D;
    const char* Char;
    bool WordMark;
    bool Taken;
    const char* Condition;
  };
  const Case cases[] = {
      {'Z', "S", true, true, "Word Mark"},  // A-8-1: the word mark test only
      {'Z', "S", false, false, "Word Mark"},  {'9', "5", true, true, "Word Mark"},
      {'2', "5", false, true, "No Zone"},     {'2', "E", true, false, "No Zone"},
      {'S', "T", false, true, "A-Zone"},      {'K', "J", false, true, "B-Zone"},
      {'B', "A", false, true, "AB-Zone"},     {'B', "J", false, false, "AB-Zone"},
      {'T', "5", true, true, "A-Zone or WM"}, {'X', "S", false, true, "A-Zone or WM"},  // A-4-2-1
      {'4', "5", true, false, "Nothing"},  // neither bit: no test at all
  };
  for (const Case& c : cases) {
    TTestMachine t;
    t.TraceAll();
    t.Field(800, c.Char, c.WordMark);
    t.Instructions(500, {"V" + Addr(600) + Addr(800) + c.D, "."});
    t.Instructions(600, {"."});
    t.Run(500);
    EXPECT_EQ(t.R.InstrAddr, c.Taken ? 600 : 508) << c.D << " " << c.Char;
    EXPECT_EQ(t.Trace()[0].substr(t.Trace()[0].find("matches: ") + 9), c.Condition) << c.D;
  }
}

TEST(Halt, WithResumeAddress) {
  TTestMachine t;
  t.TraceAll();
  t.Instructions(500, {"." + Addr(600)});
  t.Instructions(600, {"."});
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.R.IAR, 600);
  EXPECT_EQ(t.R.BAR, 504);
  EXPECT_EQ(t.Trace()[0], "I00500 . 4 H   HALT Resume at 00600");
  t.Run();
  EXPECT_EQ(t.R.InstrAddr, 600);
}

}  // namespace
}  // namespace kestrel::test

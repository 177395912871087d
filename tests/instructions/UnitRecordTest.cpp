#include <gtest/gtest.h>

#include <algorithm>

#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

// Records the requests that reach a device, in one log shared by both devices.
class TRecorder : public IMessageReceiver {
 public:
  TRecorder(const char* name, Lines& log) : name_(name), log_(log) {}
  void HandleMessage(const TMessage& message) override {
    auto* command = static_cast<DeviceCommand*>(message.Ref);
    log_.push_back(std::string(name_) + " " + std::to_string(command->Operation) + "/" +
                   std::to_string(command->Selector));
  }

 private:
  const char* name_;
  Lines& log_;
};

// A machine whose devices only record.
struct TRecordingMachine {
  TRecordingMachine() {
    T.Messenger.Attach(TReceiver::ReaderPunch, &Reader);
    T.Messenger.Attach(TReceiver::Printer, &Printer);
  }
  TTestMachine T;
  Lines Log;
  TRecorder Reader{"RDR", Log};
  TRecorder Printer{"PRN", Log};
};

// A machine with the real devices and a few cards in the hopper.
struct TCardMachine {
  explicit TCardMachine(const std::string& deck = "CARD ONE\nCARD TWO\n") {
    T.Messenger.SetErrorReporter([this](const std::string& e) { Errors.push_back(e); });
    if (!deck.empty()) T.M.ReaderPunch.LoadDeck(Dir.Write("DECK.CRD", deck), false);
    T.Field(332, std::string(132, ' '), false);
    T.Field(180, std::string(80, ' '), false);
  }
  TScratchDir Dir;
  TTestMachine T;
  Lines Errors;
};

std::string Card(const std::string& text) {
  return text + std::string(80 - text.size(), ' ');
}

TEST(ReadCard, OneCharacterReadsAndLeavesBARAfterTheArea) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"1", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.Text(80, 80), Card("CARD ONE"));
  EXPECT_EQ(m.T.R.BAR, 81);
  EXPECT_EQ(m.T.State(), CpuState::ProgramHalt);
  EXPECT_EQ(m.T.Trace()[0], "I00500 1 1 R   Read Card");
  EXPECT_EQ(m.T.Trace()[1], "R          AAReg=00000  BAReg=00081  IAReg=00501");
}

TEST(ReadCard, WithAnAddressItBranches) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"1" + Addr(600)});
  m.T.Instructions(600, {"."});
  m.T.Run(500);
  EXPECT_EQ(m.T.Text(80, 80), Card("CARD ONE"));
  EXPECT_EQ(m.T.R.BAR, 504);  // the return address
  EXPECT_EQ(m.T.R.InstrAddr, 600);
  EXPECT_EQ(m.T.Trace()[0], "I00500 1 4 R   Read Card and Branch to 00600");
}

// Branch A is the last card switch: taken once the hopper's last card has been read, until cards
// come into the hopper again; or while sense switch A is on.
TEST(ReadCard, LastCardBranchesOnA) {
  TCardMachine m;
  auto branchesAfter = [&m](std::initializer_list<std::string> program) {
    m.T.Instructions(500, program);
    m.T.Instructions(900, {"."});
    m.T.Run(500);
    return m.T.R.InstrAddr == 900;
  };
  const std::string testA = "B" + Addr(900) + "A";
  EXPECT_FALSE(branchesAfter({testA, "."}));       // nothing read yet
  EXPECT_FALSE(branchesAfter({"1", testA, "."}));  // one card left
  EXPECT_TRUE(branchesAfter({"1", testA, "."}));   // the last one read
  EXPECT_TRUE(branchesAfter({testA, "."}));        // and it stays on
  m.T.M.ReaderPunch.LoadDeck(m.Dir.Write("MORE.CRD", "CARD THREE\n"), false);
  EXPECT_FALSE(branchesAfter({testA, "."}));  // cards in the hopper again
  m.T.R.SetSenseSwitch(0, true);
  EXPECT_TRUE(branchesAfter({testA, "."}));  // the switch by itself
  m.T.R.SetSenseSwitch(0, false);
  EXPECT_TRUE(branchesAfter({"1", testA, "."}));
  m.T.M.ReaderPunch.PocketToHopper(StackerReadN);  // the operator puts the cards back
  EXPECT_FALSE(branchesAfter({testA, "."}));
  m.T.M.ReaderPunch.Reset();
  EXPECT_FALSE(m.T.R.LastCardIndicator);
  EXPECT_TRUE(m.Errors.empty());
}

TEST(ReadCard, EmptyReaderEndsTheRunAfterTheInstruction) {
  TCardMachine m("");
  m.T.Instructions(500, {"1", "2", "."});
  m.T.Run(500);
  EXPECT_EQ(m.Errors, Lines{"Card reader empty"});
  EXPECT_EQ(m.T.State(), CpuState::MachineCheck);
  EXPECT_EQ(m.T.R.BAR, 81);  // the register update still happened
  EXPECT_EQ(m.T.R.IAR, 501);
  EXPECT_TRUE(m.T.M.Printer.PrintList().empty());
}

TEST(ReadCard, EmptyReaderIsTheStopMessageNotTheStopBefore) {
  TCardMachine m("");
  m.T.Instructions(500, {"."});
  m.T.Run(500);
  ASSERT_EQ(m.T.StopMessage(), "Program Halt at");
  m.T.Instructions(600, {"1", "."});
  m.T.Run(600);
  EXPECT_EQ(m.T.State(), CpuState::MachineCheck);
  EXPECT_EQ(m.T.StopMessage(), "Card reader empty");
}

// With the reader's wait on, an empty hopper is the real reader's not-ready stop: each reading
// instruction stops at itself before anything is printed, read or punched, and Start then reads
// the cards put in, once.
TEST(ReadCard, TheWaitStopsEachReadingInstructionAtItselfUntilCardsComeIn) {
  for (const char* op : {"1", "3", "5", "7"}) {
    TCardMachine m("");
    m.T.M.ReaderPunch.SetWaitWhenEmpty(true);
    m.T.Field(210, "PRINTED", false);
    m.T.Field(107, "PUNCHED", false);
    m.T.Instructions(500, {op, "."});
    m.T.Run(500);
    EXPECT_EQ(m.T.State(), CpuState::ProgramHalt) << op;
    EXPECT_EQ(m.T.StopMessage(), "Card reader empty") << op;
    EXPECT_EQ(m.T.R.IAR, 500) << op;
    EXPECT_TRUE(m.T.M.Printer.PrintList().empty()) << op;
    EXPECT_TRUE(m.T.M.ReaderPunch.Pile(PLPunchN).empty()) << op;
    EXPECT_FALSE(m.T.M.ReaderPunch.OutOfCards()) << op;
    m.T.M.ReaderPunch.LoadDeck(m.Dir.Write("ONE.CRD", "CARD ONE\n"), false);
    m.T.Run(m.T.R.IAR);
    EXPECT_EQ(m.T.State(), CpuState::ProgramHalt) << op;
    EXPECT_EQ(m.T.R.InstrAddr, 501) << op;  // on to the halt
    EXPECT_EQ(m.T.Text(80, 80), Card("CARD ONE")) << op;
    const bool prints = std::string("37").find(op) != std::string::npos;
    const bool punches = std::string("57").find(op) != std::string::npos;
    EXPECT_EQ(m.T.M.Printer.PrintList().size(), prints ? 1u : 0u) << op;
    EXPECT_EQ(m.T.M.ReaderPunch.Pile(PLPunchN).size(), punches ? 1u : 0u) << op;
    EXPECT_TRUE(m.T.R.LastCardIndicator) << op;
    EXPECT_TRUE(m.Errors.empty()) << op;
  }
}

TEST(WriteLine, PrintsTheAreaAndLeavesBAR333) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Field(205, "HELLO", false);
  m.T.Instructions(500, {"2", "2" + Addr(600)});
  m.T.Instructions(600, {"."});
  m.T.Run(500);
  ASSERT_EQ(m.T.M.Printer.PrintList().size(), 2u);
  EXPECT_EQ(m.T.M.Printer.PrintList()[0].substr(0, 6), "HELLO ");
  EXPECT_EQ(m.T.Trace()[0], "I00500 2 1 W   Write Print line");
  EXPECT_EQ(m.T.Trace()[1], "R          AAReg=00000  BAReg=00333  IAReg=00501");
  EXPECT_EQ(m.T.Trace()[2], "I00501 2 4 W   Write Print line and Branch to 00600");
  EXPECT_EQ(m.T.R.BAR, 505);
}

TEST(WriteLine, TwoCharactersWithTheLozengePrintWordMarks) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Core.SetWordMark(203, true);
  m.T.Instructions(500, {"2o", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.M.Printer.PrintList()[0].substr(0, 4), "  1 ");
  EXPECT_EQ(m.T.Trace()[0], "I00500 2 2 W   Write Word Marks");
  EXPECT_EQ(m.T.R.BAR, 333);
}

TEST(WriteLine, AnyOtherModifierIsAProcessCheck) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"2A", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.State(), CpuState::MachineCheck);
  EXPECT_EQ(m.T.StopMessage(), "Invalid Print Modifier: $31 at 501");
  EXPECT_TRUE(m.T.M.Printer.PrintList().empty());
  EXPECT_EQ(m.T.Trace()[0], "I00500 2 2 W   Write Word Marks");
}

struct TCombinedCase {
  const char* Op;
  const char* Title;
  Lines Requests;
  uint16_t BAR;
};

TEST(CombinedInstructions, PrintThenReadThenPunch) {
  const TCombinedCase cases[] = {
      {"3", "WR  Write line and Read card", {"PRN 7/0", "RDR 6/0"}, 81},
      {"4", "P   Punch Card", {"RDR 7/0"}, 181},
      {"5", "RP  Read card and Punch card", {"RDR 6/0", "RDR 7/0"}, 181},
      {"6", "WP  Write line and Punch card", {"PRN 7/0", "RDR 7/0"}, 181},
      {"7", "WRP Write line, Read Card and Punch card", {"PRN 7/0", "RDR 6/0", "RDR 7/0"}, 181},
  };
  for (const TCombinedCase& c : cases) {
    TRecordingMachine m;
    m.T.TraceAll();
    m.T.Instructions(500, {c.Op, c.Op + Addr(600)});
    m.T.Instructions(600, {"."});
    m.T.Run(500);
    Lines twice = c.Requests;
    twice.insert(twice.end(), c.Requests.begin(), c.Requests.end());
    EXPECT_EQ(m.Log, twice) << c.Op;
    EXPECT_EQ(m.T.Trace()[0], std::string("I00500 ") + c.Op + " 1 " + c.Title) << c.Op;
    EXPECT_EQ(m.T.Trace()[1], "R          AAReg=00000  BAReg=" + Addr5(c.BAR) + "  IAReg=00501");
    EXPECT_EQ(m.T.Trace()[2],
              std::string("I00501 ") + c.Op + " 4 " + c.Title + " and Branch to 00600");
    EXPECT_EQ(m.T.R.BAR, 505) << c.Op;
    EXPECT_EQ(m.T.R.InstrAddr, 600) << c.Op;
  }
}

TEST(CombinedInstructions, WriteReadPunchWithTheRealDevices) {
  TCardMachine m;
  m.T.Field(210, "PRINTED", false);
  m.T.Field(107, "PUNCHED", false);
  m.T.Field(80, std::string(80, 'X'), false);
  m.T.Instructions(500, {"7", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.M.Printer.PrintList()[0].substr(0, 11), "   PRINTED ");
  EXPECT_EQ(m.T.Text(80, 80), Card("CARD ONE"));
  EXPECT_EQ(m.T.M.ReaderPunch.Pile(PLPunchN), TCardList{Card("PUNCHED")});
  EXPECT_FALSE(m.T.M.ReaderPunch.LastFeedWasRead());
  EXPECT_TRUE(m.Errors.empty());
}

TEST(StartFeed, ChangesNothing) {
  for (const char* op : {"8", "9"}) {
    TRecordingMachine m;
    m.T.TraceAll();
    m.T.Instructions(500, {"M" + Addr(300) + Addr(400), op, std::string(op) + Addr(700), "."});
    m.T.Field(300, "A");
    m.T.Field(400, "B");
    m.T.Run(500);
    EXPECT_TRUE(m.Log.empty()) << op;
    EXPECT_EQ(m.T.R.AAR, 700) << op;  // loaded by the fetch, nothing more
    EXPECT_EQ(m.T.R.BAR, 700) << op;
    EXPECT_EQ(m.T.State(), CpuState::ProgramHalt) << op;
  }
  TRecordingMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"8", "9", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.Trace()[0], "I00500 8 1 SRF Start Read Feed");
  EXPECT_EQ(m.T.Trace()[2], "I00501 9 1 SPF Start Punch Feed");
}

struct TCarriageCase {
  char D;
  const char* Text;
  uint16_t Selector;
};

TEST(ControlCarriage, ModifierGivesTheCarriageCount) {
  const TCarriageCase cases[] = {
      {'1', "Immediate skip to channel 1", 1001},
      {'0', "Immediate skip to channel 10", 1010},
      {'@', "Immediate skip to channel 12", 1012},
      {'/', "After print, space 1 lines", 1},
      {'T', "After print, space 3 lines", 3},
      {'J', "Immediate space 1 lines", 1001},
      {'L', "Immediate space 3 lines", 1003},
      {'A', "After print, skip to channel 1", 1},
      {'?', "After print, skip to channel 10", 10},
      {'o', "After print, skip to channel 12", 12},
      // With the 8 bit a space counts by the 1 and 2 bits.
      {'Z', "After print, space 1 lines", 1},
      {'R', "Immediate space 1 lines", 1001},
  };
  for (const TCarriageCase& c : cases) {
    TRecordingMachine m;
    m.T.TraceAll();
    m.T.Instructions(500, {std::string("F") + c.D, "."});
    m.T.Run(500);
    EXPECT_EQ(m.Log, Lines{"PRN 8/" + std::to_string(c.Selector)}) << c.D;
    EXPECT_EQ(m.T.Trace()[0], std::string("I00500 F 2 CC  Control Carriage - ") + c.Text) << c.D;
  }
}

TEST(ControlCarriage, WithAnAddressItBranches) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"F" + Addr(600) + "S", "2"});
  m.T.Instructions(600, {"2", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.Trace()[0],
            "I00500 F 5 CC  Control Carriage - After print, space 2 lines and Branch to 00600");
  EXPECT_EQ(m.T.M.Printer.PrintList().size(), 3u);  // one line and the two spaces
}

TEST(ControlCarriage, InvalidModifierStopsBeforeAnythingIsSent) {
  TRecordingMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"FM", "."});
  m.T.Run(500);
  EXPECT_TRUE(m.Log.empty());
  EXPECT_EQ(m.T.State(), CpuState::MachineCheck);
  EXPECT_EQ(m.T.StopMessage(), "Invalid Carriage Control char: \"M\" at 501");
  EXPECT_EQ(m.T.Trace()[0], "I00500 F 2 CC  Control Carriage - ");
}

// With print storage a print or carriage movement goes on while the program runs: a loop of
// three instructions counts how many of its busy tests (B with d-character P for the printer, R
// for the carriage) find it on.  The print takes 690 instructions, the movement 150 after it.
struct TBusyCase {
  const char* Start;  // the instruction that starts the printer
  char D;
  bool Storage;
  const char* Tests;  // busy tests that branched
};

TEST(PrintStorage, BusyIndicatorsLastThePrintAndTheCarriageMovement) {
  const TBusyCase cases[] = {
      {"2", 'P', true, "00230"},  {"2", 'R', true, "00280"},  {"FJ", 'R', true, "00050"},
      {"FJ", 'P', true, "00000"}, {"F/", 'R', true, "00000"},  // nothing moves before a print
      {"2", 'P', false, "00000"}, {"2", 'R', false, "00000"}, {"FJ", 'R', false, "00000"},
  };
  for (const TBusyCase& c : cases) {
    TCardMachine m("");
    m.T.M.Registers.Features = c.Storage ? FEPrintStorage : 0;
    m.T.Field(700, "00000");
    m.T.Field(703, "1");
    constexpr uint16_t test = 510;
    m.T.Instructions(500, {c.Start, "B" + Addr(test)});
    m.T.Instructions(test, {"B" + Addr(600) + c.D, "."});
    m.T.Instructions(600, {"A" + Addr(703) + Addr(700), "B" + Addr(test)});
    m.T.Run(500);
    EXPECT_EQ(m.T.State(), CpuState::ProgramHalt) << c.Start << c.D << " " << m.T.StopMessage();
    EXPECT_EQ(m.T.Text(700, 5), c.Tests) << c.Start << " then B " << c.D << " " << c.Storage;
  }
}

TEST(PrintStorage, ANewPrintStartsTheTimeAgainAndTheHaltedProcessorKeepsIt) {
  TCardMachine m("");
  m.T.M.Registers.Features = FEPrintStorage;
  // Two prints, then a halt (an instruction too): the printer is still busy when the program
  // starts again.
  m.T.Instructions(500, {"2", "2", "."});
  m.T.Run(500);
  EXPECT_EQ(m.T.R.PrintBusyLeft, 688);
  EXPECT_EQ(m.T.R.CarriageBusyLeft, 838);
  m.T.Instructions(510, {"B" + Addr(520) + "P", "."});
  m.T.Instructions(520, {"."});
  m.T.Run(510);
  EXPECT_EQ(m.T.R.InstrAddr, 520);
  EXPECT_EQ(m.T.M.Printer.PrintList().size(), 2u);
}

TEST(SelectStacker, PocketCodes) {
  for (char d : {'1', '2', '4', '8'}) {
    TRecordingMachine m;
    m.T.TraceAll();
    m.T.Instructions(500, {std::string("K") + d, "."});
    m.T.Run(500);
    EXPECT_EQ(m.Log, Lines{std::string("RDR 20/") + d}) << d;
    EXPECT_EQ(m.T.Trace()[0], std::string("I00500 K 2 SS  Select Stacker: ") + d);
  }
}

TEST(SelectStacker, WithAnAddressItBranchesAndTheCardMoves) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Instructions(500, {"1", "K" + Addr(600) + "1"});
  m.T.Instructions(600, {"."});
  m.T.Run(500);
  EXPECT_EQ(m.T.Trace()[2], "I00501 K 5 SS  Select Stacker: 1 and Branch to 00600");
  EXPECT_EQ(m.T.M.ReaderPunch.Pile(PLRead1), TCardList{Card("CARD ONE")});
  EXPECT_EQ(m.T.R.BAR, 506);
}

TEST(SelectStacker, OtherModifiersAreAProcessCheck) {
  TRecordingMachine m;
  m.T.Instructions(500, {"N", "K" + Addr(600) + "3", "."});
  m.T.Run(500);
  EXPECT_TRUE(m.Log.empty());
  EXPECT_EQ(m.T.StopMessage(), "Invalid Select Stacker char: 3 at 505");  // the d-modifier
}

// Column binary (R and P with the d-character C): a character card reads as its punches, rows
// 12 to 3 as the bits B A 8 4 2 1 at 401-480 and rows 4 to 9 at 501-580; an image punched from
// those positions is one 160-character card that reads back exactly, codes 15, 16 and 31 too.
TEST(ColumnBinary, CharacterCardsReadAsTheirPunchesAndPunchedImagesReadBack) {
  TCardMachine m("A0-&/#,R94 B\n");
  m.T.M.Registers.Features = FEBinaryCode;
  m.T.TraceAll();
  m.T.Instructions(900, {"1C", "."});
  m.T.Run(900);
  ASSERT_EQ(m.T.State(), CpuState::ProgramHalt) << m.T.StopMessage();
  struct TColumn {
    uint8_t Upper, Lower;
  };
  const TColumn expected[] = {
      {32 + 4, 0},  // A: 12-1
      {8, 0},       // 0: 0
      {16, 0},      // -: 11
      {32, 0},      // &: 12
      {8 + 4, 0},   // /: 0-1
      {1, 2},       // #: 8-3
      {8 + 1, 2},   // ,: 0-8-3
      {16, 1},      // R: 11-9
      {0, 1},       // 9
      {0, 32},      // 4
      {0, 0},       // blank
      {32 + 2, 0},  // B: 12-2
  };
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(m.T.Core.ReadChar(static_cast<uint16_t>(401 + k)), expected[k].Upper) << k;
    EXPECT_EQ(m.T.Core.ReadChar(static_cast<uint16_t>(501 + k)), expected[k].Lower) << k;
  }
  EXPECT_EQ(m.T.R.BAR, 581);
  EXPECT_EQ(m.T.Trace()[0], "I00900 1 2 RCB Read Column Binary");
  EXPECT_EQ(m.T.Text(80, 80), Card(""));  // the read area is not touched

  for (int k = 0; k < 80; ++k) {
    m.T.Core.StoreChar(static_cast<uint16_t>(401 + k), static_cast<uint8_t>(k % 64));
    m.T.Core.StoreChar(static_cast<uint16_t>(501 + k), static_cast<uint8_t>(63 - k % 64));
  }
  m.T.Instructions(600, {"4" + Addr(700) + "C"});
  m.T.Instructions(700, {"."});
  m.T.Run(600);
  ASSERT_EQ(m.T.M.ReaderPunch.Pile(PLPunchN).size(), 1u);
  EXPECT_EQ(m.T.M.ReaderPunch.Pile(PLPunchN)[0].size(), 160u);
  EXPECT_EQ(m.T.R.InstrAddr, 700);
  Lines trace = m.T.Trace();
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "I00600 4 5 PCB Punch Column Binary and Branch to 00700"),
            trace.end());
  for (uint16_t a = 401; a <= 580; ++a)
    m.T.Core.StoreChar(a, 0);
  m.T.M.ReaderPunch.PocketToHopper(StackerPunchN);
  m.T.Run(900);
  for (int k = 0; k < 80; ++k) {
    EXPECT_EQ(m.T.Core.ReadChar(static_cast<uint16_t>(401 + k)), k % 64) << k;
    EXPECT_EQ(m.T.Core.ReadChar(static_cast<uint16_t>(501 + k)), 63 - k % 64) << k;
  }
  EXPECT_TRUE(m.Errors.empty());
}

// Without the feature the d-character is not looked at: a plain read or punch, and with an
// address the branch, as for every card instruction with an address and a d-character.
TEST(ColumnBinary, WithoutTheFeatureTheyAreTheCardInstructions) {
  TCardMachine m;
  m.T.TraceAll();
  m.T.Field(105, "PUNCH", false);
  m.T.Instructions(500, {"4" + Addr(600) + "C"});
  m.T.Instructions(600, {"1C", "."});
  m.T.Run(500);
  ASSERT_EQ(m.T.State(), CpuState::ProgramHalt) << m.T.StopMessage();
  EXPECT_EQ(m.T.M.ReaderPunch.Pile(PLPunchN)[0], Card("PUNCH"));
  EXPECT_EQ(m.T.Text(80, 80), Card("CARD ONE"));
  EXPECT_EQ(m.T.Trace()[0], "I00500 4 5 P   Punch Card and Branch to 00600");
  EXPECT_EQ(m.T.Trace()[2], "I00600 1 2 R   Read Card");
}

}  // namespace
}  // namespace kestrel::test

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "devices/IBM729IV.h"
#include "devices/TapeImages.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

// Stands in for the tape units and keeps every request.
class TTapeRecorder : public IMessageReceiver {
 public:
  struct TSent {
    uint16_t Operation;
    uint16_t Selector;
    uint8_t Flag;
    bool operator==(const TSent&) const = default;
  };
  void HandleMessage(const TMessage& message) override {
    const auto* command = static_cast<const DeviceCommand*>(message.Ref);
    Sent.push_back({command->Operation, command->Selector, command->Flag});
  }
  std::vector<TSent> Sent;
};

class TapeIO : public ::testing::Test {
 protected:
  TapeIO() {
    T.M.TapeUnits.SetSaveDirectory(Files.Dir);
    T.Messenger.SetErrorReporter([this](const std::string& error) { Errors.push_back(error); });
  }
  void UseRecorder() { T.Messenger.Attach(TReceiver::TapeUnits, &Recorder); }
  // Runs one instruction placed at 500, followed by a halt; returns the trace's instruction
  // lines.
  std::vector<std::string> RunOne(const std::string& instruction) {
    T.Instructions(500, {instruction, "."});
    T.M.TraceFlags.TraceInstructions = true;
    T.Run(500);
    return T.Trace();
  }
  bool Traced(const std::string& line) {
    std::vector<std::string> lines = T.Trace();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  void Record(uint16_t address, const std::string& text, const std::string& marks) {
    for (size_t i = 0; i < text.size(); ++i) {
      T.Core.StoreCharWM(static_cast<uint16_t>(address + i), i < marks.size() && marks[i] == '1',
                         CharToBcd(text[i]));
    }
    T.Core.StoreCharWM(static_cast<uint16_t>(address + text.size()), true, Bcd::GroupMark);
  }

  TTempDir Files;
  TTestMachine T;
  TTapeRecorder Recorder;
  std::vector<std::string> Errors;
};

using TSent = TTapeRecorder::TSent;

TEST_F(TapeIO, CommandsUnitsAndModeBytes) {
  UseRecorder();
  T.Instructions(
      500, {"M%U1" + Addr(300) + "R", "L%B2" + Addr(400) + "W", "M%B3" + Addr(300) + "W",
            "L%U4" + Addr(300) + "R", "U%U3U", "U%U1R", "U%B5M", "M%F1" + Addr(300) + "R", "."});
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt);
  EXPECT_EQ(Recorder.Sent,
            (std::vector<TSent>{
                {6, 1, 4}, {7, 2, 10}, {7, 3, 8}, {6, 4, 6}, {34, 3, 0}, {33, 1, 0}, {35, 5, 8}}));
}

TEST_F(TapeIO, TraceTextOfEachForm) {
  UseRecorder();
  T.R.TapeTransferCount = 7;
  RunOne("M%U1" + Addr(300) + "R");
  EXPECT_TRUE(Traced("I00500 M 8 Tape Unit 1 Read into 00300 Even Parity"));
  EXPECT_TRUE(Traced("I          7 chars transfered"));
  RunOne("L%B2" + Addr(400) + "W");
  EXPECT_TRUE(Traced("I00500 L 8 Tape Unit 2 Write from 00400 With WordMarks  Odd Parity"));
  RunOne("U%U3U");
  EXPECT_TRUE(Traced("I00500 U 5 Tape Unit 3  Rewind Tape and Unload"));
  RunOne("U%U3R");
  EXPECT_TRUE(Traced("I00500 U 5 Tape Unit 3  Rewind Tape"));
  RunOne("U%U3M");
  EXPECT_TRUE(Traced("I00500 U 5 Tape Unit 3  Write Tape Mark"));
  RunOne("M%F1" + Addr(300) + "R");
  EXPECT_TRUE(Traced("I00500 M 8 Disk  Read into 00300 Single Record"));
  RunOne("L%F2" + Addr(300) + "W");
  EXPECT_TRUE(Traced("I00500 L 8 Disk  Write from 00300 Full Track"));
  RunOne("L%F3" + Addr(300) + "W");
  EXPECT_TRUE(Traced("I00500 L 8 "));
  // Disk moves nothing; its count line shows the last tape count.
  EXPECT_TRUE(Recorder.Sent.size() == 5u);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt);
}

TEST_F(TapeIO, RefusedFormsStopAtTheInstruction) {
  UseRecorder();
  struct TCase {
    std::string Instruction;
    std::string Traced;
    std::string Stop;
  };
  const std::vector<TCase> cases = {
      {"U%U1X", "I00500 U 5 Tape Unit 1  Invalid Tape Control command: X",
       "Invalid Tape Control command: X at 500"},
      {"A%U1" + Addr(300) + "R", "I00500 A 8 Invalid I/O command: A",
       "Invalid I/O command: A at 500"},
      {"M%U1" + Addr(300) + "X", "I00500 M 8 Invalid R/W Option: X",
       "Invalid R/W Option: X at 500"},
      {"M%X1" + Addr(300) + "R", "I00500 M 8 Invalid I/O Option: X",
       "Invalid I/O Option: X at 500"},
      {"M%F5" + Addr(300) + "R", "I00500 M 8 Invalid Disk Command: 5",
       "Invalid Disk Command: 5 at 500"},
  };
  for (const TCase& c : cases) {
    RunOne(c.Instruction);
    EXPECT_TRUE(Traced(c.Traced)) << c.Instruction;
    EXPECT_EQ(T.State(), CpuState::MachineCheck) << c.Instruction;
    EXPECT_EQ(T.StopMessage(), c.Stop);
  }
  EXPECT_TRUE(Recorder.Sent.empty());
}

TEST_F(TapeIO, UnitZeroIsShownAndTheProgramGoesOn) {
  RunOne("M%U0" + Addr(300) + "R");
  EXPECT_EQ(Errors, (std::vector<std::string>{"Invalid tape unit: 10"}));
  EXPECT_EQ(T.State(), CpuState::ProgramHalt);
}

TEST_F(TapeIO, WriteRewindAndReadBackWithWordMarks) {
  // L moves word marks as word separators, M the characters alone.
  T.M.TapeUnits.SetWriteProtect(1, false);
  Record(1001, "HELLO", "1010");
  Record(1101, "1 3", "1");
  T.Field(2101, "X");  // a word mark that the move-mode read keeps
  T.Instructions(500, {"L%U1" + Addr(1001) + "W", "M%U1" + Addr(1101) + "W", "U%U1M", "U%U1R",
                       "L%U1" + Addr(2001) + "R", "M%U1" + Addr(2101) + "R",
                       "L%U1" + Addr(2201) + "R", "B" + Addr(900) + "K", "."});
  T.Instructions(900, {"."});
  T.M.TraceFlags.TraceInstructions = true;
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt);
  EXPECT_EQ(T.R.InstrAddr, 900);  // the tape mark was met: End of Reel
  EXPECT_EQ(T.Text(2006, 6), "HELLOg");
  for (uint16_t a = 2001; a <= 2006; ++a) {
    EXPECT_EQ(T.WordMarkAt(a), a == 2001 || a == 2003) << a;
  }
  EXPECT_EQ(T.Text(2104, 4), "1 3g");  // the blank went to tape as 16
  EXPECT_TRUE(T.WordMarkAt(2101));
  EXPECT_FALSE(T.WordMarkAt(2102));
  EXPECT_TRUE(Traced("I          5 chars transfered"));
  EXPECT_TRUE(Traced("I          3 chars transfered"));
  EXPECT_TRUE(Traced("I          0 chars transfered"));
  EXPECT_FALSE(T.M.TapeUnits.Drive(1).TapeIndicate());  // cleared by the branch
  EXPECT_TRUE(Errors.empty());
}

// Backspace goes back over the record or tape mark last read or written, as often as the
// program asks and no further than the load point; skip and blank moves nothing on an image but
// needs the reel writable.  The program writes A, BB, a tape mark and CCC, backspaces over CCC
// and writes DDDD in its place; backspaces over that and the tape mark and reads the tape mark;
// backspaces four times (one more than the records before it) and reads A and BB again.
TEST_F(TapeIO, BackspaceAndSkipAndBlank) {
  T.M.TapeUnits.SetWriteProtect(2, false);
  Record(1001, "A", "");
  Record(1011, "BB", "");
  Record(1021, "CCC", "");
  Record(1031, "DDDD", "");
  T.Instructions(500, {"U%U2E", "M%U2" + Addr(1001) + "W", "M%U2" + Addr(1011) + "W", "U%U2M",
                       "M%U2" + Addr(1021) + "W", "U%U2B", "M%U2" + Addr(1031) + "W", "U%U2B",
                       "U%U2B", "M%U2" + Addr(2001) + "R", "B" + Addr(900) + "K", "."});
  T.Instructions(
      900, {"U%U2B", "U%U2B", "U%U2B", "U%U2B", "M%U2" + Addr(2101) + "R",
            "M%U2" + Addr(2201) + "R", "U%U2B", "U%U2B", "U%U2B", "M%U2" + Addr(2301) + "R", "."});
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt) << T.StopMessage();
  EXPECT_GT(T.R.InstrAddr, 900);  // the tape mark was read again: End of Reel
  EXPECT_EQ(T.Text(2102, 2), "Ag");
  EXPECT_EQ(T.Text(2203, 3), "BBg");
  EXPECT_EQ(T.Text(2302, 2), "Ag");
  const TTapeImage& image = T.M.TapeUnits.Drive(2).Image();
  std::vector<TTapeRecord> records = DecodeImage(image.Bytes(), image.Format(), "scratch");
  ASSERT_EQ(records.size(), 4u);
  EXPECT_TRUE(records[2].TapeMark);
  EXPECT_EQ(records[3].Codes.size(), 4u);  // DDDD replaced CCC
  EXPECT_TRUE(Errors.empty());

  T.M.TapeUnits.SetWriteProtect(2, true);
  RunOne("U%U2E");
  EXPECT_EQ(T.StopMessage(), "Tape Write with Write Protect On");
}

// A record keeps the parity it was written in (B odd, U even): read in the other one every frame
// has bad parity, which the tape error branch reports; read in its own, none.  The program
// writes one record in each parity, backspaces over both and reads each in both parities,
// branching on L after every read; the halts tell which reads found an error.
TEST_F(TapeIO, ARecordReadInTheOtherParityIsATapeError) {
  T.M.TapeUnits.Drive(3).MountScratch();
  Record(1001, "ODD", "");
  Record(1011, "EVEN", "");
  const std::string backTwo = "U%U3B";
  T.Instructions(500, {"M%B3" + Addr(1001) + "W", "M%U3" + Addr(1011) + "W", backTwo, backTwo,
                       "M%U3" + Addr(2001) + "R", "B" + Addr(700) + "L", "."});
  T.Instructions(700, {backTwo, "M%B3" + Addr(2101) + "R", "B" + Addr(800) + "L",
                       "M%B3" + Addr(2201) + "R", "B" + Addr(900) + "L", "."});
  T.Instructions(900, {backTwo, "M%U3" + Addr(2301) + "R", "B" + Addr(950) + "L", "."});
  T.Instructions(800, {"."});
  T.Instructions(950, {"."});
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt) << T.StopMessage();
  // ODD read even: error (to 700); ODD read odd: none; EVEN read odd: error (to 900); EVEN
  // read even: none, so the run halts after that test.
  EXPECT_GT(T.R.InstrAddr, 900);
  EXPECT_LT(T.R.InstrAddr, 950);
  EXPECT_EQ(T.Text(2004, 4), "ODDg");
  EXPECT_EQ(T.Text(2104, 4), "ODDg");
  EXPECT_EQ(T.Text(2205, 5), "EVENg");
  EXPECT_EQ(T.Text(2305, 5), "EVENg");
  EXPECT_FALSE(T.R.TapeErrorIndicator);

  // A tape mark is an even-parity character: written in odd parity it is a tape error.
  RunOne("U%U3M");
  EXPECT_FALSE(T.R.TapeErrorIndicator);
  RunOne("U%B3M");
  EXPECT_TRUE(T.R.TapeErrorIndicator);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt) << T.StopMessage();
}

TEST_F(TapeIO, EndOfReelOnUnitTwoClearsUnitTwo) {
  T.M.TapeUnits.MountTape(1, Files.Write("one.bcd", {0x8F, 0xC1, 0x8F}));
  std::vector<uint8_t> two;
  AppendMTMark(two);
  AppendMTRecord(two, Codes("AB"));
  AppendMTMark(two);
  T.M.TapeUnits.MountTape(2, Files.Write("two.mt", two));
  T.Instructions(
      500, {"M%U1" + Addr(2001) + "R", "M%U2" + Addr(2001) + "R", "B" + Addr(900) + "K", "."});
  T.Instructions(900, {"M%U2" + Addr(2101) + "R", "."});
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt) << T.StopMessage();
  EXPECT_EQ(T.R.InstrAddr, 908);
  EXPECT_EQ(T.Text(2103, 3), "ABg");
  EXPECT_TRUE(T.M.TapeUnits.Drive(1).TapeIndicate());
  EXPECT_FALSE(T.M.TapeUnits.Drive(2).TapeIndicate());
}

// A frame read with bad parity, and a record longer than the core left, turn the tape error
// indicator on for the program to test; the test turns it off, and the next read goes on with the
// next record.
TEST_F(TapeIO, ParityErrorsAndRecordsTooLongForCoreReachTheProgram) {
  auto frames = [](const std::string& text, int badAt = -1) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); ++i) {
      uint8_t code = CharToBcd(text[i]);
      bool odd = std::popcount(code) % 2 != 0;
      if (static_cast<int>(i) == badAt) odd = !odd;
      bytes.push_back(static_cast<uint8_t>(code | (odd ? 0x40 : 0) | (i == 0 ? 0x80 : 0)));
    }
    return bytes;
  };
  std::vector<uint8_t> tape;
  for (const std::vector<uint8_t>& record :
       {frames("AB"), frames("CDE", 1), frames("LONGER"), frames("Z")}) {
    tape.insert(tape.end(), record.begin(), record.end());
  }
  tape.push_back(0x8F);  // a tape mark ends the last record
  T.M.TapeUnits.MountTape(1, Files.Write("errors.bcd", tape));
  const uint16_t last = static_cast<uint16_t>(T.Core.Size() - 1);
  T.Instructions(500, {"M%U1" + Addr(2001) + "R", "B" + Addr(900) + "L", "M%U1" + Addr(2101) + "R",
                       "B" + Addr(700) + "L", "."});
  T.Instructions(
      700, {"B" + Addr(950) + "L", "M%U1" + Addr(last - 2) + "R", "B" + Addr(720) + "L", "."});
  T.Instructions(720, {"M%U1" + Addr(2201) + "R", "."});
  T.Instructions(900, {"."});
  T.Instructions(950, {"."});
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt) << T.StopMessage();
  EXPECT_EQ(T.R.InstrAddr, 728);
  EXPECT_EQ(T.Text(2003, 3), "ABg");
  EXPECT_EQ(T.Text(2104, 4), "CDEg");  // the bad frame is stored as read
  EXPECT_EQ(T.Text(last, 3), "LON");
  EXPECT_EQ(T.Text(2202, 2), "Zg");
  EXPECT_FALSE(T.R.TapeErrorIndicator);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(TapeIO, EndOfReelWithNoUnitUsedAsksUnitOne) {
  UseRecorder();
  T.Instructions(500, {"B" + Addr(900) + "K", "."});
  T.Run(500);
  EXPECT_EQ(T.R.InstrAddr, 505);  // not taken
  EXPECT_EQ(Recorder.Sent, (std::vector<TSent>{{30, 1, 0}}));
}

TEST_F(TapeIO, TapeErrorStopsTheRunAfterTheInstruction) {
  T.Instructions(500, {"M%U1" + Addr(300) + "R", "."});
  T.R.TapeTransferCount = 9;
  T.Run(500);  // nothing mounted
  EXPECT_EQ(T.State(), CpuState::MachineCheck);
  EXPECT_EQ(T.StopMessage(), "Tape Read Error");
  EXPECT_EQ(T.R.IAR, 508);
  EXPECT_EQ(T.R.BAR, 300);
  EXPECT_EQ(T.R.TapeTransferCount, 0u);
}

}  // namespace
}  // namespace kestrel::test

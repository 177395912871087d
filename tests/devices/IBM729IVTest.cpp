#include "devices/IBM729IV.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "devices/TapeImages.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class TapeUnits : public ::testing::Test {
 protected:
  TapeUnits() {
    T.M.TapeUnits.SetSaveDirectory(Files.Dir);
    T.Messenger.SetErrorReporter([this](const std::string& error) { Errors.push_back(error); });
    T.R.State = CpuState::Running;  // as while an instruction waits for its request
  }

  void Request(TTapeOp op, uint16_t unit, const std::string* text = nullptr) {
    Request(static_cast<uint16_t>(op), unit, text);
  }
  void Request(uint16_t op, uint16_t unit, const std::string* text = nullptr) {
    DeviceCommand command;
    command.Operation = op;
    command.Selector = unit;
    command.Text = text;
    TMessage message;
    message.Id = EmulatorMessage::DeviceRequest;
    message.Ref = &command;
    T.Messenger.Send(TReceiver::TapeUnits, message);
  }
  void Zap(uint16_t unit, uint32_t offset, uint16_t value) {
    TapeZapRecord zap{unit, offset, value};
    TMessage message;
    message.Id = EmulatorMessage::TapeZapRequest;
    message.Ref = &zap;
    T.Messenger.Send(TReceiver::TapeUnits, message);
  }
  void Mount(uint16_t unit, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = Files.Write(name, bytes);
    Request(TTapeOp::TapeMount, unit, &path);
  }
  TTapeDrive& Drive(int unit) { return T.M.TapeUnits.Drive(unit); }
  // A machine check stops the run; the test starts the next request running again.
  std::string Stopped() {
    std::string message = T.R.State == CpuState::MachineCheck ? T.StopMessage() : "(running)";
    T.R.State = CpuState::Running;
    return message;
  }

  TTempDir Files;
  TTestMachine T;
  std::vector<std::string> Errors;
};

TEST_F(TapeUnits, WholeInstallationTakesOnlyTheReset) {
  Request(TTapeOp::TapeRead, 0);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], "Invalid I/O Op for All Tape Units: 6");
  EXPECT_EQ(T.State(), CpuState::Running);

  Request(TTapeOp::TapeProtectOff, 3);
  Request(TTapeOp::TapeWriteMark, 3);
  Mount(2, "a.bcd", {0x8F});
  T.R.BAR = 100;
  Request(TTapeOp::TapeRead, 2);
  EXPECT_TRUE(T.R.EndOfReelIndicator);
  EXPECT_EQ(Stopped(), "(running)");
  T.Messenger.DrainPosts();
  Request(TTapeOp::TapeResetAll, 0);
  EXPECT_EQ(T.Messenger.PendingPosts(), 0u);  // no front panel refresh
  for (int unit = 1; unit <= 6; ++unit) {
    EXPECT_TRUE(Drive(unit).Image().Empty()) << unit;
    EXPECT_FALSE(Drive(unit).TapeIndicate()) << unit;
  }
  EXPECT_FALSE(std::filesystem::exists(Files.Path("729IV-3.TAP")));
  EXPECT_FALSE(T.R.EndOfReelIndicator);
  EXPECT_EQ(T.R.LastTapeUnit, 0);
}

TEST_F(TapeUnits, UnitOutsideOneToSixIsShownAndDoesNotStop) {
  T.R.BAR = 500;
  Request(TTapeOp::TapeRead, 7);
  Zap(7, 0, 0);
  Zap(0, 0, 0);
  EXPECT_EQ(Errors, (std::vector<std::string>{"Invalid tape unit: 7", "Invalid tape unit: 7",
                                              "Invalid tape unit: 0"}));
  EXPECT_EQ(T.State(), CpuState::Running);
  EXPECT_EQ(T.R.BAR, 500);
}

TEST_F(TapeUnits, UnknownOperationForAUnitStopsTheProcessor) {
  Request(36, 1);
  EXPECT_EQ(Stopped(), "Invalid I/O Op for Tape: 36");
  Request(1, 1);
  EXPECT_EQ(Stopped(), "Invalid I/O Op for Tape: 1");
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(T.Messenger.PendingPosts(), 2u);  // the front panel refreshes after each
}

TEST_F(TapeUnits, MountErrorsStopTheProcessor) {
  std::string missing = Files.Path("gone.bcd");
  Request(TTapeOp::TapeMount, 1, &missing);
  EXPECT_EQ(Stopped(), "Tape file not found: " + missing);
  Request(TTapeOp::TapeMount, 1, nullptr);
  EXPECT_EQ(Stopped(), "Tape file not found: ");
}

TEST_F(TapeUnits, ReadAdvancesBAROnlyWhenTheRecordIsComplete) {
  Mount(1, "r.bcd", {0xC1, 0x42, 0x03, 0x8F, 0xC1, 0x42, 0x31, 0xC1, 0x42});
  T.R.BAR = 300;
  Request(TTapeOp::TapeRead, 1);
  EXPECT_EQ(T.R.TapeTransferCount, 3u);
  // BAR has passed the group mark stored behind the record.
  EXPECT_EQ(T.R.BAR, 304);
  EXPECT_EQ(T.Text(303, 4), "123g");

  Request(TTapeOp::TapeRead, 1);  // the tape mark
  EXPECT_EQ(T.R.TapeTransferCount, 0u);
  EXPECT_EQ(T.R.BAR, 304);
  Request(TTapeOp::TapeRead, 1);
  EXPECT_EQ(Stopped(), "Tape Read with Tape Indicate On");

  Request(TTapeOp::TapeClearIndicate, 1);
  EXPECT_FALSE(T.R.TapeErrorIndicator);
  Request(TTapeOp::TapeRead, 1);  // two characters, then one with bad parity: read all the same
  EXPECT_EQ(Stopped(), "(running)");
  EXPECT_TRUE(T.R.TapeErrorIndicator);
  EXPECT_EQ(T.R.TapeTransferCount, 3u);
  EXPECT_EQ(T.R.BAR, 308);
  // The image ends inside the next record: BAR stays, the count has what was stored.
  Request(TTapeOp::TapeRead, 1);
  EXPECT_EQ(Stopped(), "Tape Read Error");
  EXPECT_EQ(T.R.TapeTransferCount, 2u);
  EXPECT_EQ(T.R.BAR, 308);
}

TEST_F(TapeUnits, WriteNeedsWriteProtectOff) {
  T.Core.StoreCharWM(100, false, 5);
  T.Core.StoreCharWM(101, true, Bcd::GroupMark);
  T.R.BAR = 100;
  Request(TTapeOp::TapeWrite, 2);
  EXPECT_EQ(Stopped(), "Tape Write with Write Protect On");
  EXPECT_EQ(T.R.BAR, 100);
  Request(TTapeOp::TapeProtectOff, 2);
  Request(TTapeOp::TapeWrite, 2);
  EXPECT_EQ(Stopped(), "(running)");
  EXPECT_EQ(T.R.TapeTransferCount, 1u);
  EXPECT_EQ(T.R.BAR, 101);
  Request(TTapeOp::TapeProtectOn, 2);
  EXPECT_TRUE(Drive(2).WriteProtect());
}

// A scratch reel: a protected reel refuses the write; a scratch reel mounted over it is empty and
// writable, reads back what was written, and is saved by the unload; a missing reel is named.
TEST_F(TapeUnits, AScratchReelIsEmptyWritableAndSavedByTheUnload) {
  Mount(2, "old.mt", {0xB1, 0x01});
  T.Core.StoreCharWM(100, false, 5);
  T.Core.StoreCharWM(101, false, 7);
  T.Core.StoreCharWM(102, true, Bcd::GroupMark);
  T.R.BAR = 100;
  Request(TTapeOp::TapeWrite, 2);
  EXPECT_EQ(Stopped(), "Tape Write with Write Protect On");
  Request(TTapeOp::TapeMountScratch, 2);
  EXPECT_EQ(Drive(2).TapeFileName(), "SCRATCH");
  EXPECT_FALSE(Drive(2).WriteProtect());
  Request(TTapeOp::TapeRead, 2);  // nothing on it yet
  EXPECT_EQ(Stopped(), "Tape Read Error - Unexpected end of tape image");
  Request(TTapeOp::TapeClearIndicate, 2);
  Request(TTapeOp::TapeRewind, 2);
  T.R.BAR = 100;
  Request(TTapeOp::TapeWrite, 2);
  EXPECT_EQ(Stopped(), "(running)");
  EXPECT_EQ(T.R.TapeTransferCount, 2u);
  Request(TTapeOp::TapeWriteMark, 2);
  EXPECT_EQ(Stopped(), "(running)");
  const std::vector<uint8_t> written = Drive(2).Image().Bytes();
  Request(TTapeOp::TapeRewind, 2);
  T.R.BAR = 300;
  Request(TTapeOp::TapeRead, 2);
  EXPECT_EQ(Stopped(), "(running)");
  EXPECT_EQ(T.Text(301, 2), "57");
  Request(TTapeOp::TapeUnload, 2);
  const std::filesystem::path saved = std::filesystem::path(Files.Dir) / "729IV-2.TAP";
  ASSERT_TRUE(std::filesystem::exists(saved));
  std::ifstream in(saved, std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(file, written);
  EXPECT_GE(written.size(), 3u);  // two characters and the tape mark
  const std::string missing = Files.Dir + "/none.mt";
  Request(TTapeOp::TapeMount, 3, &missing);
  EXPECT_EQ(Stopped(), "Tape file not found: " + missing);
}

TEST_F(TapeUnits, LoadReadsIntoOneAndMarksTheTapeLoaded) {
  Mount(5, "l.bcd", {0xC1, 0x42, 0x8F});
  T.R.State = CpuState::ReaderEmpty;
  Request(TTapeOp::TapeLoad, 5);
  EXPECT_EQ(T.Text(3, 3), "12g");
  EXPECT_EQ(T.R.TapeTransferCount, 2u);
  EXPECT_EQ(T.State(), CpuState::TapeRecordLoaded);
  // Into core never written, with the uninitialised-read check on: the look for a group mark
  // before each store is not a read of the program's.
  T.Core.ClearCore();
  T.Core.UninitializedCheck = true;
  Request(TTapeOp::TapeRewind, 5);
  Request(TTapeOp::TapeLoad, 5);
  EXPECT_EQ(T.State(), CpuState::TapeRecordLoaded) << T.StopMessage();
  EXPECT_EQ(T.Text(3, 3), "12g");
  EXPECT_TRUE(Errors.empty());
}

TEST_F(TapeUnits, EndOfReelFollowsTheUnitLastReadOrWritten) {
  Mount(1, "one.bcd", {0xC1, 0x8F});
  Mount(2, "two.bcd", {0x8F, 0xC1});
  T.R.BAR = 100;
  Request(TTapeOp::TapeRead, 2);
  EXPECT_EQ(T.R.LastTapeUnit, 2);
  EXPECT_TRUE(T.R.EndOfReelIndicator);
  Request(TTapeOp::TapeRewind, 2);
  EXPECT_TRUE(T.R.EndOfReelIndicator);  // a rewind leaves the indicator on
  Request(TTapeOp::TapeRead, 1);
  EXPECT_FALSE(T.R.EndOfReelIndicator);
  EXPECT_TRUE(Drive(2).TapeIndicate());
  Request(TTapeOp::TapeRead, 2);
  EXPECT_EQ(Stopped(), "Tape Read with Tape Indicate On");
  EXPECT_TRUE(T.R.EndOfReelIndicator);
  Request(TTapeOp::TapeUnload, 2);
  EXPECT_FALSE(T.R.EndOfReelIndicator);
}

TEST_F(TapeUnits, ZapOverwritesOneByteOfTheImage) {
  Mount(3, "z.bcd", {0xC1, 0x42, 0x8F});
  Zap(3, 2, 0x143);  // the low eight bits
  EXPECT_EQ(Drive(3).Image().Bytes(), (std::vector<uint8_t>{0xC1, 0x42, 0x43}));
  Zap(3, 3, 0);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0].rfind("ZAP offset 3 ", 0), 0u);
  EXPECT_EQ(Drive(3).Image().Size(), 3u);
  EXPECT_EQ(T.State(), CpuState::Running);
}

TEST_F(TapeUnits, ARecordPastTheEndOfCoreIsATapeErrorNotACoreCheck) {
  // A record that runs past the end of core fills it; the rest passes the head unstored.
  std::vector<uint8_t> image(200, 0x41);
  image.push_back(0x8F);
  Mount(1, "long.bcd", image);
  T.R.InstrAddr = 500;
  T.R.BAR = 7900;
  Request(TTapeOp::TapeRead, 1);
  EXPECT_EQ(Stopped(), "(running)");
  EXPECT_TRUE(T.R.TapeErrorIndicator);
  EXPECT_EQ(T.R.TapeTransferCount, 100u);
  EXPECT_EQ(T.R.BAR, 8000);
  EXPECT_EQ(T.Text(7999, 2), "11");
  Request(TTapeOp::TapeRead, 1);  // the tape mark is next
  EXPECT_TRUE(T.M.TapeUnits.Drive(1).TapeIndicate());
}

// Whatever bytes an image holds, reading it ends in a drive error or a core check, never in a
// crash or a hang.
TEST_F(TapeUnits, RandomAndTruncatedImagesEndInAMachineCheck) {
  std::mt19937 random(1401);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> bytes(static_cast<size_t>(random() % 3000));
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(random());
    if (round % 4 == 0 && !bytes.empty()) {
      // A valid MT start, cut short.
      std::vector<uint8_t> mt;
      AppendMTRecord(mt, std::vector<uint8_t>(bytes.size() % 4096 + 1, 0x05));
      bytes.assign(mt.begin(), mt.begin() + static_cast<long>(mt.size() / 2));
    }
    std::string name = round % 2 == 0 ? "random.mt" : "random.bcd";
    Mount(1, name, bytes);
    ASSERT_EQ(Stopped(), "(running)");
    std::string stop;
    for (int read = 0; read < 10000 && stop.empty(); ++read) {
      T.R.BAR = 1000;
      Request(TTapeOp::TapeRead, 1);
      Request(TTapeOp::TapeClearIndicate, 1);
      if (T.State() == CpuState::MachineCheck) stop = Stopped();
    }
    EXPECT_FALSE(stop.empty()) << round;
    bool known = stop.rfind("Tape Read Error", 0) == 0 || stop == "Tape Parity Error" ||
                 stop == "$0D not followed by $0A" || stop == "WM followed by WM" ||
                 stop.rfind("Invalid Address: ", 0) == 0;
    EXPECT_TRUE(known) << round << ": " << stop;
  }
  EXPECT_TRUE(Errors.empty());
}

TEST_F(TapeUnits, HundredMegabyteImageIsReadWithoutHanging) {
  std::string path = Files.Path("big.bcd");
  { std::ofstream create(path, std::ios::binary); }
  std::filesystem::resize_file(path, size_t{100} << 20);  // sparse zeros
  Request(TTapeOp::TapeMount, 1, &path);
  ASSERT_EQ(Stopped(), "(running)");
  T.R.BAR = 7000;
  Request(TTapeOp::TapeRead, 1);
  // Blank frames with no record start: the record fills core to its end, the rest passes the
  // head unstored, and the image ends inside the record.
  EXPECT_EQ(Stopped(), "Tape Read Error");
  EXPECT_EQ(T.R.TapeTransferCount, 1000u);
  EXPECT_TRUE(T.R.TapeErrorIndicator);
}

}  // namespace
}  // namespace kestrel::test

#include "devices/IBM1403.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

std::string Line(const std::string& text) {
  return text + std::string(132 - text.size(), ' ');
}

class PrinterTest : public ::testing::Test {
 protected:
  PrinterTest() {
    T.Messenger.SetErrorReporter([this](const std::string& e) { Errors.push_back(e); });
    T.Field(332, std::string(132, ' '), false);  // the print area, written
  }
  void Send(uint16_t operation, uint16_t selector = 0, const std::string* text = nullptr) {
    DeviceCommand command;
    command.Operation = operation;
    command.Selector = selector;
    command.Text = text;
    TMessage message;
    message.Id = EmulatorMessage::DeviceRequest;
    message.Ref = &command;
    T.Messenger.Send(TReceiver::Printer, message);
  }
  TTestMachine T;
  TPrinter& Printer = T.M.Printer;
  std::vector<std::string> Errors;
  TScratchDir Dir;
};

TEST_F(PrinterTest, PrintsTheWholeAreaThroughTheMappingString) {
  T.Field(205, "HELLO", false);
  T.Field(332, "Z", false);
  T.Core.StoreChar(210, Bcd::Lozenge);
  Send(PrnPrint);
  ASSERT_EQ(Printer.PrintList().size(), 1u);
  std::string expected = Line("HELLO    o");
  expected[131] = 'Z';
  EXPECT_EQ(Printer.PrintList()[0], expected);
  EXPECT_EQ(T.R.BAR, 332);  // BAR followed the positions read

  // The printer uses the mapping string in force: with Pierce A the lozenge prints as ).
  T.M.CharMap.SetMappingString(
      " 1234567890#@:>{^/STUVWXYZ|,%~\\\"-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<}");
  Send(PrnPrint);
  EXPECT_EQ(Printer.PrintList()[1][9], ')');
  // Codes without a character of their own print as blanks (here the basic set's colon).
  T.M.CharMap.SetMappingString(std::string(BasicCharSet));
  T.Core.StoreChar(201, 13);
  Send(PrnPrint);
  EXPECT_EQ(Printer.PrintList()[2][0], ' ');
}

TEST_F(PrinterTest, CarriageControlAndPendingSpacing) {
  constexpr int Print = -1;
  constexpr int Reset = -2;
  struct TStep {
    int Operation;   // Print, Reset or a carriage selector
    size_t Entries;  // in the print list afterwards
  };
  const TStep steps[] = {
      {Print, 1}, {2, 1},     {Print, 4},   // the spacing follows the next print
      {Print, 5},                           // and only that one
      {3, 5},     {1, 5},     {Print, 7},   // the second after-print request replaces the first
      {2, 7},     {1003, 10},               // immediate: at once, and the pending spacing is gone
      {5, 10},    {1000, 10}, {Print, 11},  // 1000 adds nothing but cancels
      {4, 11},    {Reset, 0}, {Print, 5},   // a reset keeps the pending spacing
  };
  for (const TStep& step : steps) {
    if (step.Operation == Print) {
      Send(PrnPrint);
    } else if (step.Operation == Reset) {
      Send(PrnReset);
    } else {
      Send(PrnCarriage, static_cast<uint16_t>(step.Operation));
    }
    EXPECT_EQ(Printer.LineCount(), step.Entries) << step.Operation;
  }
  EXPECT_EQ(Printer.PrintList()[1], "");
  EXPECT_EQ(Printer.PendingSpace(), 0);
}

TEST_F(PrinterTest, WordMarkListing) {
  Send(PrnPrint, 1);
  EXPECT_EQ(Printer.PrintList()[0], std::string(132, ' '));
  T.Core.SetWordMark(201, true);
  T.Core.SetWordMark(250, true);
  T.Core.SetWordMark(332, true);
  T.Field(220, "ABC", false);  // the codes do not matter
  Send(PrnPrint, 1);
  std::string expected(132, ' ');
  expected[0] = expected[49] = expected[131] = '1';
  EXPECT_EQ(Printer.PrintList()[1], expected);
  Send(PrnPrint, 2);  // any other selector prints normally
  EXPECT_EQ(Printer.PrintList()[2].substr(17, 3), "ABC");
}

TEST_F(PrinterTest, LineCountIsStoredOnlyOnRequest) {
  Send(PrnPrint);
  Send(PrnCarriage, 1002);
  EXPECT_EQ(T.R.PrinterLineCount, 0);
  Send(PrnLineCount);
  EXPECT_EQ(T.R.PrinterLineCount, 3);  // spacing lines count too
  Send(PrnPrint);
  EXPECT_EQ(T.R.PrinterLineCount, 3);
  // Past 65,535 lines the channel tests (the count modulo 50 and 66) still see the true count.
  Send(PrnCarriage, 1000 + 33000);
  Send(PrnCarriage, 1000 + 33000);
  Send(PrnLineCount);
  EXPECT_EQ(Printer.LineCount(), 66004u);
  EXPECT_EQ(T.R.PrinterLineCount % 50, 66004 % 50);
  EXPECT_EQ(T.R.PrinterLineCount % 66, 66004 % 66);
}

TEST_F(PrinterTest, UninitializedCoreAddsNoLine) {
  T.Core.ClearCore();
  T.Core.UninitializedCheck = true;
  T.Field(250, std::string(50, 'A'), false);
  Send(PrnCarriage, 1);
  Send(PrnPrint);
  EXPECT_EQ(Errors, Lines{"Read from Uninitialized Core at: 251"});
  EXPECT_TRUE(Printer.PrintList().empty());
  EXPECT_EQ(Printer.PendingSpace(), 1);
  EXPECT_EQ(T.R.BAR, 251);
}

TEST_F(PrinterTest, SaveWritesCrLfLinesWithoutFormFeeds) {
  T.Field(203, "ABC", false);
  Send(PrnCarriage, 1);
  Send(PrnPrint);
  std::string path = Dir.Path("OUT.PRN");
  Send(PrnSave, 0, &path);
  EXPECT_EQ(TScratchDir::Read(path), Line("ABC") + "\r\n\r\n");
  Send(PrnReset);
  Send(PrnSave, 0, &path);  // replaced
  EXPECT_EQ(TScratchDir::Read(path), "");
  std::string bad = Dir.Path("missing/OUT.PRN");
  Send(PrnSave, 0, &bad);
  EXPECT_EQ(Errors, Lines{"Cannot write file:-\r" + bad});
}

TEST_F(PrinterTest, InvalidOperationIsAnIOCheck) {
  uint64_t refreshes = Printer.RefreshCount();
  Send(99);
  EXPECT_EQ(Errors, Lines{"Invalid I/O Op for PRN: 99"});
  EXPECT_EQ(Printer.RefreshCount(), refreshes);
}

TEST_F(PrinterTest, RefreshAndScrollUnlessTurbo) {
  int refreshes = 0;
  int scrolls = 0;
  Printer.SetRefreshListener([&] { ++refreshes; });
  Printer.SetScrollListener([&] { ++scrolls; });
  Send(PrnPrint);
  Send(PrnCarriage, 1);
  EXPECT_EQ(refreshes, 2);
  EXPECT_EQ(scrolls, 1);
  T.R.TurboMode = true;
  Send(PrnPrint);
  EXPECT_EQ(refreshes, 2);
  EXPECT_EQ(scrolls, 1);
}

TEST(PrintFile, HoldsEveryLineAsPrintedAndOnlyWhenAskedFor) {
  TScratchDir dir;
  std::string path = dir.Path("Kestrel.PRN");
  {
    TTestMachine t;
    t.Field(332, std::string(132, 'X'), false);
    t.M.Printer.PrintLine(false);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  dir.Write("Kestrel.PRN", "an earlier run\r\n");
  std::string expected;
  {
    TTestMachine t;
    t.M.Printer.KeepPrintFile(path);
    EXPECT_EQ(TScratchDir::Read(path), "");  // replaced at once
    // Enough lines to be written while printing, with spacing between them.
    for (int i = 0; i < 1000; ++i) {
      t.Field(332, std::string(132, static_cast<char>('A' + i % 26)), false);
      t.M.Printer.CarriageControl(i % 3 == 0 ? 1 : 0);
      t.M.Printer.PrintLine(false);
      expected += std::string(132, static_cast<char>('A' + i % 26)) + "\r\n";
      if (i % 3 == 0) expected += "\r\n";
    }
    std::string soFar = TScratchDir::Read(path);
    EXPECT_GT(soFar.size(), 1u << 16);
    EXPECT_EQ(soFar, expected.substr(0, soFar.size()));
    // Saved under its own name (as at program exit) it is only brought up to date.
    t.M.Printer.Save(path);
    EXPECT_EQ(TScratchDir::Read(path), expected);
    EXPECT_EQ(t.M.Printer.LineCount(), 1334u);
    EXPECT_EQ(t.M.Printer.PrintList()[1], "");
    EXPECT_EQ(t.M.Printer.PrintList()[2], std::string(132, 'B'));
    // A copy elsewhere holds the same; a reset starts the print file again.
    t.M.Printer.Save(dir.Path("COPY.PRN"));
    EXPECT_EQ(TScratchDir::Read(dir.Path("COPY.PRN")), expected);
    t.M.Printer.Reset();
    t.Field(332, std::string(132, 'Z'), false);
    t.M.Printer.PrintLine(false);
    expected = std::string(132, 'Z') + "\r\n";
    // However the run ends: here with a machine check.
    t.R.State = CpuState::MachineCheck;
  }
  EXPECT_EQ(TScratchDir::Read(path), expected);
}

TEST(PrintFile, AFileThatFailsIsReportedOnceAndTheLinesStayInMemory) {
  TScratchDir dir;
  const std::string unwritable = dir.Path("no/such/Kestrel.PRN");
  for (const std::string& file : {unwritable, std::string("/dev/full")}) {
    if (file == "/dev/full" && !std::filesystem::exists(file)) continue;
    TTestMachine t;
    std::vector<std::string> errors;
    t.Messenger.SetErrorReporter([&](const std::string& e) { errors.push_back(e); });
    t.M.Printer.KeepPrintFile(file);
    DeviceCommand print;
    print.Operation = PrnPrint;
    TMessage message;
    message.Id = EmulatorMessage::DeviceRequest;
    message.Ref = &print;
    auto number = [](int i) {
      return std::string(4 - std::to_string(i).size(), '0') + std::to_string(i);
    };
    for (int i = 0; i < 2000; ++i) {
      t.Field(332, number(i) + std::string(128, ' '), false);
      t.Messenger.Send(TReceiver::Printer, message);
    }
    ASSERT_EQ(errors.size(), 1u) << file;
    EXPECT_EQ(errors[0].rfind("Cannot write file:-\r" + file + "\r", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find("\rThe printed lines are kept in memory."), std::string::npos);
    ASSERT_EQ(t.M.Printer.LineCount(), 2000u);
    for (int i : {0, 777, 1999})
      EXPECT_EQ(t.M.Printer.PrintList()[i].substr(0, 4), number(i)) << file;
    // Saved elsewhere, nothing is missing.
    std::string copy = dir.Path("COPY.PRN");
    t.M.Printer.Save(copy);
    std::string saved = TScratchDir::Read(copy);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 2000);
  }
}

}  // namespace
}  // namespace kestrel::test

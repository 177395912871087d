#include "devices/CarriageTape.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/KestDefs.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

// The tape's rows as text, one row per line ("-" for none), to compare a parse in one go.
std::string Rows(const TCarriageTape& t) {
  return t.Text();
}

TEST(CarriageTape, TheUsualTape) {
  TCarriageTape t;
  ASSERT_EQ(t.Length(), 66);
  for (int line = 0; line < 66; ++line) {
    EXPECT_EQ(t.Holes(line), line == 0 ? 1 : line == 59 ? 1 << 11 : 0) << "line " << line + 1;
  }
  EXPECT_TRUE(t.HasChannel(1));
  EXPECT_TRUE(t.HasChannel(12));
  EXPECT_FALSE(t.HasChannel(9));
  EXPECT_FALSE(t.HasChannel(0));
  EXPECT_FALSE(t.HasChannel(13));
}

struct TParseCase {
  const char* Text;
  const char* Rows;   // the tape read, or null for an error
  const char* Error;  // what the error says, or null
};

TEST(CarriageTape, ReadsAFileOrSaysWhichLineIsWrong) {
  const TParseCase cases[] = {
      {"1\n\n\n12\n", "1\n-\n-\n12\n", nullptr},
      {"1\r\n-\r\n 2 , 3\t4\r\n", "1\n-\n2 3 4\n", nullptr},   // CR LF, commas, tabs, a dash
      {"* heading\n1 9\n  * note\n12", "1 9\n12\n", nullptr},  // comments are no lines
      {"12 11 10 9 8 7 6 5 4 3 2 1\n", "1 2 3 4 5 6 7 8 9 10 11 12\n", nullptr},
      {"5 5\n", "5\n", nullptr},
      {"\n", "-\n", nullptr},  // one line without holes
      {"1\n13\n", nullptr, "Carriage tape T, line 2: channel 13 is outside 1-12"},
      {"0\n", nullptr, "Carriage tape T, line 1: channel 0 is outside 1-12"},
      {"1\n\n99999999999999999\n", nullptr,
       "Carriage tape T, line 3: channel 99999999... is outside 1-12"},
      {"1 2 3 4 5 6 7 8 9 10 11 12 1\n", nullptr,
       "Carriage tape T, line 1: the line is longer than 12 channels"},
      {"1\nX\n", nullptr,
       "Carriage tape T, line 2: \"X\" is no channel (channels are the numbers 1 to 12)"},
      {"1 -\n", nullptr,
       "Carriage tape T, line 1: \"-\" is no channel (channels are the numbers 1 to 12)"},
      {"- 3\n", nullptr,
       "Carriage tape T, line 1: \"3\" is no channel (channels are the numbers 1 to 12)"},
      {"", nullptr, "Carriage tape T has no lines"},
      {"* only a comment\n", nullptr, "Carriage tape T has no lines"},
  };
  for (const TParseCase& c : cases) {
    TCarriageTape t;
    std::string error = TCarriageTape::Parse(c.Text, "T", t);
    if (c.Error != nullptr) {
      EXPECT_EQ(error, c.Error) << c.Text;
      EXPECT_EQ(t.Length(), 66) << "the old tape stays: " << c.Text;
    } else {
      EXPECT_EQ(error, "") << c.Text;
      EXPECT_EQ(Rows(t), c.Rows) << c.Text;
    }
  }
  // 132 lines is the longest tape; the 133rd line is refused by its number.
  std::string longest;
  for (int i = 0; i < 132; ++i)
    longest += "2\n";
  TCarriageTape t;
  EXPECT_EQ(TCarriageTape::Parse(longest, "T", t), "");
  EXPECT_EQ(t.Length(), 132);
  EXPECT_EQ(TCarriageTape::Parse(longest + "* a comment\n3\n", "T", t),
            "Carriage tape T, line 134: a carriage tape has at most 132 lines");
  EXPECT_EQ(t.Length(), 132);
}

TEST(CarriageTape, AFileThatIsMissingOrBadLeavesTheTape) {
  TScratchDir dir;
  TCarriageTape t;
  std::string missing = dir.Path("none.CT");
  try {
    t.LoadFile(missing);
    FAIL() << "no error for a missing file";
  } catch (const EKestrelError& e) {
    EXPECT_EQ(std::string(e.what()), "Carriage tape file does not exist:-\r" + missing);
  }
  std::string bad = dir.Path("bad.CT");
  std::ofstream(bad) << "1\n\n14\n";
  EXPECT_THROW(t.LoadFile(bad), EKestrelError);
  EXPECT_EQ(t.Length(), 66);
  std::string good = dir.Path("good.CT");
  std::ofstream(good) << "1\n9\n12\n";
  t.LoadFile(good);
  EXPECT_EQ(Rows(t), "1\n9\n12\n");
}

// Each case: a tape, then operations from its top ("s3" spaces 3, "k9" skips to channel 9 after a
// print, "i9" at once);
// after each the lines moved, the line reached and the latches (9 and 12), then the pages begun.
struct TMoveCase {
  const char* Tape;
  std::vector<std::string> Ops;
  std::vector<std::string> After;  // "moved@line 9 12", e.g. "3@4 1 0"
  uint64_t Pages;
};

TEST(CarriageTape, SpacesSkipsAndLatches) {
  const std::string seven = "1\n-\n9\n-\n12\n\n2\n";  // 7 lines: 1, 9 and 12 and 2 on lines 1,3,5,7
  const TMoveCase cases[] = {
      // Spacing passes line 3 (9 on), line 5 (12 on, 9 off: a hole in another channel), line 7
      // (2 only: both off) and comes round to line 1, a new page.
      {seven.c_str(), {"s2", "s2", "s2", "s1"}, {"2@2 1 0", "2@4 0 1", "2@6 0 0", "1@0 0 0"}, 1},
      // After a print a skip to the channel of the line it stands on goes a whole turn; at once
      // it finds the carriage there and nothing moves.
      {seven.c_str(),
       {"k1", "k1", "i1", "i9", "i9"},
       {"7@0 0 0", "7@0 0 0", "0@0 0 0", "2@2 1 0", "0@2 1 0"},
       2},
      {seven.c_str(), {"k12", "k9", "s3"}, {"4@4 0 1", "5@2 1 0", "3@5 0 1"}, 1},
      // A channel with no hole: nothing moves, the latches stay.
      {seven.c_str(), {"k9", "k5", "k11"}, {"2@2 1 0", "-1@2 1 0", "-1@2 1 0"}, 0},
      // The usual tape: 12 on line 60, a page of 66 lines.
      {"",
       {"s59", "s1", "k12", "k1", "s70"},
       {"59@59 0 1", "1@60 0 1", "65@59 0 1", "7@0 0 0", "70@4 0 0"},
       3},
  };
  for (const TMoveCase& c : cases) {
    TCarriageTape t;
    if (*c.Tape != '\0') {
      ASSERT_EQ(TCarriageTape::Parse(c.Tape, "T", t), "");
    }
    ASSERT_EQ(c.Ops.size(), c.After.size());
    for (size_t i = 0; i < c.Ops.size(); ++i) {
      int n = std::stoi(c.Ops[i].substr(1));
      int moved = c.Ops[i][0] == 's' ? t.Space(n) : t.Skip(n, c.Ops[i][0] == 'i');
      std::string after = std::to_string(moved) + "@" + std::to_string(t.Position()) + " " +
                          (t.Channel9() ? "1" : "0") + " " + (t.Channel12() ? "1" : "0");
      EXPECT_EQ(after, c.After[i]) << c.Tape << " op " << c.Ops[i];
    }
    EXPECT_EQ(t.PagesStarted(), c.Pages) << c.Tape;
  }
}

// A program on a ten-line tape (1 on line 1, 9 on line 5, 12 on line 8): a print, an immediate
// skip to 9 and its branch, the same skip again (the carriage is there: nothing moves, but the
// order turns the latches off), a print, a skip to 12, an order to skip to 1 after the next
// print (the 12 latch goes off at once), the print and the skip, a space of 2 after a print, and
// a skip to a channel the tape lacks, which stops the machine with a printer check.
TEST(CarriageTape, AProgramPrintsOnTheFormAndStopsARunawayCarriage) {
  TScratchDir dir;
  std::string file = dir.Path("ten.CT");
  std::ofstream(file) << "1\n\n\n\n9\n\n\n12\n\n\n";
  for (bool feeds : {false, true}) {
    TTestMachine T;
    std::vector<std::string> errors;
    T.Messenger.SetErrorReporter([&](const std::string& e) { errors.push_back(e); });
    T.Field(332, std::string(132, ' '), false);
    T.Field(201, "A", false);
    T.M.Printer.SetFormFeeds(feeds);
    T.M.Printer.LoadCarriageTape(file);
    const uint16_t bad = 700;
    T.Instructions(bad, {"."});
    T.Instructions(500, {"2", "F9", "B" + Addr(509) + "9", ".", "F9", "B" + Addr(bad) + "9", "2",
                         "F@", "FA", "B" + Addr(bad) + "@", "2", "FS", "2", "2", "F7", "."});
    T.Run(500);
    EXPECT_EQ(T.State(), CpuState::MachineCheck);
    EXPECT_NE(T.StopMessage().find("Printer check: runaway carriage, no hole in channel 7"),
              std::string::npos)
        << T.StopMessage();
    EXPECT_TRUE(errors.empty());
    const TPrinter& p = T.M.Printer;
    // Prints on lines 1, 5 and 8; the skip to 1 runs to line 11 = line 1 of the next page; the
    // print there spaces 2 (the S), so the last print is on line 13.  With form feeds the first
    // line of the second page begins with one, and no other line has any.
    std::string printed;
    for (size_t i = 0; i < p.LineCount(); ++i) {
      std::string line = p.PrintList()[i];
      if (!line.empty() && line[0] == TPrinter::FormFeed) {
        printed += 'F';
        line.erase(0, 1);
      }
      printed += line.empty() ? '.' : line[0] == 'A' ? 'P' : '?';
      if (p.StartsPage(i)) printed += '|';
    }
    EXPECT_EQ(printed, feeds ? "P|...P..P..FP|.P" : "P|...P..P..P|.P");
  }
}

// Without a carriage tape the printer is what it always was: a skip to channel n spaces n lines
// and the channel tests count lines; a reset keeps a loaded tape and sets the form at its top.
TEST(CarriageTape, WithoutATapeNothingChanges) {
  TTestMachine T;
  T.Field(332, std::string(132, ' '), false);
  T.Instructions(500, {"2", "F3", "2", "FA", "2", "B" + Addr(700) + "@", "."});
  T.Instructions(700, {"."});
  T.Run(500);
  EXPECT_EQ(T.State(), CpuState::ProgramHalt);
  EXPECT_EQ(T.R.InstrAddr, 512);  // 7 lines: not a multiple of 66, no branch
  EXPECT_EQ(T.M.Printer.LineCount(), 1u + 3u + 1u + 1u + 1u);  // the skip to 1 spaced 1
  EXPECT_FALSE(T.M.Printer.HasCarriageTape());
  EXPECT_FALSE(T.M.Printer.StartsPage(0));
  T.M.Printer.LoadCarriageTape("");
  EXPECT_TRUE(T.M.Printer.HasCarriageTape());
  EXPECT_EQ(T.M.Printer.CarriageTape().Length(), 66);
  T.M.Printer.Reset();
  EXPECT_TRUE(T.M.Printer.StartsPage(0));
  EXPECT_TRUE(T.M.Printer.StartsPage(66));
  EXPECT_FALSE(T.M.Printer.StartsPage(65));
}

}  // namespace
}  // namespace kestrel::test

// The debugger windows' models: the breakpoint list's rows and actions, the click on a core
// position, the trace's label column, the panel's stop line, the history list.
#include "debug/DebugLists.h"

#include <gtest/gtest.h>

#include "support/CountingLoop.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {

namespace {

// The counting loop (support/CountingLoop.h).
class DebugLists : public ::testing::Test {
 protected:
  void SetUp() override { PlaceCountingLoop(t); }
  void Symbols() {
    ASSERT_EQ(d.Symbols().LoadText("LOOP 500\nCHECK 507\nDONE 519\nONE 700\nCOUNT 800\n"), "");
  }
  TTestMachine t;
  TDebugger& d = t.M.Debugger;
};

}  // namespace

TEST_F(DebugLists, TheBreakpointListAddsEnablesDisablesAndDeletesByRow) {
  Symbols();
  TBreakpointList list(d);
  struct TAdd {
    const char* Text;
    const char* Error;
  } adds[] = {
      {"BREAK CHECK COUNT 2", ""},
      {"watch COUNT-2-COUNT read", ""},
      {"DONE", ""},  // a breakpoint's text alone
      {"OP B/", ""},
      {"break IF EQUAL", ""},
      {"", "no breakpoint given"},
      {"BREAK", "no breakpoint given"},
      {"BREAK NOWHERE", "no label NOWHERE in the loaded symbols"},
      {"WATCH ONE-LOOP", "range ONE-LOOP ends (500) before it starts (700)"},
      {"WATCH", "a watchpoint is FROM-TO [READ|WRITE|ACCESS] [ARM ADDRESS]"},
      {"8000", "address 8000 (8000) is outside core (0-7999)"},
  };
  for (const TAdd& a : adds)
    EXPECT_EQ(list.Add(a.Text), a.Error) << a.Text;
  ASSERT_EQ(list.Rows().size(), 5u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"address", "CHECK COUNT 2"},
      {"watch read", "COUNT-2-COUNT read"},
      {"address", "DONE"},
      {"op code", "OP B/"},
      {"condition", "IF EQUAL"}};
  for (size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(list.Rows()[k].Id, static_cast<int>(k + 1));
    EXPECT_EQ(list.Rows()[k].Kind, expected[k].first);
    EXPECT_EQ(list.Rows()[k].Text, expected[k].second);
    EXPECT_TRUE(list.Rows()[k].Enabled);
  }
  // The core view's marks: the enabled address breakpoints.
  EXPECT_EQ(d.BreakAddresses(), (std::vector<uint16_t>{507, 519}));
  ASSERT_TRUE(list.SetEnabled(0, false));
  EXPECT_FALSE(list.Rows()[0].Enabled);
  EXPECT_EQ(d.BreakAddresses(), (std::vector<uint16_t>{519}));
  ASSERT_TRUE(list.Delete(3));  // the op code one
  ASSERT_TRUE(list.Delete(3));  // then the condition, now in its row
  ASSERT_EQ(list.Rows().size(), 3u);
  EXPECT_EQ(list.Rows()[2].Text, "DONE");
  EXPECT_FALSE(list.Delete(7));
  EXPECT_FALSE(list.SetEnabled(7, true));

  // A run: the hits show after a refresh; the disabled one counted none.
  t.Run(500);
  EXPECT_EQ(d.LastStop(),
            "Watchpoint 2 (00798-00800): 00800 (COUNT) read by the instruction at "
            "00500 (LOOP)");
  list.Refresh();
  EXPECT_EQ(list.Rows()[0].Hits, 0u);
  EXPECT_EQ(list.Rows()[1].Hits, 1u);

  // A click on a core position sets an address breakpoint there, a second one clears it.
  const uint64_t version = d.Version();
  EXPECT_EQ(d.ToggleBreakAt(514), "");
  EXPECT_GT(d.Version(), version);
  EXPECT_EQ(d.BreakAddresses(), (std::vector<uint16_t>{514, 519}));
  EXPECT_EQ(d.ToggleBreakAt(507), "");  // the disabled one there goes
  EXPECT_EQ(d.ToggleBreakAt(514), "");
  EXPECT_EQ(d.ToggleBreakAt(0), "address 0 holds no instruction");
  list.Refresh();
  ASSERT_EQ(list.Rows().size(), 2u);
  EXPECT_EQ(list.Rows()[1].Text, "DONE");
  list.DeleteAll();
  EXPECT_TRUE(list.Rows().empty());
  EXPECT_TRUE(d.BreakAddresses().empty());
}

TEST_F(DebugLists, TraceLinesGainALabelColumnOnlyWithSymbols) {
  const std::vector<std::string> lines = {"I00504 , 4 SW  Set WM at 00051",
                                          "R          AAReg=00051  BAReg=00051  IAReg=00508",
                                          "I0050x not an address",
                                          "DDetails",
                                          "TCPU Begin",
                                          "I00504",
                                          ""};
  for (const std::string& line : lines)
    EXPECT_EQ(d.LabelTraceLine(line), line);  // no symbols: every line as it is
  Symbols();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"I00504 , 4 SW  Set WM at 00051", "I00504 LOOP+4    , 4 SW  Set WM at 00051"},
      {"I00507 C 7 C   Compare", "I00507 CHECK     C 7 C   Compare"},
      {"I00499 . 1 H   HALT", "I00499           . 1 H   HALT"},  // no label below it
      {"I00750 N 1 NOP", "I00750 ONE+50    N 1 NOP"},
      {"R          AAReg=00051  BAReg=00051  IAReg=00508",
       "R          AAReg=00051  BAReg=00051  IAReg=00508"},
      {"I0050x not an address", "I0050x not an address"},
  };
  for (const auto& [line, shown] : cases)
    EXPECT_EQ(d.LabelTraceLine(line), shown);
  EXPECT_EQ(d.LabelOf(509), "CHECK+2");
  EXPECT_EQ(d.LabelOf(499), "");
}

TEST_F(DebugLists, ThePanelSaysWhichStopFiredAndTheHistoryListStepsBack) {
  Symbols();
  TConsole& console = t.M.Console;
  ASSERT_EQ(d.Command("WATCH COUNT"), "");
  t.Run(500);
  console.UpdateStatus();
  EXPECT_EQ(console.StatusText(),
            "Watchpoint 1 (00800-00800): 00800 (COUNT) written by the instruction at 00500 (LOOP)");
  ASSERT_EQ(d.Command("DELETE ALL"), "");
  ASSERT_EQ(d.Command("BREAK CHECK"), "");
  t.Resume();
  console.UpdateStatus();
  EXPECT_EQ(console.StatusText(), "Breakpoint 2 (CHECK) at 00507");
  // Any other stop has the panel's own line.
  t.R.AddressStop = 514;
  t.Resume();
  console.UpdateStatus();
  EXPECT_EQ(console.StatusText(), "Address Stop at 00514");
  t.R.AddressStop = 0;

  THistoryList history(d);
  history.Refresh();
  EXPECT_TRUE(history.Lines().empty());
  EXPECT_EQ(history.Summary(), "The history is off (DEBUG 'HISTORY N' or History=N in [Debugger])");
  EXPECT_EQ(history.StepBack(), "cannot step back: the history is off");
  d.SetHistorySize(3);
  t.Resume();  // the pending branch, the add (002), the stop at CHECK
  t.Resume();  // the compare, the branch, the add (003), the stop
  ASSERT_EQ(d.LastStop(), "Breakpoint 2 (CHECK) at 00507");
  history.Refresh();
  ASSERT_EQ(history.Lines().size(), 3u);
  EXPECT_EQ(history.Lines()[0].substr(0, 12), "00507 CHECK ");
  EXPECT_EQ(history.Lines()[2].substr(0, 12), "00500 LOOP  ");
  EXPECT_EQ(history.Summary(), "The last 3 of up to 3 instructions, the registers after each");
  EXPECT_EQ(t.Text(800, 3), "003");
  EXPECT_EQ(history.StepBack(), "");
  EXPECT_EQ(t.Text(800, 3), "002");
  EXPECT_EQ(t.R.IAR, 500);
  ASSERT_EQ(history.Lines().size(), 2u);
  EXPECT_EQ(history.Lines()[1].substr(0, 5), "00514");
  // The restored positions are drawn again.
  EXPECT_TRUE(t.Core.Word(800) & CoreChar::Changed);
  TScratchDir dir;
  EXPECT_EQ(history.Save(dir.Path("h.txt")), "");
  EXPECT_EQ(TScratchDir::Read(dir.Path("h.txt")),
            history.Lines()[0] + "\n" + history.Lines()[1] + "\n");
  EXPECT_EQ(history.Save(dir.Path("no/such/h.txt")),
            "cannot write the history to " + dir.Path("no/such/h.txt"));
  // And on: the add runs once, and the run stops at CHECK again.
  t.Resume();
  EXPECT_EQ(t.Text(800, 3), "003");
  EXPECT_EQ(t.R.IAR, 507);
}

}  // namespace kestrel::test

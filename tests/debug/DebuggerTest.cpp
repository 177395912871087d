#include "debug/Debugger.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/CountingLoop.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {

namespace {

// The counting loop (support/CountingLoop.h).
class DebuggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PlaceCountingLoop(t);
    ASSERT_EQ(d.Symbols().LoadText("LOOP 500\nCHECK 507\nDONE 519\nONE 700\nCOUNT 800\n"
                                   "LIMIT 900\n"),
              "");
  }
  int Break(const std::string& spec) {
    std::string error;
    int id = d.AddBreakpoint(spec, error);
    EXPECT_EQ(error, "") << spec;
    return id;
  }
  TTestMachine t;
  TDebugger& d = t.M.Debugger;
};

}  // namespace

TEST_F(DebuggerTest, BreakpointsFireByAddressOpcodeConditionAndCountAndSayWhich) {
  const int check = Break("CHECK+0 COUNT 2");
  const int branch = Break("OP B/ COUNT 4");
  const int field = Break("IF COUNT = '005'");
  const int printer = Break("OP C PRINT GO");
  const int never = Break("OP BZ");  // no branch with d-character Z is reached
  const int high = Break("IF HIGH");

  // The compare of LIMIT (B) with COUNT (A) finds it high while COUNT is below: the condition
  // fires when high first comes on, before the branch after the first compare.
  t.R.EqualIndicator = true;  // as an earlier compare left it: not high at the start
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::StopCondition);
  EXPECT_EQ(d.LastStop(), "Breakpoint " + std::to_string(high) + " (IF HIGH) at 00514");
  EXPECT_EQ(t.Text(800, 3), "001");
  ASSERT_TRUE(d.Delete(high));

  t.Run();  // the second time at CHECK
  EXPECT_EQ(d.LastStop(), "Breakpoint " + std::to_string(check) + " (CHECK) at 00507");
  // The panel's line: the message, then the instruction's address.
  EXPECT_EQ(t.StopMessage(), "Breakpoint " + std::to_string(check) + " (CHECK) at");
  EXPECT_EQ(t.R.InstrAddr, 507);
  EXPECT_EQ(t.Text(800, 3), "002");
  ASSERT_TRUE(d.Enable(check, false));

  t.Run();  // the fourth branch
  EXPECT_EQ(d.LastStop(), "Breakpoint " + std::to_string(branch) + " (OP B/ COUNT 4) at 00514");
  EXPECT_EQ(t.Text(800, 3), "004");

  t.Run();  // COUNT becomes 005 after the fifth add
  EXPECT_EQ(d.LastStop(), "Breakpoint " + std::to_string(field) + " (IF COUNT = '005') at 00507");
  EXPECT_EQ(t.Text(800, 3), "005");

  t.Run();
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.R.IAR, 520);

  // The printing one never stopped and printed at each of the five compares.
  std::vector<std::string> out = d.Output();
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0].rfind("Breakpoint " + std::to_string(printer) + ": IAR 00507 AAR ", 0), 0u)
      << out[0];
  std::vector<TBreakpoint> list = d.Breakpoints();
  ASSERT_EQ(list.size(), 5u);
  for (const TBreakpoint& b : list) {
    const unsigned expected = b.Id == never ? 0 : b.Id == printer ? 5 : b.Id == branch ? 5 : b.Hits;
    EXPECT_EQ(b.Hits, expected) << b.Spec;
  }
  EXPECT_EQ(d.ListText()[0], std::to_string(check) + " break 00507 (CHECK) (disabled) hits 2");
}

TEST_F(DebuggerTest, WatchpointsNameTheInstructionAndBadInputChangesNothing) {
  std::string error;
  const int write = d.AddWatchpoint("LIMIT-2-LIMIT", error);  // only read: never fires
  ASSERT_EQ(error, "");
  const int read = d.AddWatchpoint("LIMIT READ", error);
  ASSERT_EQ(error, "");
  t.Run(500);
  EXPECT_EQ(t.State(), CpuState::StopCondition);
  EXPECT_EQ(d.LastStop(), "Watchpoint " + std::to_string(read) +
                              " (00900-00900): 00900 (LIMIT) read by the instruction at 00507 "
                              "(CHECK)");
  EXPECT_EQ(t.StopMessage(), "Watchpoint " + std::to_string(read) +
                                 " (00900-00900): 00900 (LIMIT) read by the instruction at");
  EXPECT_EQ(t.R.InstrAddr, 507);
  // The compare completed; the run ended before the branch.
  EXPECT_EQ(t.R.IAR, 514);
  ASSERT_TRUE(d.Delete(read));
  const int counter = d.AddWatchpoint("COUNT-2-COUNT", error);
  t.Run();
  EXPECT_EQ(d.LastStop(), "Watchpoint " + std::to_string(counter) +
                              " (00798-00800): 00800 (COUNT) written by the instruction at "
                              "00500 (LOOP)");
  EXPECT_EQ(t.Text(800, 3), "002");
  ASSERT_TRUE(d.Delete(counter));
  t.Run();
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  ASSERT_EQ(d.Watchpoints().size(), 1u);
  EXPECT_EQ(d.Watchpoints()[0].Id, write);
  EXPECT_EQ(d.Watchpoints()[0].Hits, 0u);

  // Every bad input: a clear error naming it, nothing added.
  const std::vector<std::string> before = d.ListText();
  struct TBad {
    bool Watch;
    const char* Spec;
    const char* Error;
  } bad[] = {
      {false, "ZORK", "no label ZORK in the loaded symbols"},
      {false, "LOOP+90000", "address 90500 (LOOP+90000) is outside core (0-7999)"},
      {false, "7999+1", "address 8000 (7999+1) is outside core (0-7999)"},
      {false, "0", "address 0 holds no instruction"},
      {false, "OP", "OP needs an op code, with or without its d-character (OP B, OP BZ)"},
      {false, "LOOP COUNT 0", "COUNT needs a number of hits from 1"},
      {false, "LOOP STOP", "\"STOP\" is not COUNT, PRINT, DUMP or GO"},
      {false, "LOOP DUMP LIMIT-ONE", "range LIMIT-ONE ends (700) before it starts (900)"},
      {false, "IF IAR ! 5", "\"!\" is not one of = <> < > <= >="},
      {false, "IF COUNT = 005", "a field is compared with a quoted text: COUNT = 'TEXT'"},
      {false, "IF LOW = MAYBE", "an indicator condition is NAME, NAME = ON or NAME = OFF"},
      {true, "LIMIT-ONE", "range LIMIT-ONE ends (700) before it starts (900)"},
      {true, "100-8000", "address 8000 (8000) is outside core (0-7999)"},
      {true, "COUNT SOMETIMES", "\"SOMETIMES\" is not READ, WRITE or ACCESS"},
      {true, "COUNT ARM NOWHERE", "no label NOWHERE in the loaded symbols"},
  };
  for (const TBad& b : bad) {
    const int id = b.Watch ? d.AddWatchpoint(b.Spec, error) : d.AddBreakpoint(b.Spec, error);
    EXPECT_EQ(id, 0) << b.Spec;
    EXPECT_EQ(error, b.Error) << b.Spec;
  }
  EXPECT_EQ(d.ListText(), before);
  EXPECT_FALSE(d.Delete(999));
  EXPECT_FALSE(d.Enable(999, true));
}

TEST_F(DebuggerTest, HistoryKeepsTheLastInstructionsAndStepsBackOverThem) {
  EXPECT_EQ(d.StepBack(), "cannot step back: the history is off");
  d.SetHistorySize(4);
  t.Run(500);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt);
  std::vector<THistoryEntry> h = d.History();
  ASSERT_EQ(h.size(), 4u);  // the last four of 16: C, B, ... the halt
  EXPECT_EQ(h[3].Address, 519);
  EXPECT_EQ(h[2].Address, 514);
  EXPECT_EQ(h[2].InstructionText(), "B " + Addr(500) + " /");
  EXPECT_EQ(h[1].InstructionText(), "C " + Addr(800) + " " + Addr(900));
  EXPECT_TRUE(h[1].After.Equal);
  EXPECT_EQ(h[0].After.IAR, 507);
  std::vector<std::string> lines = d.HistoryText(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(0, 12), "00519 DONE  ");
  EXPECT_NE(lines[1].find("IAR 00520"), std::string::npos) << lines[1];

  // Back over the halt, the branch and the compare, then the add: COUNT is 004 again, the
  // indicators and IAR as before the add.
  for (int k = 0; k < 4; ++k)
    ASSERT_EQ(d.StepBack(), "") << k;
  EXPECT_EQ(t.Text(800, 3), "004");
  EXPECT_EQ(t.R.IAR, 500);
  EXPECT_FALSE(t.R.EqualIndicator);
  EXPECT_FALSE(t.R.LowIndicator);
  EXPECT_EQ(d.StepBack(), "cannot step back: no instruction in the history");
  // And on from there: the same end.
  t.Run();
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_EQ(t.Text(800, 3), "005");

  // Word marks come back too, and no step back over a device operation.
  d.SetHistorySize(10);
  t.Instructions(600, {"2", "," + Addr(800), "."});  // print, set a word mark at 800, halt
  t.Run(600);
  ASSERT_EQ(t.State(), CpuState::ProgramHalt);
  EXPECT_TRUE(t.WordMarkAt(800));
  ASSERT_EQ(d.StepBack(), "");  // the halt
  ASSERT_EQ(d.StepBack(), "");  // the word mark
  EXPECT_FALSE(t.WordMarkAt(800));
  EXPECT_EQ(
      d.StepBack(),
      "cannot step back over the instruction at 00600 (DONE+81) (2): it used a device, and the "
      "devices are not rewound");

  TScratchDir dir;
  const std::string path = dir.Path("history.txt");
  ASSERT_EQ(d.SaveHistory(path), "");
  EXPECT_NE(TScratchDir::Read(path).find("00600"), std::string::npos);
  EXPECT_NE(d.SaveHistory(dir.Path("no/such/dir/h.txt")), "");
}

}  // namespace kestrel::test

namespace kestrel::test {

TEST_F(DebuggerTest, CommandsInWordsAndTheirErrors) {
  struct TCase {
    const char* Text;
    const char* Error;
  } cases[] = {
      {"BREAK DONE", ""},
      {"watch COUNT-2-COUNT", ""},
      {"DISABLE 2", ""},
      {"HISTORY 8", ""},
      {"LIST", ""},
      {"BREAK NOWHERE", "no label NOWHERE in the loaded symbols"},
      {"WATCH LIMIT-ONE", "range LIMIT-ONE ends (700) before it starts (900)"},
      {"ENABLE 9", "no breakpoint or watchpoint 9"},
      {"ENABLE", "ENABLE needs the number of a breakpoint or watchpoint"},
      {"DELETE X", "DELETE needs the number of a breakpoint or watchpoint, or ALL"},
      {"HISTORY -1", "HISTORY needs a number of instructions (0 = off)"},
      {"SHOW HISTORY 3 4", "SHOW HISTORY takes a number of instructions"},
      {"SYMBOLS", "SYMBOLS needs a file"},
      {"FROBNICATE",
       "unknown debugger command \"FROBNICATE\" (BREAK, WATCH, SYMBOLS, ENABLE, "
       "DISABLE, DELETE, LIST, HISTORY, SHOW HISTORY, SAVE HISTORY, STEPBACK)"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(d.Command(c.Text), c.Error) << c.Text;
  EXPECT_EQ(d.Output(), (std::vector<std::string>{"1 break 00519 (DONE) hits 0",
                                                  "2 watch 00798-00800 write (disabled) hits 0"}));
  t.Run(500);
  EXPECT_EQ(d.LastStop(), "Breakpoint 1 (DONE) at 00519");
  ASSERT_EQ(d.Command("STEPBACK"), "");  // back over the branch not taken
  EXPECT_EQ(t.R.IAR, 514);
  ASSERT_EQ(d.Command("SHOW HISTORY 1"), "");
  EXPECT_EQ(d.Output().back().substr(0, 5), "00507");
  ASSERT_EQ(d.Command("DELETE ALL"), "");
  EXPECT_TRUE(d.ListText().empty());
}

}  // namespace kestrel::test

namespace kestrel::test {

// A debugger stop fetches nothing (a break) or ends after the instruction (a watch): going on
// with Resume or Step must neither run the instruction before the stop again nor trace it twice.
// The add leaves AAR 697 and BAR 797: a second run of it would add the 1 there into 797.
TEST_F(DebuggerTest, GoingOnAfterADebuggerStopRunsNothingTwice) {
  struct TCase {
    bool Watch;
    const char* Spec;
    bool Step;
  } cases[] = {
      {false, "CHECK", false}, {false, "CHECK", true}, {false, "OP C", false},
      {false, "OP C", true},   {true, "COUNT", false}, {true, "COUNT", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Spec) + (c.Step ? " then Step" : " then Resume"));
    d.DeleteAll();
    t.M.TraceLog.Clear();
    t.M.TraceFlags.TraceInstructions = false;
    t.R.State = CpuState::OperatorHalt;
    t.Field(800, "000");
    t.Field(697, "1");
    t.Field(797, "0");
    std::string error;
    ASSERT_NE(c.Watch ? d.AddWatchpoint(c.Spec, error) : d.AddBreakpoint(c.Spec, error), 0);
    t.M.TraceFlags.TraceInstructions = true;
    t.Run(500);
    ASSERT_EQ(t.State(), CpuState::StopCondition);
    EXPECT_EQ(t.R.IAR, 507);
    EXPECT_EQ(t.Text(800, 3), "001");
    // The trace holds the add once: the stop traced nothing of its own.
    std::vector<std::string> trace = t.Trace();
    EXPECT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace.empty() ? "" : trace[0].substr(0, 8), "I00500 A");
    if (c.Step) {
      t.Step();
      EXPECT_EQ(t.State(), CpuState::SingleStep);
      EXPECT_EQ(t.R.InstrAddr, 507);  // the compare is pending
      EXPECT_EQ(t.Text(800, 3), "001");
    } else {
      t.Resume();
      ASSERT_EQ(t.State(), CpuState::StopCondition);
      EXPECT_EQ(t.R.IAR, 507);
      EXPECT_EQ(t.Text(800, 3), "002");
    }
    EXPECT_EQ(t.Text(797, 1), "0");
    std::vector<std::string> prefixes;
    for (const std::string& line : t.Trace())
      prefixes.push_back(line.substr(0, 8));
    const std::vector<std::string> stepped{"I00500 A", "I00507 C"};
    const std::vector<std::string> resumed{"I00500 A", "I00507 C", "I00514 B", "I00500 A"};
    EXPECT_EQ(prefixes, c.Step ? stepped : resumed);
  }
}

}  // namespace kestrel::test

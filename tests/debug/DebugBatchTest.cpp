// The debugger from the command line: a job that asserts a program reaches a label and never
// writes outside its area, and the history printed when a run goes wrong.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "batch/KestBatch.h"
#include "support/BatchJob.h"
#include "support/ScriptFixture.h"

namespace kestrel::test {

namespace {

// Counts N up to LIMIT, then halts at DONE; the bad one first stores into OUT, below its area;
// the endless one never stops counting.
enum TVariant { Good, Bad, Endless };
std::string Source(TVariant variant) {
  const bool bad = variant == Bad;
  auto card = [](const std::string& label, const std::string& op, const std::string& operand) {
    std::string line = "     " + label;
    line.resize(15, ' ');
    line += op;
    line.resize(20, ' ');
    return line + operand + "\n";
  };
  return card("", "ORG", "600") + card("START", "CS", "299") +
         (bad ? card("", "MCW", "N,OUT") : std::string()) + card("LOOP", "A", "ONE,N") +
         card("", "C", "N,LIMIT") + card("", variant == Endless ? "B" : "BU", "LOOP") +
         card("DONE", "H", "DONE") + card("N", "DCW", "000") + card("ONE", "DCW", "001") +
         card("LIMIT", "DCW", "003") + card("OUT", "EQU", "300") + card("", "END", "START");
}

class DebugBatch : public ::testing::Test {
 protected:
  int Run(TVariant variant, std::vector<std::string> extra) {
    dir.Write("COUNT.S", Source(variant));
    std::vector<std::string> args{"--batch", "--run", "COUNT.S", "--core", "4000"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunBatchJob(args, dir, out, err);
  }
  TWorkDir dir;
  std::ostringstream out, err;
};

}  // namespace

TEST_F(DebugBatch, BreakAndWatchTellWhichFiredAndBadOnesAreRefused) {
  // The third time at LOOP: N has been counted twice.
  ASSERT_EQ(Run(Good, {"--break", "LOOP COUNT 3 PRINT", "--break", "DONE"}), BSOk) << err.str();
  EXPECT_NE(out.str().find("Debugger stop: Breakpoint 1 (LOOP) at "), std::string::npos)
      << out.str();
  EXPECT_NE(err.str().find("Breakpoint 1: IAR "), std::string::npos) << err.str();

  // The program's own area is written, OUT never: the job ends at its halt, no watch fired.
  ASSERT_EQ(Run(Good, {"--watch", "OUT-OUT+9", "--history"}), BSOk) << err.str();
  EXPECT_EQ(out.str().find("Debugger stop"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Program Halt"), std::string::npos) << out.str();
  EXPECT_EQ(err.str().find("History"), std::string::npos) << err.str();  // nothing went wrong
  // The bad one writes there: the watch names the instruction and its label.
  ASSERT_EQ(Run(Bad, {"--watch", "OUT-OUT+9"}), BSOk) << err.str();
  EXPECT_NE(out.str().find("Debugger stop: Watchpoint 1 (00300-00309): 00300 (OUT) written by the "
                           "instruction at 00604 (START+4)"),
            std::string::npos)
      << out.str();

  struct TBad {
    std::vector<std::string> Args;
    const char* Error;
  } bad[] = {
      {{"--break", "NOWHERE"}, "--break NOWHERE: no label NOWHERE in the loaded symbols"},
      {{"--break", "4000"}, "--break 4000: address 4000 (4000) is outside core (0-3999)"},
      {{"--watch", "LIMIT-N"}, "--watch LIMIT-N: range LIMIT-N ends ("},
      {{"--symbols", "NO-SUCH.SYM"}, "--symbols cannot read symbols from NO-SUCH.SYM"},
  };
  for (const TBad& b : bad) {
    EXPECT_EQ(Run(Good, b.Args), BSBadCommand) << b.Error;
    EXPECT_EQ(err.str().rfind(b.Error, 0), 0u) << err.str();
  }
  TCommandLine line;
  EXPECT_EQ(ParseCommandLine({"--history"}, line),
            "--answer, --max-seconds, --trace, --features, --stop, --show-stops, --log and "
            "--history belong to --batch");
}

TEST_F(DebugBatch, HistoryIsPrintedWhenTheTimeLimitEndsTheRun) {
  ASSERT_EQ(Run(Endless, {"--history", "--max-seconds", "0.3"}), BSTimeLimit);
  const std::string text = err.str();
  const size_t heading = text.find("History (the last 20 instructions, the registers after each):");
  ASSERT_NE(heading, std::string::npos) << text;
  std::istringstream lines(text.substr(heading));
  std::string line;
  std::getline(lines, line);
  int entries = 0;
  bool loop = false;
  while (std::getline(lines, line) && line.rfind("  00", 0) == 0) {
    ++entries;
    loop = loop || line.find(" LOOP ") != std::string::npos;
    EXPECT_NE(line.find("IAR 00"), std::string::npos) << line;
  }
  EXPECT_EQ(entries, 20);
  EXPECT_TRUE(loop) << text;
  // Without --history nothing of it.
  ASSERT_EQ(Run(Endless, {"--max-seconds", "0.2"}), BSTimeLimit);
  EXPECT_EQ(err.str().find("History"), std::string::npos);
}

TEST(DebugScript, TheDebugStatementRunsItsCommandAndItsErrorIsTheScriptsError) {
  TWorkDir dir;
  dir.Write("JOB.OCL", "DEBUG 'BREAK 333'\nDEBUG 'LIST'\nDEBUG 'BREAK 9999'\nDISPLAY 'never'\n");
  TCommandLine line;
  ASSERT_EQ(ParseCommandLine({"--batch", "JOB.OCL"}, line), "");
  std::ostringstream out, err;
  EXPECT_EQ(RunBatch(line, (dir.Path() / "kestrel").string(), out, err), BSFailed);
  EXPECT_NE(err.str().find("1 break 00333 hits 0"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("address 9999 (9999) is outside core (0-7999)"), std::string::npos)
      << err.str();
  EXPECT_EQ(out.str().find("never"), std::string::npos) << out.str();
}

}  // namespace kestrel::test

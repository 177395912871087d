// The batch front end: the command line, and whole jobs run in-process with the real threads.
#include "batch/KestBatch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "charset/IBMChars.h"
#include "devices/TapeFormats.h"
#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

TEST(BatchCommandLine, Options) {
  TCommandLine line;
  EXPECT_EQ(
      ParseCommandLine({"--batch", "JOB.OCL", "--answer", "2", "--answer", "1", "--max-seconds",
                        "2.5", "--trace", "scripts,threads", "--log", "t.log"},
                       line),
      "");
  EXPECT_TRUE(line.Batch);
  EXPECT_EQ(line.Arguments, std::vector<std::string>{"JOB.OCL"});
  EXPECT_EQ(line.Answers, (std::vector<long>{2, 1}));
  EXPECT_DOUBLE_EQ(line.MaxSeconds, 2.5);
  EXPECT_EQ(line.Trace, (std::vector<std::string>{"scripts", "threads"}));
  EXPECT_EQ(line.LogFile, "t.log");
}

TEST(BatchCommandLine, BadCommandLines) {
  auto error = [](std::vector<std::string> args) {
    TCommandLine line;
    return ParseCommandLine(args, line);
  };
  EXPECT_NE(error({"--batch", "--answer"}), "");
  EXPECT_NE(error({"--batch", "--answer", "x"}), "");
  EXPECT_NE(error({"--batch", "--max-seconds", "0"}), "");
  EXPECT_NE(error({"--batch", "--max-seconds", "-3"}), "");
  EXPECT_NE(error({"--batch", "--max-seconds", "nan"}), "");
  EXPECT_NE(error({"--batch", "--trace", "everything"}), "");
  EXPECT_NE(error({"--batch", "A.OCL", "B.OCL"}), "");
  EXPECT_NE(error({"--bogus"}), "");
  EXPECT_NE(error({"--answer", "1"}), "");  // belongs to --batch
  EXPECT_NE(error({"--features", "all"}), "");
  EXPECT_NE(error({"--batch", "--features"}), "");
  EXPECT_NE(error({"--batch", "--features", "multiply-divide,telepathy"}), "");
  EXPECT_NE(error({"--batch", "--features", "bit-test,"}), "");
  EXPECT_NE(error({"--batch", "--stop", "read"}), "");
  EXPECT_NE(error({"--batch", "--stop", "read=123456"}), "");
  EXPECT_NE(error({"--batch", "--stop", "write=-1"}), "");
  EXPECT_NE(error({"--batch", "--stop", "value=AB"}), "");
  EXPECT_NE(error({"--batch", "--stop", "size=8"}), "");
  EXPECT_NE(error({"--stop", "read=1"}), "");
  EXPECT_EQ(error({"--tape"}), "--tape needs a tape image");
  EXPECT_NE(error({"--tape", "R.TAP", "JOB.OCL"}), "");
  EXPECT_NE(error({"--tape", "R.TAP", "--deck", "D.CD"}), "");
  EXPECT_EQ(error({"--convert", "A.MT"}), "--convert needs a tape image and the file to write");
  EXPECT_NE(error({"--convert", "A.MT", "B.TAP", "--batch"}), "");
  EXPECT_EQ(error({"--batch", "--tape", "R.P7B", "--core", "16000"}), "");
  EXPECT_EQ(error({"--convert", "A.MT", "B.TAP"}), "");
  EXPECT_EQ(error({}), "");
  EXPECT_EQ(error({"--help"}), "");
  EXPECT_EQ(error({"JOB.OCL"}), "");
  EXPECT_NE(UsageText().find("--batch"), std::string::npos);
  // A deck boot: a convention by name (any case), a core of a real size, no script beside it.
  TCommandLine boot;
  EXPECT_EQ(
      ParseCommandLine({"--deck", "hello.cd", "--charset", "SIMH-Old", "--core", "16000"}, boot),
      "");
  TBootOptions options = BootOptions(boot);
  EXPECT_EQ(options.Deck, "hello.cd");
  EXPECT_EQ(options.CoreSize, 16000);
  ASSERT_NE(options.Convention, nullptr);
  EXPECT_EQ(options.Convention->Name, "simh-old");
  EXPECT_EQ(options.CarriageTape, "");
  EXPECT_FALSE(options.FormFeeds);
  TCommandLine forms;
  EXPECT_EQ(ParseCommandLine({"JOB.OCL", "--carriage", "FORM.CT", "--form-feeds"}, forms), "");
  EXPECT_EQ(BootOptions(forms).CarriageTape, "FORM.CT");
  EXPECT_TRUE(BootOptions(forms).FormFeeds);
  TCommandLine tapes;
  EXPECT_EQ(ParseCommandLine({"--mount", "2=A.TAP", "--mount", "6=B C.MT", "--tape-parity"}, tapes),
            "");
  EXPECT_EQ(BootOptions(tapes).Mounts,
            (std::vector<std::pair<int, std::string>>{{2, "A.TAP"}, {6, "B C.MT"}}));
  EXPECT_TRUE(BootOptions(tapes).TapeParity);
  for (const char* bad : {"7=A.TAP", "0=A.TAP", "2A.TAP", "2=", "A.TAP"}) {
    EXPECT_EQ(error({"--batch", "--mount", bad}),
              "--mount needs a drive and a tape image: N=REEL, N from 1 to 6")
        << bad;
  }
  EXPECT_EQ(error({"--batch", "--carriage"}), "--carriage needs a carriage tape file");
  EXPECT_EQ(error({"--batch", "--carriage", ""}), "--carriage needs a carriage tape file");
  EXPECT_EQ(error({"--batch", "--deck"}), "--deck needs a card file");
  EXPECT_EQ(error({"--batch", "--deck", "A.CD", "--charset", "pierce-b"}),
            "--charset needs a character convention: pierce-a, simh-old, basic, pierce-h");
  EXPECT_NE(error({"--batch", "--deck", "A.CD", "--core", "1399"}), "");
  EXPECT_NE(error({"--batch", "--deck", "A.CD", "--core", "16001"}), "");
  EXPECT_NE(error({"--batch", "--deck", "A.CD", "JOB.OCL"}), "");
  EXPECT_EQ(error({"--charset", "basic", "JOB.OCL"}), "");  // the windows take them too
}

// Whole jobs: the script thread and the processor thread run; this thread plays the GUI.
class BatchThread : public ::testing::Test {
 protected:
  int Run(const std::string& script, std::vector<std::string> extra = {}) {
    dir.Write("JOB.OCL", script);
    std::vector<std::string> args{"--batch", "JOB.OCL"};
    args.insert(args.end(), extra.begin(), extra.end());
    TCommandLine line;
    EXPECT_EQ(ParseCommandLine(args, line), "");
    out.str("");
    err.str("");
    return RunBatch(line, (dir.Path() / "kestrel").string(), out, err);
  }
  TWorkDir dir;
  std::ostringstream out, err;
};

TEST_F(BatchThread, DisplayPrintsAndContinues) {
  EXPECT_EQ(Run("DISPLAY 'Hello' + CRLF + 'World'\nDISPLAY 'again'"), BSOk);
  EXPECT_EQ(out.str(), "Hello\nWorld\nagain\n");
  EXPECT_EQ(err.str(), "");
}

TEST_F(BatchThread, AnswersChooseOptions) {
  std::string job =
      "DISPLAY 'Pick:' + CRLF + OPTION('One') + CRLF + OPTION('Two')\n"
      "IF OPTNUM = 2 GOTO TWO\nDISPLAY 'got one' EXIT\n:TWO DISPLAY 'got two'";
  EXPECT_EQ(Run(job, {"--answer", "2"}), BSOk);
  EXPECT_NE(out.str().find("[1] One"), std::string::npos);
  EXPECT_NE(out.str().find("got two"), std::string::npos);
}

TEST_F(BatchThread, NoAnswerOrABadOneCancelsTheChain) {
  dir.Write("SUB.OCL", "DISPLAY 'Pick' + OPTION('A')\nDISPLAY 'not reached'");
  EXPECT_EQ(Run("EXEC SUB\nDISPLAY 'caller not reached'"), BSFailed);
  EXPECT_NE(out.str().find("Cancelled"), std::string::npos);
  EXPECT_EQ(out.str().find("not reached"), std::string::npos);
  EXPECT_EQ(Run("DISPLAY OPTION('A')", {"--answer", "3"}), BSFailed);
  EXPECT_NE(out.str().find("Cancelled"), std::string::npos);
}

TEST_F(BatchThread, ScriptErrorGoesToStandardError) {
  EXPECT_EQ(Run("DISPLAY 'before'\nBOGUS"), BSFailed);
  EXPECT_EQ(err.str(), "Error: Unknown script command: \"BOGUS\"\n");
  EXPECT_EQ(Run("CHARMAP '" + std::string(10, 'x') + "'"), BSFailed);
  // The carriage return inside the message becomes a line end.
  EXPECT_NE(err.str().find("64 chars long.\n: \""), std::string::npos);
}

TEST_F(BatchThread, FailedIarCheckPrintsTheReportAndFails) {
  EXPECT_EQ(Run("IARCHECK 0\nIARCHECK 333 'Expected the end'\nDISPLAY 'after'"), BSFailed);
  EXPECT_EQ(out.str(),
            "Expected the end\nThe emulator has stopped at address 00000, but a stop at address "
            "00333 was expected.\nafter\n");
}

TEST_F(BatchThread, MissingScriptFails) {
  TCommandLine line;
  ParseCommandLine({"--batch", "NOSUCH.OCL"}, line);
  EXPECT_EQ(RunBatch(line, (dir.Path() / "kestrel").string(), out, err), BSFailed);
  EXPECT_NE(err.str().find("NOSUCH.OCL"), std::string::npos);
}

TEST_F(BatchThread, ConfiguredStartupScriptRuns) {
  dir.Write("kestrel.INI", "[Operation]\nStartupScript=BOOT.OCL\n");
  dir.Write("BOOT.OCL", "DISPLAY 'booted'");
  TCommandLine line;
  ParseCommandLine({"--batch"}, line);
  EXPECT_EQ(RunBatch(line, (dir.Path() / "kestrel").string(), out, err), BSOk);
  EXPECT_EQ(out.str(), "booted\n");
}

// A reel boots with one command in every layout: its first record, a halt with its word mark and
// a word mark after it, is loaded at 1 and run.
TEST_F(BatchThread, AReelBootsWithOneCommandInEveryLayout) {
  const TTapeRecord boot{.TapeMark = false, .Error = false, .Codes = {29, 59, 29, 59}};
  const TTapeRecord mark{.TapeMark = true, .Error = false, .Codes = {}};
  // The end of the file ends a reel's last record, except in a BCD image, which needs its mark.
  const std::pair<const char*, std::vector<TTapeRecord>> reels[] = {
      {"BOOT.TAP", {boot}}, {"BOOT.P7B", {boot}}, {"BOOT.MT", {boot}}, {"BOOT.BCD", {boot, mark}}};
  for (const auto& [name, reel] : reels) {
    std::vector<uint8_t> bytes = EncodeImage(reel, FormatForName(name, IFBCD));
    dir.Write(name, std::string(bytes.begin(), bytes.end()));
    const std::string path = (dir.Path() / name).string();
    TCommandLine line;
    ASSERT_EQ(ParseCommandLine({"--batch", "--tape", path, "--max-seconds", "20"}, line), "");
    out.str("");
    err.str("");
    EXPECT_EQ(RunBatch(line, (dir.Path() / "kestrel").string(), out, err), BSOk) << err.str();
    EXPECT_EQ(out.str(), "Program Halt at 00001\n") << name;
  }
  // A reel that is not what its name says: the run fails with the offset, nothing runs.
  dir.Write("BAD.P7B", "x");
  const std::string bad = (dir.Path() / "BAD.P7B").string();
  TCommandLine line;
  ASSERT_EQ(ParseCommandLine({"--batch", "--tape", bad}, line), "");
  out.str("");
  err.str("");
  EXPECT_EQ(RunBatch(line, (dir.Path() / "kestrel").string(), out, err), BSFailed);
  EXPECT_NE(err.str().find("BAD.P7B is not a P7B reel: the first byte does not begin a record"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(out.str(), "");
}

// The demo's one-card program, booted with one command in each convention it can be written in,
// then the bad decks: the messages name the file and the convention, and the run fails.
TEST_F(BatchThread, ADeckBootsWithOneCommandInTheConventionNamed) {
  std::ifstream demo(std::string(KESTREL_SOURCE_DIR) + "/demo/hello/HELLO.CRD");
  std::string card;
  std::getline(demo, card);
  if (!card.empty() && card.back() == '\r') card.pop_back();
  ASSERT_EQ(card.size(), 80u);
  auto boot = [&](const std::string& deck, std::vector<std::string> options) {
    std::vector<std::string> args{"--batch", "--deck", deck, "--max-seconds", "20"};
    args.insert(args.end(), options.begin(), options.end());
    TCommandLine line;
    EXPECT_EQ(ParseCommandLine(args, line), "");
    out.str("");
    err.str("");
    std::remove("Kestrel.PRN");
    return RunBatch(line, (dir.Path() / "kestrel").string(), out, err);
  };
  // No control file beside the program: a named convention does without it.
  for (const TCharConvention& convention : CharConventions) {
    std::string written = card;
    for (char& c : written) {
      int code = TMapping(BasicCharSet).CodeOf(c);
      ASSERT_GE(code, 0) << c;
      c = convention.Mapping[static_cast<size_t>(code)];
    }
    dir.Write("HELLO.CD", written + "\n");
    EXPECT_EQ(boot("HELLO.CD", {"--charset", std::string(convention.Name), "--core", "1400"}), BSOk)
        << convention.Name << err.str();
    EXPECT_EQ(out.str(), "Program Halt at 00037\n") << convention.Name;
    EXPECT_EQ(dir.Read("Kestrel.PRN").substr(0, 40), card.substr(40)) << convention.Name;
  }
  // The control file decides without --charset: there is none beside the tests.
  EXPECT_EQ(boot("HELLO.CD", {}), BSFailed);
  EXPECT_NE(err.str().find("Character Map Control file: "), std::string::npos) << err.str();
  // A character the convention lacks (the apostrophe is the H chain's @, which Pierce A takes).
  dir.Write("OLD.CD", "A`B\n");
  EXPECT_EQ(boot("OLD.CD", {"--charset", "pierce-a"}), BSFailed);
  EXPECT_NE(err.str().find("Unmapped character: \"`\" ($60) at column 2 of card 1"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("OLD.CD"), std::string::npos);
  EXPECT_NE(err.str().find("in the character convention pierce-a"), std::string::npos);
  EXPECT_EQ(out.str(), "");
  // No deck at all.
  EXPECT_EQ(boot("GONE.CD", {"--charset", "basic"}), BSFailed);
  EXPECT_NE(err.str().find("File does not exist:-\nGONE.CD"), std::string::npos) << err.str();
  // An empty deck: Load finds no card, nothing is started.
  dir.Write("EMPTY.CD", "");
  EXPECT_EQ(boot("EMPTY.CD", {"--charset", "basic"}), BSFailed);
}

TEST(BatchCommandLine, Features) {
  struct TCase {
    const char* List;
    TFeatureSet Features;
  } cases[] = {
      {"all", AllFeatures},
      {"none", 0},
      {"multiply-divide,move-record", FEMultiplyDivide | FEMoveRecord},
      {"bit-test", FEBitTest},
      {"expanded-print-edit,binary-code", FEExpandedPrintEdit | FEBinaryCode},
  };
  for (const TCase& c : cases) {
    TCommandLine line;
    EXPECT_EQ(ParseCommandLine({"--batch", "--features", c.List}, line), "") << c.List;
    EXPECT_TRUE(line.FeaturesGiven);
    EXPECT_EQ(line.Features, c.Features) << c.List;
  }
}

// A branch if bit equal at 1 (W 030 020 1) that jumps to the halt at 30 when it is an
// instruction; without the bit test feature it is an invalid op code.
TEST_F(BatchThread, FeaturesComeFromTheInitialisationFileOrTheCommandLine) {
  const std::string job =
      "CORE CHAR [1] = 22 CORE CHAR [2] = 10 CORE CHAR [3] = 3 CORE CHAR [4] = 10 "
      "CORE CHAR [5] = 10 CORE CHAR [6] = 2 CORE CHAR [7] = 10 CORE CHAR [8] = 1 "
      "CORE CHAR [9] = 59 CORE CHAR [30] = 59 CORE CHAR [20] = 1 "
      "CORE MARK [1] ON CORE MARK [9] ON CORE MARK [10] ON CORE MARK [30] ON CORE MARK [31] ON "
      "START IARCHECK 31";
  EXPECT_EQ(Run(job), BSFailed);
  EXPECT_EQ(Run(job, {"--features", "bit-test"}), BSOk) << err.str();
  dir.Write("kestrel.INI", "[Features]\nBitTest=1\n");
  EXPECT_EQ(Run(job), BSOk) << err.str();
  EXPECT_EQ(Run(job, {"--features", "none"}), BSFailed);
}

TEST_F(BatchThread, ProgramThatHaltsEndsTheJob) {
  // 1: "." halt; the script checks where it stopped.
  EXPECT_EQ(Run("CORE CHAR [1] = 59 CORE MARK [1] ON CORE MARK [2] ON START IARCHECK 2"), BSOk);
}

TEST_F(BatchThread, EndlessProgramIsStoppedByTheTimeLimit) {
  // 1: "B 001", a branch to itself.
  std::string loop =
      "CORE CHAR [1] = 50 CORE MARK [1] ON CORE CHAR [2] = 10 CORE CHAR [3] = 10 "
      "CORE CHAR [4] = 1 CORE MARK [5] ON START DISPLAY 'never'";
  EXPECT_EQ(Run(loop, {"--max-seconds", "0.3"}), BSTimeLimit);
  EXPECT_NE(err.str().find("Time limit of 0.3 seconds reached"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Operator Halt at"), std::string::npos) << err.str();
  EXPECT_EQ(out.str(), "");
}

TEST_F(BatchThread, EndlessScriptIsStoppedByTheTimeLimit) {
  EXPECT_EQ(Run(":A GOTO A", {"--max-seconds", "0.2"}), BSTimeLimit);
}

TEST_F(BatchThread, StopFieldsAreSetBeforeTheJob) {
  // 1: "B 001" reads itself; the read stop at 3 ends the run in a single step (the op code
  // stop is set on another op code).
  std::string loop =
      "CORE CHAR [1] = 50 CORE MARK [1] ON CORE CHAR [2] = 10 CORE CHAR [3] = 10 "
      "CORE CHAR [4] = 1 CORE MARK [5] ON START DISPLAY 'stopped at ' + IAREG";
  EXPECT_EQ(
      Run(loop, {"--stop", "read=3", "--stop", "opcode=M", "--show-stops", "--max-seconds", "5"}),
      BSOk);
  EXPECT_EQ(out.str(),
            "Stop: Storage at 00003 accessed 00001 (IAR 00005 AAR 00001 BAR 00001)\n"
            "stopped at 5\n");
  EXPECT_EQ(err.str(), "");
}

TEST_F(BatchThread, TraceAndLog) {
  EXPECT_EQ(Run("TURBO ON", {"--trace", "scripts", "--log", "trace.txt"}), BSOk);
  EXPECT_EQ(dir.Read("trace.txt"), "SScript Load JOB.OCL\nSSwitch\n");
}

}  // namespace
}  // namespace kestrel::test

// Every command: what it sends or changes, its trace line, and its errors.
#include <gtest/gtest.h>

#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

using Strings = std::vector<std::string>;

class OclCommands : public ::testing::Test {
 protected:
  // Runs a script to its end (or first wait) and returns the error it ended with, if any.
  std::string Run(const std::string& script) {
    f.Start(script);
    return f.ErrorBoxes.empty() ? "" : f.ErrorBoxes.back();
  }
  std::vector<TRecorded> Requests(const TRecorder& r) const {
    std::vector<TRecorded> got;
    for (const TRecorded& x : r.Got) {
      if (x.Id == EmulatorMessage::DeviceRequest) got.push_back(x);
    }
    return got;
  }
  Strings ScriptLines() const {
    Strings lines;
    for (const std::string& l : f.Trace()) {
      if (l[0] == 'S' && l.rfind("SScript Load", 0) != 0) lines.push_back(l.substr(1));
    }
    return lines;
  }
  TScriptFixture f;
};

TEST_F(OclCommands, StatementsMaySpanLines) {
  EXPECT_EQ(Run("DISPLAY\n'A'\n+\n'B'"), "");
  ASSERT_EQ(f.M.ScriptDisplay.TextLines(), Strings{"AB"});
}

TEST_F(OclCommands, UnknownCommands) {
  EXPECT_EQ(Run("STOP"), "Unknown script command: \"STOP\"");
  EXPECT_EQ(f.ErrorLines(), Strings{"Error: Unknown script command: \"STOP\""});
  EXPECT_EQ(Run("'text'"), "Unknown script command: \"text\"");
  EXPECT_EQ(Run("42"), "Unknown script command: \"42\"");
  EXPECT_EQ(Run("SIZE"), "Unknown script command: \"SIZE\"");
}

TEST_F(OclCommands, ShowAndHideWindows) {
  EXPECT_EQ(Run("SHOW COREWINDOW HIDE TRACEWINDOW SHOW READERWINDOW"), "");
  // Posted: they arrive after the panel refresh that the thread sends before it sleeps.
  EXPECT_EQ(f.PanelCodes(), (Strings{"1:0", "20:1", "21:5", "20:2"}));
  EXPECT_EQ(ScriptLines(), (Strings{"Show window", "Hide window", "Show window"}));
  EXPECT_EQ(Run("SHOW PRINTER"), "Unknown window ID: \"PRINTER\"");
}

TEST_F(OclCommands, CharMapInstallsTheStringAndLeavesTheControlFile) {
  std::string map(64, ' ');
  map[1] = '1';
  EXPECT_EQ(Run("CHARMAP '" + map + "'"), "");
  EXPECT_EQ(f.Mapping.Mapping, map);
  EXPECT_FALSE(f.Mapping.UseCmcFile);
  EXPECT_EQ(ScriptLines(), Strings{"CharMap"});
}

TEST_F(OclCommands, CharMapErrors) {
  EXPECT_EQ(Run("CHARMAP 12"), "Character mapping string expected, found: \"12\"");
  // Checked also when a false IF skips the statement.
  EXPECT_EQ(Run("IF IAREG = 99 CHARMAP '" + std::string(63, 'x') + "'"),
            "Character mapping string must be 64 chars long.\r: \"" + std::string(63, 'x') + "\"");
  // An empty string does nothing.
  f.ErrorBoxes.clear();
  EXPECT_EQ(Run("CHARMAP '' RESET"), "");
  // A duplicate: the string stays installed, UseCmcFile keeps its value.
  f.Mapping.UseCmcFile = true;
  std::string dup = "AA" + std::string(62, ' ');
  EXPECT_EQ(Run("CHARMAP '" + dup + "'"), "Duplicate character: \"A\"");
  EXPECT_EQ(f.Mapping.Mapping, dup);
  EXPECT_TRUE(f.Mapping.UseCmcFile);
}

TEST_F(OclCommands, CharSetNamesTheConventionOfTheNextDecks) {
  EXPECT_EQ(Run("CHARSET 'simh-old' DECK 'OLD.CD'"), "");
  ASSERT_NE(f.Mapping.Convention, nullptr);
  EXPECT_EQ(f.Mapping.Convention->Name, "simh-old");
  EXPECT_EQ(ScriptLines(), (Strings{"CharSet", "Load card deck: OLD.CD"}));
  EXPECT_EQ(Run("CHARSET ''"), "");  // the control file decides again
  EXPECT_EQ(f.Mapping.Convention, nullptr);
  // Names are checked also when a false IF skips the statement; the choice stays as it was.
  EXPECT_EQ(
      Run("IF IAREG = 99 CHARSET 'pierce-b'"),
      "Unknown character convention (known: pierce-a, simh-old, basic, pierce-h): \"pierce-b\"");
  EXPECT_EQ(Run("CHARSET PIERCE"), "Character convention name expected, found: \"PIERCE\"");
  EXPECT_EQ(f.Mapping.Convention, nullptr);
}

TEST_F(OclCommands, DeckLoadsAFileWithTheUpperCaseOption) {
  f.Mapping.UseCmcFile = false;
  EXPECT_EQ(Run("DECK 'JOB' + '.CRD' UPPERCASE DECK 'B.CRD'"), "");
  auto got = Requests(f.Reader);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Operation, RdrLoadDeck);
  EXPECT_EQ(got[0].Text, "JOB.CRD");
  EXPECT_EQ(got[0].Flag, 1);
  EXPECT_EQ(got[1].Flag, 0);
  EXPECT_TRUE(f.Mapping.UseCmcFile);
  EXPECT_EQ(ScriptLines(), (Strings{"Load card deck: JOB.CRD", "Load card deck: B.CRD"}));
  EXPECT_EQ(Run("DECK 5"), "Stacker ID or File name string expected, found: \"5\"");
}

// CARRIAGE hands the printer a carriage tape file ('' for the usual tape); the printer's refusal
// of a bad file is its error (the printer's own tests show it keeps its tape).
TEST_F(OclCommands, CarriageLoadsATapeFileIntoThePrinter) {
  EXPECT_EQ(Run("CARRIAGE 'FORM' + '.CT' CARRIAGE ''"), "");
  auto got = Requests(f.Printer);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Operation, PrnLoadCarriage);
  EXPECT_EQ(got[0].Text, "FORM.CT");
  EXPECT_EQ(got[1].Operation, PrnLoadCarriage);
  EXPECT_EQ(got[1].Text, "");
  EXPECT_EQ(ScriptLines(), (Strings{"Carriage tape: FORM.CT", "Carriage tape: the usual one"}));
  EXPECT_EQ(Run("CARRIAGE 5"), "Carriage tape file name expected, found: \"5\"");
  EXPECT_EQ(Run("CARRIAGE"), "Carriage tape file name expected, found: \"\"");
  EXPECT_EQ(Requests(f.Printer).size(), 2u);
}

TEST_F(OclCommands, DeckRead1AndDeckPunchFeedThePocketBack) {
  // One request that moves the cards themselves: no file, no second translation.
  EXPECT_EQ(Run("DECK READ1 DECK PUNCH DECK NR"), "");
  auto got = Requests(f.Reader);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].Operation, RdrPocketToHopper);
  EXPECT_EQ(got[0].Selector, StackerRead1);
  EXPECT_EQ(got[1].Operation, RdrPocketToHopper);
  EXPECT_EQ(got[1].Selector, StackerPunchN);
  EXPECT_EQ(got[2].Operation, RdrPocketToHopper);
  EXPECT_EQ(got[2].Selector, StackerReadN);
  EXPECT_EQ(ScriptLines(), (Strings{"Load card deck: $TEMP$", "Load card deck: $PUNCH$",
                                    "Load card deck: $READ$"}));
  // Any other word is no pocket.
  EXPECT_EQ(Run("DECK NP"), "Stacker ID or File name string expected, found: \"NP\"");
  EXPECT_FALSE(f.Dir.Exists("$TEMP$"));
}

TEST_F(OclCommands, MountLoadSaveDummyCard) {
  EXPECT_EQ(Run("MOUNT TAPE3 'T.BCD' LOAD TAPE2 LOAD CARD LOADCARD SAVE PRINT 'P' + '.TXT' "
                "SAVE PUNCH 'PUN.TXT' DUMMYCARD = 'abc' DUMMYCARD 'x'"),
            "");
  auto tapes = Requests(f.Tapes);
  ASSERT_EQ(tapes.size(), 2u);
  EXPECT_EQ(tapes[0].Operation, Operation(TTapeOp::TapeMount));
  EXPECT_EQ(tapes[0].Selector, 3);
  EXPECT_EQ(tapes[0].Text, "T.BCD");
  EXPECT_EQ(tapes[1].Operation, Operation(TTapeOp::TapeLoad));
  EXPECT_EQ(tapes[1].Selector, 2);
  auto reader = Requests(f.Reader);
  ASSERT_EQ(reader.size(), 5u);
  EXPECT_EQ(reader[0].Operation, RdrLoadCard);
  EXPECT_EQ(reader[1].Operation, RdrLoadCard);
  EXPECT_EQ(reader[2].Operation, RdrSaveStacker);
  EXPECT_EQ(reader[2].Selector, StackerPunchN);
  EXPECT_EQ(reader[2].Text, "PUN.TXT");
  EXPECT_EQ(reader[3].Operation, RdrDummyCard);
  EXPECT_EQ(reader[3].Text, "abc");
  EXPECT_FALSE(reader[0].HasText);
  auto printer = Requests(f.Printer);
  ASSERT_EQ(printer.size(), 1u);
  EXPECT_EQ(printer[0].Operation, PrnSave);
  EXPECT_EQ(printer[0].Text, "P.TXT");
  EXPECT_EQ(ScriptLines(), (Strings{"Mount tape file: T.BCD", "Load", "Load", "LoadCard", "Save",
                                    "Save", "DummyCard", "DummyCard"}));
}

TEST_F(OclCommands, MountScratchMountsANewReel) {
  EXPECT_EQ(Run("MOUNT TAPE4 scratch MOUNT TAPE5 'A.MT'"), "");
  auto got = Requests(f.Tapes);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Operation, Operation(TTapeOp::TapeMountScratch));
  EXPECT_EQ(got[0].Selector, 4);
  EXPECT_EQ(got[1].Operation, Operation(TTapeOp::TapeMount));
  EXPECT_EQ(ScriptLines(), (Strings{"Mount scratch tape on unit 4", "Mount tape file: A.MT"}));
}

TEST_F(OclCommands, SaveTapeAndThePrintChain) {
  EXPECT_EQ(Run("SAVE TAPE4 'X.P7B' CHAIN 'h' CHAIN 'A'"), "");
  auto tapes = Requests(f.Tapes);
  ASSERT_EQ(tapes.size(), 1u);
  EXPECT_EQ(tapes[0].Operation, Operation(TTapeOp::TapeSave));
  EXPECT_EQ(tapes[0].Selector, 4);
  EXPECT_EQ(tapes[0].Text, "X.P7B");
  auto printer = Requests(f.Printer);
  ASSERT_EQ(printer.size(), 2u);
  EXPECT_EQ(printer[0].Operation, PrnChain);
  EXPECT_EQ(printer[0].Selector, 'H');
  EXPECT_EQ(printer[1].Selector, 'A');
  EXPECT_EQ(Run("CHAIN 'Q'"), "Unknown print chain (known: A, H): \"Q\"");
  EXPECT_EQ(Run("CHAIN H"), "Print chain 'A' or 'H' expected, found: \"H\"");
  EXPECT_EQ(Requests(f.Printer).size(), 2u);
}

TEST_F(OclCommands, DeviceErrorsDoNotEndTheScript) {
  f.Reader.OnRequest = [](const TRecorded&) { throw EKestrelError("File does not exist:-\rX"); };
  EXPECT_EQ(Run("DECK 'X' LOAD CARD RESET"), "");
  EXPECT_EQ(f.DeviceErrors.size(), 2u);
  EXPECT_TRUE(f.Traced("SScript Reset"));
}

TEST_F(OclCommands, DeviceArgumentErrors) {
  EXPECT_EQ(Run("MOUNT TAPE7 'x'"), "Tape Unit identifier expected, found: \"TAPE7\"");
  EXPECT_EQ(Run("MOUNT TAPE1 5"), "Tape file name expected, found: \"5\"");
  EXPECT_EQ(Run("MOUNT TAPE1 SCRAP"), "Tape file name expected, found: \"SCRAP\"");
  EXPECT_EQ(Run("LOAD PRINT"), "\"CARD\" or \"TAPE1-TAPE6\" expected, found: \"PRINT\"");
  EXPECT_EQ(Run("SAVE CARD 'x'"),
            "\"PRINT\", \"PUNCH\" or \"TAPE1-TAPE6\" expected, found: \"CARD\"");
  EXPECT_EQ(Run("SAVE PRINT 5"), "File name string expected, found: \"5\"");
  EXPECT_EQ(Run("SET PROT TAPE0 ON"), "Tape Unit identifier expected, found: \"TAPE0\"");
  EXPECT_EQ(Run("SET WP TAPE1 ON"), "SET command option expected, found: \"WP\"");
  EXPECT_EQ(Run("ZAP TAPE1 (1) = 3"), "\"[\" expected, found: \"(\"");
  EXPECT_EQ(Run("ZAP CARD [1] = 3"), "ZAP target expected, found: \"CARD\"");
  EXPECT_EQ(Run("ZAP TAPE1 [1 = 3"), "\"]\" expected, found: \"=\"");
}

TEST_F(OclCommands, SwitchTurboAndReset) {
  EXPECT_EQ(Run("SWITCH C ON SWITCH 'G' OFF SWITCH A MAYBE TURBO ON TURBO 1 RESET"), "");
  EXPECT_EQ(f.PanelCodes(), (Strings{"22:3", "23:7", "23:1", "24:0", "25:0", "5:0", "1:0"}));
  EXPECT_EQ(ScriptLines(),
            (Strings{"Switch", "Switch", "Switch", "Switch", "Switch", "Script Reset"}));
  EXPECT_EQ(Run("SWITCH H ON"), "Switch identifier expected, found: \"H\"");
  EXPECT_EQ(Run("SWITCH '' ON"), "Switch identifier expected, found: \"\"");
}

TEST_F(OclCommands, SetSendsProtectionAndParityOnOrOff) {
  EXPECT_EQ(Run("SET PROT TAPE4 ON SET PROT TAPE5 OFF SET PARITY TAPE2 ON set parity tape3 OFF"),
            "");
  auto got = Requests(f.Tapes);
  const std::pair<TTapeOp, uint16_t> expected[] = {{TTapeOp::TapeProtectOn, 4},
                                                   {TTapeOp::TapeProtectOff, 5},
                                                   {TTapeOp::TapeParityOn, 2},
                                                   {TTapeOp::TapeParityOff, 3}};
  ASSERT_EQ(got.size(), std::size(expected));
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].Operation, Operation(expected[i].first)) << i;
    EXPECT_EQ(got[i].Selector, expected[i].second) << i;
  }
  EXPECT_EQ(ScriptLines(),
            (Strings{"Tape parity check on unit 2: on", "Tape parity check on unit 3: off"}));
  EXPECT_EQ(Run("SET PARITIES TAPE2 ON"), "SET command option expected, found: \"PARITIES\"");
  EXPECT_EQ(Run("SET 'PARITY' TAPE2 ON"), "SET command option expected, found: \"PARITY\"");
  EXPECT_EQ(Run("SET PARITY CARD ON"), "Tape Unit identifier expected, found: \"CARD\"");
  EXPECT_EQ(Requests(f.Tapes).size(), std::size(expected));  // the bad ones sent nothing
}

TEST_F(OclCommands, SetReaderWaitTurnsTheReadersWaitAtAnEmptyHopper) {
  EXPECT_EQ(Run("SET READER WAIT ON set reader wait off"), "");
  auto got = Requests(f.Reader);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Operation, RdrWaitWhenEmpty);
  EXPECT_EQ(got[0].Selector, 1);
  EXPECT_EQ(got[1].Operation, RdrWaitWhenEmpty);
  EXPECT_EQ(got[1].Selector, 0);
  EXPECT_EQ(Run("SET READER STOP ON"), "\"WAIT\" expected, found: \"STOP\"");
  EXPECT_EQ(Run("SET READER WAIT 1"), "\"ON\" or \"OFF\" expected, found: \"1\"");
  EXPECT_EQ(Requests(f.Reader).size(), 2u);  // the refused statements sent nothing
}

TEST_F(OclCommands, SetDensityTurnsTheDrivesSwitch) {
  EXPECT_EQ(Run("SET DENSITY TAPE4 LOW SET density TAPE6 high"), "");
  auto got = Requests(f.Tapes);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Operation, Operation(TTapeOp::TapeDensityLow));
  EXPECT_EQ(got[0].Selector, 4);
  EXPECT_EQ(got[1].Operation, Operation(TTapeOp::TapeDensityHigh));
  EXPECT_EQ(got[1].Selector, 6);
  EXPECT_EQ(Run("SET DENSITY TAPE7 LOW"), "Tape Unit identifier expected, found: \"TAPE7\"");
  EXPECT_EQ(Run("SET DENSITY TAPE1 'LOW'"), "\"HIGH\" or \"LOW\" expected, found: \"LOW\"");
  EXPECT_EQ(Run("SET DENSITY TAPE1 556"), "\"HIGH\" or \"LOW\" expected, found: \"556\"");
  EXPECT_EQ(Requests(f.Tapes).size(), 2u);  // the refused statements sent nothing
}

TEST_F(OclCommands, ZapSendsTheRecord) {
  EXPECT_EQ(Run("ZAP TAPE6 [2147483647] = 63 ZAP TAPE1 [0] 5"), "");
  ASSERT_EQ(f.Tapes.Got.size(), 2u);
  EXPECT_EQ(f.Tapes.Got[0].Id, EmulatorMessage::TapeZapRequest);
  EXPECT_EQ(f.Tapes.Got[0].Zap.Unit, 6);
  EXPECT_EQ(f.Tapes.Got[0].Zap.Offset, 2147483647u);
  EXPECT_EQ(f.Tapes.Got[0].Zap.Value, 63);
  EXPECT_EQ(f.Tapes.Got[1].Zap.Offset, 0u);
  EXPECT_EQ(Run("ZAP TAPE1 [1] = 64"), "Numeric character value expected, found: \"64\"");
}

TEST_F(OclCommands, CoreCommands) {
  f.M.Core.SetCoreSize(4000);
  EXPECT_EQ(Run("CORE CHAR [100] = 1 CORE CHAR [101] 63 CORE MARK [100] ON CORE SIZE = 8000"), "");
  EXPECT_EQ(f.M.Core.Word(100) & 63, 1);
  EXPECT_TRUE(f.M.Core.Word(100) & CoreChar::WordMark);
  EXPECT_EQ(f.M.Core.Word(101) & 63, 63);
  EXPECT_EQ(f.PanelCodes(), (Strings{"30:8000", "1:0"}));
  EXPECT_EQ(Run("CORE SIZE 16001"), "Value to large: 16001 Max allowed=16000: \"16001\"");
  EXPECT_EQ(Run("CORE CHAR [4001] = 1"), "Value to large: 4001 Max allowed=4000: \"4001\"");
  // The size itself passes the parser and is refused by core storage.
  EXPECT_EQ(Run("CORE CHAR [4000] = 1"), "Invalid Address: 4000 used by 0");
  EXPECT_EQ(Run("CORE WORD [1] = 1"), "CORE Command option expected, found: \"WORD\"");
  EXPECT_EQ(Run("CORE MARK 1"), "\"[\" expected, found: \"1\"");
  EXPECT_EQ(Run("CORE MARK [1] = 1"), "ON or OFF expected, found: \"1\"");
}

TEST_F(OclCommands, CoreCharKeepsTheWordMarkAndMarkKeepsTheCode) {
  f.M.Core.StoreCharWM(200, true, 5);
  EXPECT_EQ(Run("CORE CHAR [200] = 9 CORE MARK [201] ON"), "");
  EXPECT_EQ(f.M.Core.Word(200) & (63 | CoreChar::WordMark), 9 | CoreChar::WordMark);
}

TEST_F(OclCommands, IfMakesOnlyTheNextStatementConditional) {
  f.M.Registers.IAR = 500;
  // The comment after IF is the conditional statement: the GOTO always runs.
  EXPECT_EQ(Run("IF IAREG = 333\n* comment\nGOTO FAIL\nEXIT\n:FAIL RESET"), "");
  EXPECT_TRUE(f.Traced("SScript Reset"));
  EXPECT_TRUE(f.Traced("SIF - Condition False"));
}

TEST_F(OclCommands, FalseIfParsesButSkipsTheStatement) {
  EXPECT_EQ(Run("IF OPTNUM = 1 GOTO A RESET :A SWITCH A ON"), "");
  EXPECT_EQ(ScriptLines(), (Strings{"IF - Condition False", "Script Reset", "Switch"}));
  // Syntax errors of the skipped statement are reported all the same.
  EXPECT_EQ(Run("IF OPTNUM = 1 GOTO 5"), "Label identifier expected, found: \"5\"");
}

TEST_F(OclCommands, IfAfterFalseIfIsEvaluated) {
  EXPECT_EQ(Run("IF OPTNUM = 1 IF OPTNUM = 0 RESET"), "");
  EXPECT_EQ(ScriptLines(),
            (Strings{"IF - Condition False", "IF - Condition True", "Script Reset"}));
}

TEST_F(OclCommands, GotoAndLabels) {
  EXPECT_EQ(Run("GOTO there RESET :THERE TURBO ON"), "");
  EXPECT_EQ(ScriptLines(), (Strings{"Goto THERE", "Switch"}));
  EXPECT_EQ(Run("GOTO NOWHERE"), "Label not found: NOWHERE");
}

TEST_F(OclCommands, CallSetsTheParameterAndReturnComesBack) {
  EXPECT_EQ(Run("CALL SUB('X' + 'Y') DISPLAY &1 CALL SUB DISPLAY 'p=' + &1 EXIT\n"
                ":SUB RETURN"),
            "");
  EXPECT_EQ(ScriptLines(), (Strings{"Call SUB(XY)", "Return", "Display Wait"}));
  EXPECT_EQ(f.M.ScriptDisplay.TextLines(), Strings{"XY"});
  f.M.ScriptDisplay.Continue();
  f.Wake();
  EXPECT_EQ(f.M.ScriptDisplay.TextLines(), Strings{"p="});
}

TEST_F(OclCommands, SecondReturnGoesBackToTheSamePlace) {
  EXPECT_EQ(Run("CALL S\nDISPLAY 'x' + OPTION('a') + OPTION('b')\nIF OPTNUM = 2 EXIT\nRETURN\n"
                ":S RETURN"),
            "");
  f.M.ScriptDisplay.ChooseOption(1);
  f.Wake();
  // The RETURN after the subroutine went back behind the CALL: the DISPLAY shows again.
  EXPECT_TRUE(f.M.ScriptDisplay.Visible());
  EXPECT_EQ(ScriptLines(), (Strings{"Call S()", "Return", "Display Wait", "IF - Condition False",
                                    "Return", "Display Wait"}));
  f.M.ScriptDisplay.ChooseOption(2);
  f.Wake();
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
}

TEST_F(OclCommands, ReturnWithoutCall) {
  EXPECT_EQ(Run("RETURN"), "No previous CALL");
  EXPECT_EQ(Run("CALL 5"), "Label identifier expected, found: \"5\"");
  EXPECT_EQ(Run("CALL S(5)"), "CALL Parameter must be a string literal: \"5\"");
  EXPECT_EQ(Run("CALL S('a' 'b')"), "\")\" expected, found: \"b\"");
}

TEST_F(OclCommands, DisplayComposesTextAndOptions) {
  f.M.Registers.IAR = 333;
  EXPECT_EQ(Run("DISPLAY 'At ' + IAREG + CRLF + 'Pick:' + OPTION('One') + CRLF + OPTION('Two')"),
            "");
  auto items = f.M.ScriptDisplay.Items();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].Text, "At 333");
  EXPECT_EQ(items[1].Text, "Pick:");
  EXPECT_EQ(items[1].Line, 1);
  EXPECT_EQ(items[2].Kind, TDisplayItemKind::Option);
  EXPECT_EQ(items[2].Number, 1);
  EXPECT_EQ(items[2].Line, 1);
  EXPECT_EQ(items[3].Number, 2);
  EXPECT_EQ(items[3].Line, 2);
  EXPECT_FALSE(f.M.ScriptDisplay.ContinueVisible());
  EXPECT_TRUE(f.M.ScriptDisplay.Visible());
  EXPECT_EQ(f.M.Script.ScriptState(), static_cast<uint8_t>(TRunState::Waiting));
}

TEST_F(OclCommands, SkippedDisplayStillChangesTheHiddenWindow) {
  EXPECT_EQ(Run("IF OPTNUM = 5 DISPLAY 'hidden' RESET"), "");
  EXPECT_EQ(f.M.ScriptDisplay.TextLines(), Strings{"hidden"});
  EXPECT_FALSE(f.M.ScriptDisplay.Visible());
}

TEST_F(OclCommands, DisplayErrors) {
  EXPECT_EQ(Run("DISPLAY 5"),
            "Literal string, Variable identifier, \"OPTION\" or \"CRLF\" expected, found: \"5\"");
  EXPECT_EQ(Run("DISPLAY word"),
            "Literal string, Variable identifier, \"OPTION\" or \"CRLF\" expected, found: "
            "\"WORD\"");
  EXPECT_EQ(Run("DISPLAY OPTION 'x'"), "\"(\" expected, found: \"x\"");
  EXPECT_EQ(Run("DISPLAY OPTION(x)"), "String literal expected, found: \"X\"");
  EXPECT_EQ(Run("DISPLAY OPTION('x'"), "\")\" expected, found: \"\"");
}

TEST_F(OclCommands, IarCheckMatchingDoesNothingVisible) {
  f.M.Registers.IAR = 333;
  EXPECT_EQ(Run("IARCHECK 333 'Halt at end' RESET"), "");
  EXPECT_FALSE(f.M.ScriptDisplay.Visible());
  EXPECT_EQ(f.M.Script.FailedChecks, 0);
  EXPECT_TRUE(f.Traced("SIARCheck"));
}

TEST_F(OclCommands, IarCheckMismatchShowsTheRedReport) {
  f.M.Registers.IAR = 500;
  EXPECT_EQ(Run("IARCHECK 333 '  Halt at end  ' RESET"), "");
  EXPECT_EQ(f.M.ScriptDisplay.TextLines(),
            (Strings{"Halt at end",
                     "The emulator has stopped at address 00500, but a stop at address 00333 "
                     "was expected."}));
  EXPECT_TRUE(f.M.ScriptDisplay.Visible());
  EXPECT_TRUE(f.M.ScriptDisplay.ContinueShown());
  EXPECT_EQ(f.M.ScriptDisplay.Background(), ColourRed);
  EXPECT_EQ(f.M.ScriptDisplay.Items()[0].Colour, ColourWhite);
  EXPECT_EQ(f.M.Script.FailedChecks, 1);
  EXPECT_FALSE(f.Traced("SScript Reset"));
  // After Continue the script goes on; later DISPLAYs stay red with white text.
  f.M.ScriptDisplay.Continue();
  f.Wake();
  EXPECT_TRUE(f.Traced("SScript Reset"));
}

TEST_F(OclCommands, IarCheckDefaultHeadingAndLimit) {
  f.M.Registers.IAR = 1;
  EXPECT_EQ(Run("IARCHECK 2"), "");
  EXPECT_EQ(f.M.ScriptDisplay.TextLines()[0], "Unexpected Error:-");
  f.M.Core.SetCoreSize(4000);
  EXPECT_EQ(Run("IARCHECK 4001"), "Value to large: 4001 Max allowed=4000: \"4001\"");
}

TEST_F(OclCommands, ColourCommands) {
  EXPECT_EQ(Run("BCOLOUR $FF0000 TCOLOUR LIME HCOLOUR 255 DISPLAY 'a' + OPTION('b')"), "");
  EXPECT_EQ(f.M.ScriptDisplay.Background(), 0xFF0000u);
  EXPECT_EQ(ColourRgb(f.M.ScriptDisplay.Background()).Blue, 255);
  auto items = f.M.ScriptDisplay.Items();
  EXPECT_EQ(items[0].Colour, 0x00FF00u);
  EXPECT_EQ(items[1].Colour, 0x0000FFu);
  EXPECT_EQ(Run("BCOLOUR 'red'"), "Colour constant or value expected, found: \"red\"");
  EXPECT_EQ(KeywordColour(TKINFOBK), ColourInfoBk);
}

TEST_F(OclCommands, ExitHidesTheWindowAndEndsTheScript) {
  EXPECT_EQ(Run("EXIT RESET"), "");
  EXPECT_FALSE(f.Traced("SScript Reset"));
  EXPECT_TRUE(f.Traced("SExit"));
  EXPECT_FALSE(f.M.Script.HasCurrentScript());
}

TEST_F(OclCommands, ExecParameters) {
  f.Dir.Write("JOB2.OCL", "DISPLAY &0 + '|' + &1 + '|' + &2 + '|' + &3 + '|' + &4");
  EXPECT_EQ(Run("EXEC 'JOB2'(1, 'A' 7) RESET"), "");
  EXPECT_EQ(f.M.ScriptDisplay.TextLines(), Strings{"JOB2|1|A|7|"});
  EXPECT_EQ(f.M.Script.CurrentFileName(), "JOB2.OCL");
}

TEST_F(OclCommands, ExecErrors) {
  EXPECT_EQ(Run("EXEC 5"), "Script file name expected, found: \"5\"");
  EXPECT_EQ(Run("EXEC X(1,2,3,4,5,6,7,8,9,10)"), "Too many parameters on Exec call: \"10\"");
  EXPECT_EQ(Run("EXEC X(1 START)"), "Invalid EXEC parameter \"START\": \"START\"");
  EXPECT_EQ(Run("EXEC X(1"), "\")\" expected, found: \"\"");
  std::string missing = Run("EXEC NOSUCH RESET");
  EXPECT_NE(missing.find("NOSUCH.OCL"), std::string::npos) << missing;
  EXPECT_FALSE(f.Traced("SScript Reset"));
}

}  // namespace
}  // namespace kestrel::test

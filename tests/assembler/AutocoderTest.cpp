#include "assembler/Autocoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "batch/KestBatch.h"
#include "core/KestCore.h"
#include "support/BatchJob.h"
#include "support/ScriptFixture.h"

namespace kestrel::test {

namespace {

// One line of a coding sheet: the label from column 6, the operation from 16, the operand
// from 21.
std::string Card(const std::string& label, const std::string& op, const std::string& operand) {
  std::string line = "     " + label;
  line.resize(15, ' ');
  line += op;
  line.resize(20, ' ');
  line += operand;
  return line + "\n";
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The print file's lines without carriage returns and trailing blanks.
std::vector<std::string> PrintedLines(const std::string& print) {
  std::vector<std::string> lines;
  std::istringstream in(print);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    lines.push_back(line);
  }
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  return lines;
}

// Assembles and runs a source as `kestrel --batch --run` does, in the work directory.
class AssembleAndRun : public ::testing::Test {
 protected:
  int Run(const std::string& name, const std::string& source, std::vector<std::string> extra = {}) {
    dir.Write(name, source);
    std::vector<std::string> args{"--batch", "--run", name, "--max-seconds", "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    const int status = RunBatchJob(args, dir, out, err);
    return status < 0 ? BSFailed : status;
  }
  TWorkDir dir;
  std::ostringstream out, err;
};

}  // namespace

// Every address with every index register decodes, by the processor's own tables, to itself.
TEST(Autocoder, AddressesEncodeAsTheProcessorDecodesThem) {
  for (int address = 0; address <= 15999; ++address) {
    for (int index = 0; index <= 3; ++index) {
      uint8_t c[3];
      EncodeAddress(address, index, c);
      const int value = HundredsTable[c[0]] + TensTable[c[1] & Bcd::NumericMask] + UnitsTable[c[2]];
      ASSERT_EQ(value, address) << index;
      ASSERT_EQ(c[1] >> 4, index) << address;
    }
  }
}

// One program that uses each statement and each kind of address, run from its deck: every
// field of the printed line shows one rule.
TEST_F(AssembleAndRun, EveryStatementDoesWhatItSays) {
  const std::string source =
      "     * A ROUTINE THAT RUNS WHILE THE DECK LOADS, ITS LITERAL PLACED BEFORE IT\n" +
      Card("PRINT", "EQU", "200") + Card("", "ORG", "600") +
      Card("EXR", "MCW", "@E@,EXFLAG       MARK THAT IT RAN") +
      Card("", "R", "40               GO ON LOADING") + Card("EXFLAG", "DCW", "@-@") +
      Card("", "LTORG", "") + Card("", "EX", "EXR") + Card("", "ORG", "700") +
      Card("START", "CS", "332") + Card("", "CS", "") + Card("", "MCW", "@ABC@,PRINT+3") +
      Card("", "MCW", "TWO,X1           X1 = 2") + Card("", "MCW", "WORD-2+X1,207") +
      Card("", "B", "*+8              OVER THE NEXT") + Card("", "MCW", "@NO@,210") +
      Card("", "BCE", "YES,WORD,W") + Card("", "B", "FAIL") + Card("YES", "MCW", "@OK@,212") +
      Card("", "A", "+5,COUNT") + Card("", "S", "-12,COUNT") + Card("", "MCS", "COUNT,215") +
      Card("", "MCW", "PAIR,218         TO THE WORD MARK OF LEFT") +
      Card("", "LCA", "@HELLO@,AREA") + Card("", "MCW", "AREA,225") +
      Card("", "MCW", "EXFLAG,227") + Card("", "C", "COUNT,@027@") + Card("", "BU", "FAIL") +
      Card("", "MCW", "@Z@,PRINT+30") + Card("", "W", "") + Card("", "H", "START") +
      Card("FAIL", "MCW", "@FAIL@,240") + Card("", "W", "") + Card("", "H", "") +
      Card("WORD", "DCW", "@XYZW@") + Card("TWO", "DSA", "2") + Card("COUNT", "DCW", "010") +
      Card("LEFT", "DCW", "@P@") + Card("PAIR", "DC", "@RS@") + Card("AREA", "DS", "5") +
      Card("", "END", "START");
  ASSERT_EQ(Run("TRY.S", source, {"--core", "4000"}), BSOk) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_NE(out.str().find("Program Halt"), std::string::npos) << out.str();
  const std::vector<std::string> printed = PrintedLines(dir.Read("Kestrel.PRN"));
  ASSERT_EQ(printed.size(), 1u) << dir.Read("Kestrel.PRN");
  EXPECT_EQ(printed[0], "ABCXYZW   OK 27PRS  HELLO E  Z");

  // The listing ends with the symbol table, one "NAME ADDRESS" line each, then a blank line.
  const std::string listing = dir.Read("TRY.lst");
  const size_t table = listing.find("\nSYMBOL TABLE\n");
  ASSERT_NE(table, std::string::npos) << listing;
  EXPECT_EQ(listing.substr(table + 14),
            "AREA   855\nCOUNT  847\nEXFLAG 611\nEXR    600\nFAIL   829\nLEFT   848\n"
            "PAIR   850\nPRINT  200\nSTART  700\nTWO    844\nWORD   841\nYES    749\n\n");
  EXPECT_NE(listing.find("NO ERRORS"), std::string::npos);
  EXPECT_NE(listing.find("LITERAL POOL"), std::string::npos);
  // The deck: three loader cards, text cards of 39 columns at most, each with its loader
  // instructions from column 40 and its number in 72-75, and the branch to the start.
  const std::vector<std::string> deck = PrintedLines(dir.Read("TRY.cd"));
  ASSERT_GT(deck.size(), 5u);
  EXPECT_EQ(deck.back(), std::string(39, ' ') + "/700080" + std::string(25, ' ') +
                             (deck.size() < 10 ? "000" : "00") + std::to_string(deck.size()));
  for (size_t n = 3; n + 1 < deck.size(); ++n)
    EXPECT_EQ(deck[n].substr(67, 4), n == 4 ? "B600" : "1040") << n;
}

// The Autocoder hello program prints what the SPS-assembled one prints (the demo's expected
// print), in either convention its deck is written in.
TEST_F(AssembleAndRun, HelloWorldPrintsAsTheSpsOne) {
  const std::string source =
      ReadFile(std::string(KESTREL_SOURCE_DIR) + "/demo/hello-autocoder/HELLO.S");
  const std::string expected =
      ReadFile(std::string(KESTREL_SOURCE_DIR) + "/demo/hello-autocoder/expected-print.txt");
  ASSERT_FALSE(source.empty());
  ASSERT_EQ(expected, " HELLO WORLD\n");
  for (const char* convention : {"pierce-a", "simh-old"}) {
    ASSERT_EQ(Run("HELLO.S", source, {"--charset", convention}), BSOk) << err.str();
    EXPECT_EQ(PrintedLines(dir.Read("Kestrel.PRN")), std::vector<std::string>{" HELLO WORLD"});
    EXPECT_EQ(out.str(), "Program Halt at 00513\n");
  }
}

// Every error of a source in one run, each with its line and column; no deck is written.
TEST_F(AssembleAndRun, EveryErrorIsReportedWithItsLineAndColumn) {
  const std::string source =
      Card("", "XYZ", "1") + Card("1ABC", "B", "START") + Card("", "B", "UNDEF") +
      Card("", "MCW", "A,B,C") + Card("START", "H", "") + Card("START", "H", "") +
      Card("", "MCW", "@ABC,200") + Card("", "A", "20000,START") +
      Card("", "BCE", "START,START,AB") + Card("", "DCW", "12A") + Card("", "B", "START-900") +
      Card("", "ORG", "LATER") + Card("", "DS", "0") + "\tB\n" + Card("LONGLABEL1", "H", "") +
      Card("", "MCW", "@a@,200") + Card("", "B", "START+X4") + Card("", "BCE", "START,X") +
      Card("", "ORG", "50") + Card("", "DCW", "@X@");
  struct TCase {
    int Line;
    int Column;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {1, 16, "unknown operation \"XYZ\""},
      {2, 6, "a label begins with a letter"},
      {3, 21, "\"UNDEF\" is not defined"},
      {4, 21, "MCW takes 0 to 2 addresses, not 3"},
      {6, 6, "\"START\" is defined twice"},
      {7, 21, "the text has no closing @"},
      {8, 21, "an actual address is 0 to 15999"},
      {9, 33, "the d-character is one character"},
      {10, 21, "a constant is @TEXT@, a number (+12, -5, 300) or #N for N blanks"},
      {11, 21, "the address -549 is outside 0 to 15999"},
      {12, 21, "\"LATER\" must be defined above ORG"},
      {13, 21, "DS needs a number of positions, 1 to 15999"},
      {14, 1, "a tab: the columns are reached with blanks"},
      {15, 12, "a label has at most 6 characters"},
      {16, 22, "'a' is no character of the convention pierce-a"},
      {17, 26, "an adjustment is a number of positions"},
      {18, 21, "BCE needs a branch address, an address and a d-character"},
      {20, 16, "001-080 hold the loader while the deck loads: nothing can be loaded there"},
      {21, 1, "no END statement"},
  };
  EXPECT_EQ(Run("BAD.S", source), BSFailed);
  const TAssembly assembly = AssembleAutocoder(source);
  ASSERT_EQ(assembly.Errors.size(), cases.size()) << assembly.ErrorText();
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(assembly.Errors[i].Line, cases[i].Line) << cases[i].Message;
    EXPECT_EQ(assembly.Errors[i].Column, cases[i].Column) << cases[i].Message;
    EXPECT_EQ(assembly.Errors[i].Message, cases[i].Message);
  }
  EXPECT_TRUE(assembly.Deck.empty());
  EXPECT_FALSE(dir.Exists("BAD.cd"));
  EXPECT_NE(
      err.str().find("BAD.S: 19 errors, no deck written\nLINE 1 COLUMN 16: unknown operation"),
      std::string::npos)
      << err.str();
  // The listing is written all the same, each error under its statement.
  const std::string listing = dir.Read("BAD.lst");
  EXPECT_NE(listing.find("      ***** COLUMN 21: \"UNDEF\" is not defined\n"), std::string::npos);
  EXPECT_NE(listing.find("19 ERRORS\n"), std::string::npos);
  EXPECT_NE(listing.find("\nSYMBOL TABLE\nSTART  "), std::string::npos) << listing;
}

// The deck is written in the convention named: 4000 has the record mark in its units position,
// the apostrophe in SIMH old and the bar in Pierce A; the basic set has the minus zone's letters.
TEST(Autocoder, DecksAreWrittenInTheConventionNamed) {
  const std::string source = Card("START", "B", "4000") + Card("", "MCW", "DATA,210") +
                             Card("DATA", "DCW", "-5") + Card("", "END", "START");
  const std::pair<int, std::string> cases[] = {{0, "B00|M"}, {1, "B00'M"}, {2, "B00rM"}};
  for (const auto& [convention, text] : cases) {
    TAsmOptions options;
    options.Convention = &CharConventions[static_cast<size_t>(convention)];
    const TAssembly assembly = AssembleAutocoder(source, options);
    ASSERT_TRUE(assembly.Ok()) << assembly.ErrorText();
    ASSERT_EQ(assembly.Deck.size(), 5u);
    EXPECT_EQ(assembly.Deck[3].substr(0, 5), text) << convention;
    EXPECT_EQ(assembly.Deck[3][11], 'N') << convention;  // -5
  }
}

// The tape mnemonics assemble the unit as the A-address's three characters %Un.
TEST(Autocoder, TapeMnemonicsNameTheUnitAsPercentUN) {
  struct TCase {
    std::string Op, Operand, Shown;
  };
  const std::vector<TCase> cases = {
      {"RT", "1,AREA", "M %U1 0999 R"}, {"RTW", "2,AREA", "L %U2 0999 R"},
      {"WT", "6,AREA", "M %U6 0999 W"}, {"WTW", "3,AREA-9", "L %U3 0990 W"},
      {"RWD", "4", "U %U4 R"},          {"RWU", "5", "U %U5 U"},
      {"BSP", "1", "U %U1 B"},          {"SKP", "2", "U %U2 E"},
      {"WTM", "3", "U %U3 M"},
  };
  for (const TCase& c : cases) {
    const TAssembly a =
        AssembleAutocoder(Card("", "ORG", "900") + Card("GO", c.Op, c.Operand) +
                          Card("", "ORG", "995") + Card("AREA", "DS", "5") + Card("", "END", "GO"));
    ASSERT_TRUE(a.Ok()) << c.Op << ": " << a.ErrorText();
    EXPECT_NE(a.Listing.find("00900  " + c.Shown + "\n"), std::string::npos) << c.Op << "\n"
                                                                             << a.Listing;
  }
  const TAssembly bad = AssembleAutocoder(Card("", "RT", "7,AREA") + Card("", "WT", "1") +
                                          Card("AREA", "DS", "5") + Card("", "END", "AREA"));
  ASSERT_EQ(bad.Errors.size(), 2u) << bad.ErrorText();
  EXPECT_EQ(bad.Errors[0].Message, "a tape unit is 1 to 6");
  EXPECT_EQ(bad.Errors[1].Message, "WT needs a tape unit and an area");
}

}  // namespace kestrel::test

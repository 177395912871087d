#include "charset/IBMChars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "core/KestDefs.h"
#include "support/ScratchDir.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

const std::string PierceA = " 1234567890#@:>{^/STUVWXYZ|,%~\\\"-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<}";
const std::string SimhOld = " 1234567890#@:>(^/STUVWXYZ',%=\\+-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<\"";
const std::string Basic(BasicCharSet);

std::string Card(const std::string& text) {
  return text + std::string(80 - text.size(), ' ');
}

// The message of the EKestrelError `action` throws; fails the test when it throws none.
template <typename TAction>
std::string ErrorOf(TAction action) {
  try {
    action();
  } catch (const EKestrelError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no error";
  return {};
}

class CharMapTest : public ::testing::Test {
 protected:
  std::string Load(const std::string& name, const std::string& content, bool upper = false) {
    std::string path = Dir.Write(name, content);
    Map.LoadCardFile(path, Cards, upper);
    return path;
  }
  std::string LoadError(const std::string& name, const std::string& content, bool upper = false) {
    return ErrorOf([&] { Load(name, content, upper); });
  }
  TScratchDir Dir;
  TCharMap Map;
  TCardList Cards;
};

// ---- Mapping string -------------------------------------------------------------------------

TEST(MappingString, BasicSetAndPrintCharacters) {
  for (int code = 0; code < 64; ++code) {
    bool missing = code == 0 || (code >= 13 && code <= 16) || (code >= 29 && code <= 31) ||
                   (code >= 45 && code <= 47) || code >= 61;
    EXPECT_EQ(BasicCharSet[code], missing ? ' ' : InternalCharSet[code]) << code;
  }
  TCharMap map;
  EXPECT_EQ(map.MappingString(), Basic);
  EXPECT_EQ(map.BcdToPrintChar(60), 'o');
  // The edit line installs its text as it stands: short, unchecked.
  map.SetMappingText(" 1A1");
  EXPECT_EQ(map.MappingString(), " 1A1");
  EXPECT_EQ(map.BcdToPrintChar(3), '1');
  EXPECT_EQ(map.BcdToPrintChar(4), ' ');     // past the end of a short string
  EXPECT_EQ(map.Mapping()->CodeOf('1'), 1);  // the first position wins
}

TEST(MappingString, SetPadsCutsAndInstallsBeforeTheDuplicateCheck) {
  TCharMap map;
  map.SetMappingString(" 12");  // several blanks pass
  EXPECT_EQ(map.MappingString(), " 12" + std::string(61, ' '));
  map.SetMappingString(PierceA + "XYZ");
  EXPECT_EQ(map.MappingString(), PierceA);
  std::string padded = " A1A" + std::string(60, ' ');
  EXPECT_EQ(ErrorOf([&] { map.SetMappingString(" A1A"); }),
            "Duplicate character: \"A\" ($41) in Mapping string:-\r" + padded);
  EXPECT_EQ(map.MappingString(), padded);
}

// The printer and the loader may read the mapping while a script replaces it: every reader sees
// one whole string, never a mixture.
TEST(MappingStringThread, ReplacementIsSeenWhole) {
  TCharMap map;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      map.SetMappingString(i % 2 == 0 ? SimhOld : PierceA);
    }
    done = true;
  });
  int mixed = 0;
  for (int reads = 0; !done || reads < 100; ++reads) {
    TMappingPtr mapping = map.Mapping();
    const std::string& text = mapping->Text();
    if (text != PierceA && text != SimhOld && text != Basic) ++mixed;
    if (mapping->PrintChar(15) != text[15]) ++mixed;
  }
  writer.join();
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(map.MappingString(), PierceA);
}

// ---- Loading --------------------------------------------------------------------------------

TEST_F(CharMapTest, LinesBecomeEightyColumnCardsWhateverTheirEnds) {
  for (const char* text : {"AB\r\n\r\nCD\r\n", "AB\n\nCD\n", "AB\r\rCD\r", "AB\r\n\nCD"}) {
    TCardList cards;
    Map.LoadCardFile(Dir.Write("E.CRD", text), cards, false);
    EXPECT_EQ(cards, (TCardList{Card("AB"), Card(""), Card("CD")})) << text;
  }
  Load("ONE.CRD", "1\n");
  Load("EMPTY.CRD", "");  // no cards, no error
  Load("TWO.CRD", "2");
  EXPECT_EQ(Cards, (TCardList{Card("1"), Card("2")}));
  EXPECT_FALSE(Map.Shown());
}

TEST_F(CharMapTest, TranslationGoesThroughTheMappingString) {
  Map.SetMappingString(PierceA);
  Load("P.CRD", ")[}|^");
  EXPECT_EQ(Cards[0], Card("o(gr^"));  // code 16, a blank on show, keeps a card character
  std::string plus = Basic;
  plus[47] = '+';
  Map.SetMappingString(plus);
  Load("PLUS.CRD", "1+2");
  EXPECT_EQ(Cards[1], Card("1+2"));
  // Lower case needs the upper-case option (or a mapping string holding it).
  EXPECT_NE(LoadError("LOWER.CRD", "ab\n").find("\"a\" ($61) at column 1"), std::string::npos);
  Load("LOWER.CRD", "ab\n", true);
  EXPECT_EQ(Cards[2], Card("AB"));
}

TEST_F(CharMapTest, LongLinesKeepTheirLengthUpTo255) {
  std::string line(120, 'A');
  line[100] = 'B';
  Load("LONG.CRD", line + "\n" + std::string(255, 'C') + "\n");
  EXPECT_EQ(Cards[0], line);
  EXPECT_EQ(Cards[1].size(), 255u);
  std::string path = Dir.Path("LONGER.CRD");
  EXPECT_EQ(LoadError("LONGER.CRD", "1\n2\n" + std::string(256, 'D') + "\n3\n"),
            "Card 3 is longer than 255 characters in file:-\r" + path);
  EXPECT_EQ(Cards.size(), 4u);  // the cards before it stay
}

TEST_F(CharMapTest, UnmappedCharacterStopsTheLoadAndShowsTheReport) {
  Map.SetMappingString(PierceA);
  std::string path = Dir.Path("BAD.CRD");
  EXPECT_EQ(LoadError("BAD.CRD", "GOOD\na)b(c\nNEVER\n", true),
            "Unmapped character: \"(\" ($28) at column 4 of card 2 in file:-\r" + path +
                "\rCard in error (original):-\r" + Card("A)B(C") + "\rPartially translated:-\r" +
                Card("AoB(C") + "\rMapping String:-\r" + PierceA);
  EXPECT_EQ(Cards, TCardList{Card("GOOD")});
  EXPECT_TRUE(Map.Shown());
  EXPECT_EQ(Map.Report().back(), "s=Space d=Delta  o=Lozenge  g=Group mark  r=Record mark ");
  Load("OK.CRD", "OK\n");  // a good load hides the window again
  EXPECT_FALSE(Map.Shown());
}

TEST_F(CharMapTest, BinaryFilesFailWithAReadableMessage) {
  std::string message = LoadError("BIN.CRD", std::string("AB\0\x01\xff", 5));
  // A control character shows as a dot, so nothing cuts the message short.
  EXPECT_EQ(message.find('\0'), std::string::npos);
  EXPECT_EQ(message.rfind("Unmapped character: \".\" ($00) at column 3 of card 1", 0), 0u);
  EXPECT_NE(message.find("\r" + Card("AB..\xff") + "\r"), std::string::npos);
  EXPECT_TRUE(Cards.empty());
  const Lines& report = Map.Report();
  EXPECT_NE(std::find(report.begin(), report.end(), " $00 .  1"), report.end());
}

TEST_F(CharMapTest, MissingOrUnreadableCardFile) {
  int changes = 0;
  Map.SetChangeListener([&] { ++changes; });
  std::string missing = Dir.Path("NONE.CRD");
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile(missing, Cards, false); }),
            "File does not exist:-\r" + missing);
  EXPECT_TRUE(Map.Report().empty());
  EXPECT_EQ(changes, 1);  // the window shows the emptied report
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile("", Cards, false); }), "File does not exist:-\r");
  std::filesystem::create_directory(Dir.Path("DIR.CRD"));
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile(Dir.Path("DIR.CRD"), Cards, false); }),
            "Cannot read file:-\r" + Dir.Path("DIR.CRD"));
}

// ---- Character-map control file -------------------------------------------------------------

class CmcTest : public CharMapTest {
 protected:
  void SetUp() override {
    Map.UseCmcFile = true;
    Map.SetCmcPath(Dir.Path("kestrel.CMC"));
  }
  void Cmc(const std::string& text) { Dir.Write("kestrel.CMC", text); }
  std::string MappingFor(const std::string& name) {
    Map.LoadCmcMapping(Dir.Path(name));
    return Map.MappingString();
  }
};

TEST_F(CmcTest, MissingControlFile) {
  EXPECT_EQ(LoadError("JOB.CRD", "1\n"),
            "Character Map Control file: " + Dir.Path("kestrel.CMC") + " does not exist");
  Map.UseCmcFile = false;  // without UseCmcFile, no control file is needed
  Load("JOB.CRD", "1\n");
  EXPECT_EQ(Cards.size(), 1u);
}

TEST_F(CmcTest, FileLinesChooseTheMappingAboveThem) {
  Cmc("!FIRST\r\n#" + PierceA + "TOO LONG\r\n!JOB1 ; Pierce A deck\r\n!  job2  ;\r\n#" + SimhOld +
      "\n!OLD\n!TRAIL \n#  12\n");
  EXPECT_EQ(MappingFor("FIRST.CRD"), Basic);  // named before any mapping line
  EXPECT_EQ(MappingFor("JOB1.CRD"), PierceA);
  EXPECT_EQ(MappingFor("JOB2.CDR"), PierceA);  // blanks around the name, any case
  EXPECT_EQ(MappingFor("sub/old.crd"), SimhOld);
  EXPECT_EQ(MappingFor("OLD.V2.CRD"), SimhOld);  // looked up as OLD
  // Without a semicolon the trailing blank belongs to the name: TRAIL is named nowhere and
  // gets the last mapping line, padded.
  EXPECT_EQ(MappingFor("TRAIL.CRD"), "  12" + std::string(60, ' '));
  Cmc("only text\n!SECOND\n");
  EXPECT_EQ(MappingFor("SECOND.CRD"), Basic);
}

TEST_F(CmcTest, DuplicateInTheControlFileNamesTheLine) {
  Cmc("text\n\n#" + PierceA + "\n#AA\n!JOB\n");
  EXPECT_EQ(LoadError("JOB.CRD", "1\n"),
            "Duplicate character: \"A\" ($41) in Mapping string:-\rAA" + std::string(62, ' ') +
                "\rin Character Map Control file, line 4");
  EXPECT_TRUE(Cards.empty());
  EXPECT_FALSE(Map.Shown());
  // The report stops after the ASCII table.
  EXPECT_EQ(Map.Report()[Map.Report().size() - 4],
            "ASCII character usage of loaded file (>99=*):-");
}

TEST_F(CmcTest, LoadUsesTheMappingTheFileChooses) {
  Cmc("#" + PierceA + "\n!DECK\n#" + Basic + "\n");
  Load("DECK.CRD", "L)68116\n");
  EXPECT_EQ(Cards, TCardList{Card("Lo68116")});
  EXPECT_EQ(Map.BcdToPrintChar(60), ')');  // it stays in force, for the printer
  EXPECT_NE(LoadError("OTHER.CRD", "L)68116\n").find("($29)"), std::string::npos);
}

// The control file that ships with the program.
TEST(ShippedCmcFile, NamesTheDemoDeckAndLeavesOthersBasic) {
  TCharMap map;
  map.SetCmcPath(std::string(KESTREL_SOURCE_DIR) + "/data/kestrel.CMC");
  map.LoadCmcMapping("demo/urjob/URJOB.CRD");
  EXPECT_EQ(map.MappingString(), PierceA);
  for (const char* other : {"ANY.CRD", "MYDECK.CRD", "OLDDECK.CRD"}) {  // templates stay off
    map.LoadCmcMapping(other);
    EXPECT_EQ(map.MappingString(), Basic) << other;
  }
}

// ---- Report ---------------------------------------------------------------------------------

// A usage row: the digit, then 16 cells of three, right-aligned.
std::string Row(char digit, std::initializer_list<std::pair<int, const char*>> cells) {
  std::string row = digit + std::string(48, ' ');
  for (auto [column, text] : cells) {
    std::string cell(text);
    row.replace(1 + 3 * column + 3 - cell.size(), cell.size(), cell);
  }
  return row;
}

const std::string Header = "   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F  ";
const std::string Rule(51, '-');
const Lines BasicTable = {
    Header,
    "0  s  1  2  3  4  5  6  7  8  9  0  #  @           ",
    "1     /  S  T  U  V  W  X  Y  Z  r  ,  %           ",
    "2  -  J  K  L  M  N  O  P  Q  R  !  $  *           ",
    "3  &  A  B  C  D  E  F  G  H  I  ?  .  o           ",
};

TEST_F(CharMapTest, ReportOfAOneLineFile) {
  std::string path = Load("HELLO.CRD", "HELLO\n");
  Lines expected = {
      "Loaded file: " + path,
      "",
      "ASCII character usage of loaded file (>99=*):-",
      Header,
      Row('4', {{5, "1"}, {8, "1"}, {12, "2"}, {15, "1"}}),
      "",
      "BCD code usage of loaded file (>99=*):-",
      Header,
      Row('0', {}),
      Row('1', {}),
      Row('2', {{3, "2"}, {6, "1"}}),
      Row('3', {{5, "1"}, {8, "1"}}),
      Rule,
      "Non-Standard characters (ASCII) used in loaded file:-",
      "none",
      "",
      "Unmapped characters (ASCII) used in loaded file:-",
      "none",
      "",
      "Mapping used for loaded file (translated to Internal set)",
  };
  expected.insert(expected.end(), BasicTable.begin(), BasicTable.end());
  Lines internal = {
      Rule,
      "Internal character set:-",
      Header,
      "0  s  1  2  3  4  5  6  7  8  9  0  #  @  :  >     ",
      "1     /  S  T  U  V  W  X  Y  Z  r  ,  %  =  \\     ",
      "2  -  J  K  L  M  N  O  P  Q  R  !  $  *  )  ;  +  ",
      "3  &  A  B  C  D  E  F  G  H  I  ?  .  o  (  <  g  ",
      "",
      "Basic minimum character set:-",
  };
  expected.insert(expected.end(), internal.begin(), internal.end());
  expected.insert(expected.end(), BasicTable.begin(), BasicTable.end());
  Lines legend = {
      "",
      "Address encoding characters (BCD):-",
      "00=0 ($0A)  01=r ($1A)  10=! ($2A)  11=? ($3A) ",
      "",
      "s=Space d=Delta  o=Lozenge  g=Group mark  r=Record mark ",
  };
  expected.insert(expected.end(), legend.begin(), legend.end());
  EXPECT_EQ(Map.Report(), expected);
}

TEST_F(CharMapTest, ReportCellsListsAndLargeCounts) {
  // 150 plus signs, a lower-case a, 70000 Bs and one each of the first row of the basic set,
  // with the colon and the blank.
  LoadError("MANY.CRD",
            std::string(150, '+') + "a\n" + std::string(70000, 'B') + "\n1234567890#@: \n");
  const Lines& report = Map.Report();
  EXPECT_EQ(report[4], Row('2', {{0, "1"}, {3, "1"}, {11, "*"}}));
  EXPECT_EQ(Map.Usage('B'), 70000u);  // no wrap past 65535
  // The BCD row 0 counts the blank under code 0 and nothing under the codes without a character.
  auto bcd = std::find(report.begin(), report.end(), "BCD code usage of loaded file (>99=*):-");
  ASSERT_NE(bcd, report.end());
  std::string row0 = "0";
  for (int code = 0; code <= 12; ++code)
    row0 += "  1";
  EXPECT_EQ(bcd[2], row0 + std::string(9, ' '));
  auto lists = std::find(report.begin(), report.end(),
                         "Non-Standard characters (ASCII) used in loaded file:-");
  ASSERT_NE(lists, report.end());
  EXPECT_EQ(Lines(lists + 1, lists + 9), (Lines{" $2B +  150", " $3A :  1", " $61 a  1", "",
                                                "Unmapped characters (ASCII) used in loaded file:-",
                                                " $2B +  150", " $3A :  1", " $61 a  1"}));
}

TEST(CharMapReport, WindowCreationWritesTheMappingTables) {
  TCharMap map;
  ASSERT_EQ(map.Report().size(), 26u);
  EXPECT_EQ(map.Report()[0], "");
  EXPECT_EQ(Lines(map.Report().begin() + 2, map.Report().begin() + 7), BasicTable);
  map.SetMappingText(" 12");
  map.ClearReport();
  map.WriteCharTable(map.MappingString());
  EXPECT_EQ(map.Report()[1], "0  s  1  2" + std::string(41, ' '));  // blanks past the end
}

}  // namespace
}  // namespace kestrel::test

#include "charset/IBMChars.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/KestDefs.h"
#include "support/ScratchDir.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

const std::string PierceA = " 1234567890#@:>{^/STUVWXYZ|,%~\\\"-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<}";
const std::string SimhOld = " 1234567890#@:>(^/STUVWXYZ',%=\\+-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<\"";

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
  TScratchDir Dir;
  TCharMap Map;
  TCardList Cards;
};

// ---- Mapping string -------------------------------------------------------------------------

TEST(MappingString, BasicSetLacksTenCharactersOfTheInternalSet) {
  ASSERT_EQ(BasicCharSet.size(), 64u);
  for (int code = 0; code < 64; ++code) {
    bool blank = code == 0 || (code >= 13 && code <= 16) || (code >= 29 && code <= 31) ||
                 (code >= 45 && code <= 47) || code >= 61;
    EXPECT_EQ(BasicCharSet[code] == ' ', blank) << code;
    if (!blank) {
      EXPECT_EQ(BasicCharSet[code], InternalCharSet[code]) << code;
    }
  }
  TCharMap map;
  EXPECT_EQ(map.MappingString(), std::string(BasicCharSet));
  EXPECT_EQ(map.BcdToPrintChar(1), '1');
  EXPECT_EQ(map.BcdToPrintChar(60), 'o');
  EXPECT_EQ(map.BcdToPrintChar(63), ' ');
}

TEST(MappingString, SetPadsAndChecksForDuplicates) {
  TCharMap map;
  map.SetMappingString(" 12");  // several blanks pass
  EXPECT_EQ(map.MappingString(), " 12" + std::string(61, ' '));
  EXPECT_EQ(map.Mapping()->CodeOf('2'), 2);
  EXPECT_EQ(map.Mapping()->CodeOf(' '), 0);

  std::string twoA = " A1A";
  std::string message = ErrorOf([&] { map.SetMappingString(twoA); });
  std::string padded = twoA + std::string(60, ' ');
  EXPECT_EQ(message, "Duplicate character: \"A\" ($41) in Mapping string:-\r" + padded);
  EXPECT_EQ(map.MappingString(), padded);  // installed all the same

  map.SetMappingString(PierceA + "XYZ");  // cut to 64
  EXPECT_EQ(map.MappingString(), PierceA);
  EXPECT_EQ(map.BcdToPrintChar(60), ')');
}

TEST(MappingString, EditLineTextIsInstalledAsItIs) {
  TCharMap map;
  map.SetMappingText(" 1A1");  // no padding, no check
  EXPECT_EQ(map.MappingString(), " 1A1");
  EXPECT_EQ(map.BcdToPrintChar(2), 'A');
  EXPECT_EQ(map.BcdToPrintChar(3), '1');
  EXPECT_EQ(map.BcdToPrintChar(4), ' ');  // past the end of a short string
  EXPECT_EQ(map.BcdToPrintChar(63), ' ');
  EXPECT_EQ(map.Mapping()->CodeOf('1'), 1);  // the first position wins
  EXPECT_FALSE(map.Mapping()->Contains('B'));
  map.SetMappingText(std::string(70, 'x'));
  EXPECT_EQ(map.MappingString().size(), 64u);
}

// The printer and the loader may read the mapping while a script replaces it: every reader sees
// one whole string, never a mixture.
TEST(MappingStringThread, ReplacementIsSeenWhole) {
  TCharMap map;
  const std::string first = PierceA;
  const std::string second = SimhOld;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i)
      map.SetMappingString(i % 2 == 0 ? second : first);
    done = true;
  });
  int mixed = 0;
  int reads = 0;
  while (!done || reads < 100) {
    TMappingPtr mapping = map.Mapping();
    const std::string& text = mapping->Text();
    if (text != first && text != second && text != std::string(BasicCharSet)) ++mixed;
    if (mapping->PrintChar(15) != text[15]) ++mixed;
    ++reads;
  }
  writer.join();
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(map.MappingString(), first);
}

// ---- Loading --------------------------------------------------------------------------------

TEST_F(CharMapTest, ShortLinesBecomeEightyColumnCards) {
  Load("A.CRD", "HELLO 1\n\n0123456789\n");
  ASSERT_EQ(Cards.size(), 3u);
  EXPECT_EQ(Cards[0], Card("HELLO 1"));
  EXPECT_EQ(Cards[1], Card(""));
  EXPECT_EQ(Cards[2], Card("0123456789"));
  EXPECT_FALSE(Map.Shown());
}

TEST_F(CharMapTest, EveryLineEndGivesTheSameCards) {
  for (const char* text : {"AB\r\nCD\r\n", "AB\nCD\n", "AB\rCD\r", "AB\r\nCD"}) {
    TCardList cards;
    Map.LoadCardFile(Dir.Write("E.CRD", text), cards, false);
    EXPECT_EQ(cards, (TCardList{Card("AB"), Card("CD")})) << text;
  }
}

TEST_F(CharMapTest, EmptyFileAppendsNothing) {
  Cards.push_back("EARLIER");
  Load("EMPTY.CRD", "");
  EXPECT_EQ(Cards, TCardList{"EARLIER"});
  EXPECT_EQ(Map.Report()[0], "Loaded file: " + Dir.Path("EMPTY.CRD"));
}

TEST_F(CharMapTest, TwoDecksFollowEachOtherInFileOrder) {
  Load("ONE.CRD", "1\n2\n");
  Load("TWO.CRD", "3\n");
  EXPECT_EQ(Cards, (TCardList{Card("1"), Card("2"), Card("3")}));
}

TEST_F(CharMapTest, TranslationGoesThroughTheMappingString) {
  Map.SetMappingString(PierceA);
  Load("P.CRD", ")[}|^");
  // Lozenge, code 61, group mark, record mark, code 16 (shown blank inside).
  EXPECT_EQ(Cards[0], Card("o(gr "));
  // With + at position 48 (code 47), a + in the file becomes the internal +.
  std::string mapping = std::string(BasicCharSet);
  mapping[47] = '+';
  Map.SetMappingString(mapping);
  Load("PLUS.CRD", "1+2");
  EXPECT_EQ(Cards[1], Card("1+2"));
}

TEST_F(CharMapTest, LongLinesKeepTheirLengthUpTo255) {
  std::string line(120, 'A');
  line[100] = 'B';
  Load("LONG.CRD", line + "\n" + std::string(255, 'C') + "\n");
  ASSERT_EQ(Cards.size(), 2u);
  EXPECT_EQ(Cards[0], line);
  EXPECT_EQ(Cards[1].size(), 255u);

  std::string path = Dir.Write("LONGER.CRD", "1\n2\n" + std::string(256, 'D') + "\n3\n");
  std::string message = ErrorOf([&] { Map.LoadCardFile(path, Cards, false); });
  EXPECT_EQ(message, "Card 3 is longer than 255 characters in file:-\r" + path);
  ASSERT_EQ(Cards.size(), 4u);  // the cards before it stay
  EXPECT_EQ(Cards[3], Card("2"));
}

TEST_F(CharMapTest, UnmappedCharacterStopsTheLoadAndShowsTheReport) {
  std::string path = Dir.Write("BAD.CRD", "GOOD\nab+c\nNEVER\n");
  std::string message = ErrorOf([&] { Map.LoadCardFile(path, Cards, true); });
  EXPECT_EQ(message, "Unmapped character: \"+\" ($2B) at column 3 of card 2 in file:-\r" + path +
                         "\rCard in error (original):-\r" + Card("AB+C") +
                         "\rPartially translated:-\r" + Card("AB+C") + "\rMapping String:-\r" +
                         std::string(BasicCharSet));
  EXPECT_EQ(Cards, TCardList{Card("GOOD")});
  EXPECT_TRUE(Map.Shown());
  // The whole report was written before the translation.
  EXPECT_EQ(Map.Report().back(), "s=Space d=Delta  o=Lozenge  g=Group mark  r=Record mark ");

  // A good load hides the window again.
  Load("OK.CRD", "OK\n");
  EXPECT_FALSE(Map.Shown());
}

TEST_F(CharMapTest, PartialTranslationShowsTheColumnsBeforeTheFailingOne) {
  Map.SetMappingString(PierceA);
  std::string path = Dir.Write("PART.CRD", "A)B(C");
  std::string message = ErrorOf([&] { Map.LoadCardFile(path, Cards, false); });
  EXPECT_NE(message.find("\rCard in error (original):-\r" + Card("A)B(C") +
                         "\rPartially translated:-\r" + Card("AoB(C") + "\r"),
            std::string::npos)
      << message;
  EXPECT_NE(message.find("\"(\" ($28) at column 4 of card 1"), std::string::npos);
}

TEST_F(CharMapTest, LowerCaseNeedsTheUpperCaseOption) {
  std::string path = Dir.Write("LOWER.CRD", "abc\n");
  EXPECT_NE(ErrorOf([&] { Map.LoadCardFile(path, Cards, false); }).find("($61) at column 1"),
            std::string::npos);
  Map.LoadCardFile(path, Cards, true);
  EXPECT_EQ(Cards, TCardList{Card("ABC")});
  // Or a mapping string holding them.
  std::string mapping = std::string(BasicCharSet);
  mapping[49] = 'a';
  mapping[50] = 'b';
  mapping[51] = 'c';
  Map.SetMappingString(mapping);
  Map.LoadCardFile(path, Cards, false);
  EXPECT_EQ(Cards.back(), Card("ABC"));
}

TEST_F(CharMapTest, BinaryFilesFailWithAReadableMessage) {
  std::string path = Dir.Write("BIN.CRD", std::string("AB\0\x01\xff", 5));
  std::string message = ErrorOf([&] { Map.LoadCardFile(path, Cards, false); });
  // A control character is shown as a dot, so nothing cuts the message short.
  EXPECT_EQ(message.find('\0'), std::string::npos);
  EXPECT_EQ(message.rfind("Unmapped character: \".\" ($00) at column 3 of card 1", 0), 0u)
      << message;
  EXPECT_NE(message.find("\r" + Card("AB..\xff") + "\r"), std::string::npos);
  EXPECT_TRUE(Cards.empty());
  EXPECT_NE(std::find(Map.Report().begin(), Map.Report().end(), " $00 .  1"), Map.Report().end());
}

TEST_F(CharMapTest, MissingOrUnreadableCardFile) {
  std::string missing = Dir.Path("NONE.CRD");
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile(missing, Cards, false); }),
            "File does not exist:-\r" + missing);
  EXPECT_TRUE(Map.Report().empty());
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile("", Cards, false); }), "File does not exist:-\r");
  std::filesystem::create_directory(Dir.Path("DIR.CRD"));
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile(Dir.Path("DIR.CRD"), Cards, false); }),
            "Cannot read file:-\r" + Dir.Path("DIR.CRD"));
  EXPECT_TRUE(Cards.empty());
}

// ---- Character-map control file -------------------------------------------------------------

class CmcTest : public CharMapTest {
 protected:
  void SetUp() override {
    Map.UseCmcFile = true;
    Map.SetCmcPath(Dir.Path("kestrel.CMC"));
  }
  void Cmc(const std::string& text) { Dir.Write("kestrel.CMC", text); }
  // The mapping the control file gives a card file name.
  std::string MappingFor(const std::string& name) {
    Map.LoadCmcMapping(Dir.Path(name));
    return Map.MappingString();
  }
};

TEST_F(CmcTest, MissingControlFile) {
  std::string path = Dir.Write("JOB.CRD", "1\n");
  EXPECT_EQ(ErrorOf([&] { Map.LoadCardFile(path, Cards, false); }),
            "Character Map Control file: " + Dir.Path("kestrel.CMC") + " does not exist");
  EXPECT_TRUE(Cards.empty());
  // Without UseCmcFile, no control file is needed.
  Map.UseCmcFile = false;
  Map.LoadCardFile(path, Cards, false);
  EXPECT_EQ(Cards.size(), 1u);
}

TEST_F(CmcTest, FileLinesChooseTheMappingAboveThem) {
  Cmc("free text\n#" + PierceA + "\n!JOB1 ; Pierce A deck\n!  job2  ;\n#" + SimhOld +
      "\n!OLD\n!TRAIL \n#" + std::string(BasicCharSet) + "\n");
  EXPECT_EQ(MappingFor("JOB1.CRD"), PierceA);
  EXPECT_EQ(MappingFor("JOB2.CDR"), PierceA);  // blanks around the name, any case
  EXPECT_EQ(MappingFor("sub/old.crd"), SimhOld);
  EXPECT_EQ(MappingFor("OLD.V2.CRD"), SimhOld);  // looked up as OLD
  // Without a semicolon the trailing blank belongs to the name, so TRAIL is named nowhere.
  EXPECT_EQ(MappingFor("TRAIL.CRD"), std::string(BasicCharSet));
  EXPECT_EQ(MappingFor("OTHER.CRD"), std::string(BasicCharSet));
}

TEST_F(CmcTest, NamedBeforeAnyMappingLineOrUnnamedInAFileWithout) {
  Cmc("!FIRST\n#" + PierceA + "\n");
  EXPECT_EQ(MappingFor("FIRST.CRD"), std::string(BasicCharSet));
  EXPECT_EQ(MappingFor("SECOND.CRD"), PierceA);  // named nowhere: the last mapping line
  Cmc("only text\n!SECOND\n");
  Map.SetMappingString(SimhOld);
  EXPECT_EQ(MappingFor("SECOND.CRD"), std::string(BasicCharSet));
}

TEST_F(CmcTest, MappingLinesArePaddedAndCut) {
  Cmc("#  12\r\n!SHORT\r\n#" + PierceA + "TOO LONG\r\n");
  EXPECT_EQ(MappingFor("SHORT.CRD"), "  12" + std::string(60, ' '));
  EXPECT_EQ(MappingFor("LONG.CRD"), PierceA);
}

TEST_F(CmcTest, DuplicateInTheControlFileNamesTheLine) {
  Cmc("text\n\n#" + PierceA + "\n#AA\n!JOB\n");
  std::string path = Dir.Write("JOB.CRD", "1\n");
  std::string message = ErrorOf([&] { Map.LoadCardFile(path, Cards, false); });
  EXPECT_EQ(message, "Duplicate character: \"A\" ($41) in Mapping string:-\rAA" +
                         std::string(62, ' ') + "\rin Character Map Control file, line 4");
  EXPECT_TRUE(Cards.empty());
  EXPECT_FALSE(Map.Shown());
  // The report stops after the ASCII table.
  EXPECT_EQ(Map.Report().back(), "");
  EXPECT_EQ(Map.Report()[Map.Report().size() - 4],
            "ASCII character usage of loaded file (>99=*):-");
}

TEST_F(CmcTest, LoadUsesTheMappingTheFileChooses) {
  Cmc("#" + PierceA + "\n!DECK\n#" + std::string(BasicCharSet) + "\n");
  Load("DECK.CRD", "L)68116\n");
  EXPECT_EQ(Cards, TCardList{Card("Lo68116")});
  // The mapping stays in force after the load, for the printer.
  EXPECT_EQ(Map.BcdToPrintChar(60), ')');
  std::string path = Dir.Write("OTHER.CRD", "L)68116\n");
  EXPECT_NE(ErrorOf([&] { Map.LoadCardFile(path, Cards, false); }).find("($29)"),
            std::string::npos);
}

// The control file that ships with the program.
TEST(ShippedCmcFile, NamesTheDemoDeckAndLeavesOthersBasic) {
  TCharMap map;
  map.SetCmcPath(std::string(KESTREL_SOURCE_DIR) + "/data/kestrel.CMC");
  map.LoadCmcMapping("demo/urjob/URJOB.CRD");
  EXPECT_EQ(map.MappingString(), PierceA);
  map.LoadCmcMapping("ANY.CRD");
  EXPECT_EQ(map.MappingString(), std::string(BasicCharSet));
  map.LoadCmcMapping("MYDECK.CRD");  // a template, not yet enabled
  EXPECT_EQ(map.MappingString(), std::string(BasicCharSet));
}

// ---- Report ---------------------------------------------------------------------------------

std::string Row(char digit, std::initializer_list<std::pair<int, const char*>> cells) {
  std::string row(1, digit);
  row += std::string(48, ' ');
  for (auto [column, text] : cells) {
    std::string cell(text);
    row.replace(1 + 3 * column + 3 - cell.size(), cell.size(), cell);
  }
  return row;
}

const std::string Header = "   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F  ";
const std::string Rule(51, '-');

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
      Header,
      "0  s  1  2  3  4  5  6  7  8  9  0  #  @           ",
      "1     /  S  T  U  V  W  X  Y  Z  r  ,  %           ",
      "2  -  J  K  L  M  N  O  P  Q  R  !  $  *           ",
      "3  &  A  B  C  D  E  F  G  H  I  ?  .  o           ",
      Rule,
      "Internal character set:-",
      Header,
      "0  s  1  2  3  4  5  6  7  8  9  0  #  @  :  >     ",
      "1     /  S  T  U  V  W  X  Y  Z  r  ,  %  =  \\     ",
      "2  -  J  K  L  M  N  O  P  Q  R  !  $  *  )  ;  +  ",
      "3  &  A  B  C  D  E  F  G  H  I  ?  .  o  (  <  g  ",
      "",
      "Basic minimum character set:-",
      Header,
      "0  s  1  2  3  4  5  6  7  8  9  0  #  @           ",
      "1     /  S  T  U  V  W  X  Y  Z  r  ,  %           ",
      "2  -  J  K  L  M  N  O  P  Q  R  !  $  *           ",
      "3  &  A  B  C  D  E  F  G  H  I  ?  .  o           ",
      "",
      "Address encoding characters (BCD):-",
      "00=0 ($0A)  01=r ($1A)  10=! ($2A)  11=? ($3A) ",
      "",
      "s=Space d=Delta  o=Lozenge  g=Group mark  r=Record mark ",
  };
  EXPECT_EQ(Map.Report(), expected);
}

TEST_F(CharMapTest, BcdUsageCountsBlanksOnlyUnderCodeZero) {
  std::string path = Dir.Write("ROW0.CRD", "1234567890#@:> \n");
  EXPECT_THROW(Map.LoadCardFile(path, Cards, false), EKestrelError);  // : is unmapped
  const Lines& report = Map.Report();
  auto bcd = std::find(report.begin(), report.end(), "BCD code usage of loaded file (>99=*):-");
  ASSERT_NE(bcd, report.end());
  EXPECT_EQ(bcd[2], Row('0', {{0, "1"},
                              {1, "1"},
                              {2, "1"},
                              {3, "1"},
                              {4, "1"},
                              {5, "1"},
                              {6, "1"},
                              {7, "1"},
                              {8, "1"},
                              {9, "1"},
                              {10, "1"},
                              {11, "1"},
                              {12, "1"}}));
  auto unmapped =
      std::find(report.begin(), report.end(), "Unmapped characters (ASCII) used in loaded file:-");
  ASSERT_NE(unmapped, report.end());
  EXPECT_EQ(unmapped[1], " $3A :  1");
  EXPECT_EQ(unmapped[2], " $3E >  1");
  EXPECT_EQ(unmapped[3], "");
}

TEST_F(CharMapTest, ReportCellsListsAndLargeCounts) {
  std::string text = std::string(150, '+') + "a\n" + std::string(70000, 'B');
  std::string path = Dir.Write("MANY.CRD", text);
  EXPECT_THROW(Map.LoadCardFile(path, Cards, false), EKestrelError);
  const Lines& report = Map.Report();
  EXPECT_EQ(report[4], Row('2', {{11, "*"}}));
  EXPECT_EQ(report[5], Row('4', {{2, "*"}}));
  EXPECT_EQ(report[6], Row('6', {{1, "1"}}));
  EXPECT_EQ(Map.Usage('B'), 70000u);  // no wrap past 65535
  auto nonStandard = std::find(report.begin(), report.end(),
                               "Non-Standard characters (ASCII) used in loaded file:-");
  ASSERT_NE(nonStandard, report.end());
  EXPECT_EQ(nonStandard[1], " $2B +  150");
  EXPECT_EQ(nonStandard[2], " $61 a  1");
  EXPECT_EQ(nonStandard[3], "");
  EXPECT_EQ(nonStandard[4], "Unmapped characters (ASCII) used in loaded file:-");
  EXPECT_EQ(nonStandard[5], " $2B +  150");
  EXPECT_EQ(nonStandard[6], " $61 a  1");
}

TEST(CharMapReport, WindowCreationWritesTheMappingTables) {
  TCharMap map;
  const Lines& report = map.Report();
  ASSERT_EQ(report.size(), 26u);
  EXPECT_EQ(report[0], "");
  EXPECT_EQ(report[1], "Mapping used for loaded file (translated to Internal set)");
  EXPECT_EQ(report[3], "0  s  1  2  3  4  5  6  7  8  9  0  #  @           ");
}

TEST(CharMapReport, ShortMappingShowsBlanksPastItsEnd) {
  TCharMap map;
  map.SetMappingText(" 12");
  map.ClearReport();
  map.WriteCharTable(map.MappingString());
  EXPECT_EQ(map.Report()[1], "0  s  1  2" + std::string(41, ' '));
  EXPECT_EQ(map.Report()[4], "3" + std::string(50, ' '));
}

TEST(CharMapReport, ListenerHearsLoadsAndShowChanges) {
  TScratchDir dir;
  TCharMap map;
  int calls = 0;
  map.SetChangeListener([&] { ++calls; });
  TCardList cards;
  map.LoadCardFile(dir.Write("X.CRD", "X\n"), cards, false);
  EXPECT_GE(calls, 1);
  int before = calls;
  EXPECT_THROW(map.LoadCardFile(dir.Path("NONE.CRD"), cards, false), EKestrelError);
  EXPECT_GT(calls, before);  // the emptied report is shown
  map.SetShown(true);
  EXPECT_TRUE(map.Shown());
}

}  // namespace
}  // namespace kestrel::test

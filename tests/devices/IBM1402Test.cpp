#include "devices/IBM1402.h"

#include <gtest/gtest.h>

#include <fstream>

#include "charset/IBMDefs.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

using Lines = std::vector<std::string>;

std::string Card(const std::string& text) {
  return text + std::string(80 - text.size(), ' ');
}

class ReaderTest : public ::testing::Test {
 protected:
  ReaderTest() {
    T.Messenger.SetErrorReporter([this](const std::string& e) { Errors.push_back(e); });
  }
  // A request through the messenger, as the processor and the scripts send it.
  void Send(uint16_t operation, uint16_t selector = 0, const std::string* text = nullptr,
            uint8_t flag = 0) {
    DeviceCommand command{operation, selector, flag, text};
    TMessage message;
    message.Id = EmulatorMessage::DeviceRequest;
    message.Ref = &command;
    T.Messenger.Send(TReceiver::ReaderPunch, message);
  }
  // Cards into the hopper, through a card file.
  std::string Hopper(const std::string& text) {
    std::string path = Dir.Write("H" + std::to_string(++decks_) + ".CRD", text);
    Reader.LoadDeck(path, false);
    return path;
  }
  TTestMachine T;
  TReaderPunch& Reader = T.M.ReaderPunch;
  Lines Errors;
  TScratchDir Dir;

 private:
  int decks_ = 0;
};

TEST(Piles, StackerCodesNameThePiles) {
  const TPile expected[] = {PLReadN, PLRead1, PL82, PLPunch4, PLPunchN};
  for (uint16_t code = 0; code <= 6; ++code) {
    TPile pile = PLHopper;
    EXPECT_EQ(PileOfStackerCode(code, pile), code >= 1 && code <= 5) << code;
    if (code >= 1 && code <= 5) {
      EXPECT_EQ(pile, expected[code - 1]) << code;
    }
  }
  EXPECT_STREQ(PileCaption(PL82), "8/2");
}

TEST_F(ReaderTest, ReadTakesTheFirstEightyColumnsOfTheFrontCard) {
  Hopper(Card("FIRST") + "EXTRA\nSECOND\n");
  T.Core.SetWordMark(5, true);
  Send(RdrRead);
  EXPECT_EQ(T.Text(80, 80), Card("FIRST"));
  EXPECT_TRUE(T.WordMarkAt(5));  // word marks in 1-80 stay
  EXPECT_EQ(Reader.Pile(PLHopper).size(), 1u);
  EXPECT_EQ(Reader.Pile(PLReadN), TCardList{Card("FIRST")});  // the 80-column copy
  EXPECT_TRUE(Reader.LastFeedWasRead());
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ReaderTest, DummyCardFeedsAnEmptyHopper) {
  std::string text = "dummy card";
  Send(RdrDummyCard, 0, &text);
  Send(RdrRead);
  Send(RdrRead);
  EXPECT_EQ(T.Text(80, 80), Card("DUMMY CARD"));
  EXPECT_TRUE(Reader.Pile(PLReadN).empty());
  Send(RdrDummyCard);  // no text: 80 blanks, still a dummy card
  EXPECT_EQ(Reader.DummyCard(), std::string(80, ' '));
  std::string longText(100, 'X');
  Send(RdrDummyCard, 0, &longText);
  EXPECT_EQ(Reader.DummyCard(), std::string(80, 'X'));
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ReaderTest, EmptyReaderStopsTheMachineAndIgnoresRequestsUntilReset) {
  T.R.State = CpuState::Running;
  T.Field(80, "KEEP", false);
  T.Field(180, std::string(80, 'P'), false);
  Send(RdrPunch);
  Send(RdrRead);
  EXPECT_EQ(Errors, Lines{"Card reader empty"});
  EXPECT_EQ(T.State(), CpuState::MachineCheck);
  EXPECT_TRUE(Reader.OutOfCards());
  EXPECT_EQ(T.Text(80, 4), "KEEP");

  // Feeding is now ignored, without an error, until a reset; the piles can still be saved
  // (the punched deck of a job that read to the end of its cards) and loaded.
  uint64_t refreshes = Reader.RefreshCount();
  std::string name = Dir.Write("A.CRD", "1\n");
  Send(RdrLoadDeck, 0, &name);
  Send(RdrRead);
  Send(RdrLoadCard);
  Send(RdrPunch);
  EXPECT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Reader.Pile(PLHopper).size(), 1u);
  EXPECT_EQ(Reader.Pile(PLPunchN).size(), 1u);
  EXPECT_EQ(Reader.RefreshCount(), refreshes + 1);
  EXPECT_EQ(T.Text(80, 4), "KEEP");
  std::string saved = Dir.Path("PUNCHED.CRD");
  Send(RdrSaveStacker, 5, &saved);
  std::ifstream in(saved, std::ios::binary);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, std::string(80, 'P') + "\r");
  Reader.Open(name);  // the Deck button loads too, and the flag stays
  EXPECT_EQ(Reader.Pile(PLHopper).size(), 2u);
  EXPECT_TRUE(Reader.OutOfCards());

  Send(RdrReset);
  EXPECT_FALSE(Reader.OutOfCards());
  EXPECT_TRUE(Reader.Pile(PLHopper).empty());  // a reset empties the hopper too
}

TEST_F(ReaderTest, PunchTakesCoreOneHundredOneToOneEighty) {
  T.Field(180, std::string(80, ' '), false);
  T.Field(105, "PUNCH", false);
  T.Field(180, "E", false);
  Send(RdrPunch);
  EXPECT_EQ(Reader.Pile(PLPunchN), TCardList{"PUNCH" + std::string(74, ' ') + "E"});
  EXPECT_FALSE(Reader.LastFeedWasRead());
  // A check while reading core adds no card.
  T.Core.UninitializedCheck = true;
  T.Core.ClearCore();
  Send(RdrPunch);
  EXPECT_EQ(Errors, Lines{"Read from Uninitialized Core at: 101"});
  EXPECT_EQ(Reader.Pile(PLPunchN).size(), 1u);
}

TEST_F(ReaderTest, SelectStackerMovesTheCardLastFed) {
  Hopper("R1\nR2\nR3\n");
  T.Field(180, std::string(80, 'P'), false);
  Send(RdrRead);
  Send(RdrPunch);
  Send(RdrSelectStacker, 1);  // after a punch: the punched card, to Read 1
  EXPECT_TRUE(Reader.Pile(PLPunchN).empty());
  EXPECT_EQ(Reader.Pile(PLRead1), TCardList{std::string(80, 'P')});
  Send(RdrRead);
  Send(RdrRead);
  Send(RdrSelectStacker, 2);  // the last card read, to 8/2
  Send(RdrSelectStacker, 8);  // and the one before it, to 8/2 as well
  EXPECT_EQ(Reader.Pile(PLReadN), TCardList{Card("R1")});
  EXPECT_EQ(Reader.Pile(PL82), (TCardList{Card("R3"), Card("R2")}));
  Send(RdrPunch);
  Send(RdrSelectStacker, 4);
  EXPECT_EQ(Reader.Pile(PLPunch4).size(), 1u);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ReaderTest, Read1CardsGoBackBehindTheHopperAsTheyAre) {
  Hopper("R1\nR2\n");
  Send(RdrRead);
  Send(RdrSelectStacker, 1);
  Send(RdrPocketToHopper, StackerRead1);
  EXPECT_TRUE(Reader.Pile(PLRead1).empty());
  EXPECT_EQ(Reader.Pile(PLHopper), (TCardList{Card("R2"), Card("R1")}));
  Send(RdrRead);
  Send(RdrRead);
  EXPECT_EQ(T.Text(80, 80), Card("R1"));
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ReaderTest, SelectStackerFromAnEmptyPileMovesNothing) {
  Send(RdrSelectStacker, 1);  // nothing fed yet: the punch pile, empty
  std::string dummy = "D";
  Send(RdrDummyCard, 0, &dummy);
  Send(RdrRead);  // a dummy card is not stacked
  Send(RdrSelectStacker, 4);
  Hopper("A\n");
  Send(RdrRead);
  Send(RdrSelectStacker, 3);  // not a pocket code
  EXPECT_EQ(Errors, (Lines{"Select Stacker: no card in the Punch N stacker to move",
                           "Select Stacker: no card in the Read N stacker to move",
                           "Invalid Select Stacker code for RDR/PUN: 3"}));
  EXPECT_EQ(Reader.Pile(PLReadN).size(), 1u);
  for (TPile pile : {PLRead1, PLPunch4, PL82})
    EXPECT_TRUE(Reader.Pile(pile).empty());
}

TEST_F(ReaderTest, ResetAndClearStackerKeepTheDummyCardAndTheLastFeed) {
  Hopper("A\nB\nC\n");
  Reader.SetDummyCard("D");
  Send(RdrRead);
  Send(RdrRead);
  Send(RdrSelectStacker, 1);
  Reader.ShowPile(PLRead1);
  Send(RdrClearStacker, 0);  // no such stacker: nothing
  Send(RdrClearStacker, 6);
  EXPECT_EQ(Reader.ShownCount(), 1u);
  Send(RdrClearStacker, 2);  // Read 1
  EXPECT_TRUE(Reader.Pile(PLRead1).empty());
  EXPECT_EQ(Reader.Pile(PLReadN).size(), 1u);
  Send(RdrReset);
  for (int p = 0; p < PileCount; ++p)
    EXPECT_TRUE(Reader.Pile(static_cast<TPile>(p)).empty());
  EXPECT_EQ(Reader.ShownPile(), PLHopper);
  EXPECT_EQ(Reader.DummyCard(), Card("D"));
  EXPECT_TRUE(Reader.LastFeedWasRead());
}

TEST_F(ReaderTest, SaveStackerWritesLinesWithCrLf) {
  Hopper("ONE\nTWO\n");
  Send(RdrRead);
  Send(RdrRead);
  std::string path = Dir.Path("READN.TXT");
  Send(RdrSaveStacker, 1, &path);
  EXPECT_EQ(TScratchDir::Read(path), Card("ONE") + "\r\n" + Card("TWO") + "\r\n");
  Send(RdrSaveStacker, 5, &path);  // an empty pile replaces the file with an empty one
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(TScratchDir::Read(path), "");
  std::string none = Dir.Path("NONE.TXT");
  Send(RdrSaveStacker, 6, &none);
  EXPECT_FALSE(std::filesystem::exists(none));
  std::string bad = Dir.Path("no/such/dir/F.TXT");
  Send(RdrSaveStacker, 1, &bad);
  EXPECT_EQ(Errors, Lines{"Cannot write file:-\r" + bad});
}

TEST_F(ReaderTest, LoadDeckRequestAndItsUpperCaseFlag) {
  std::string path = Dir.Write("LOW.CRD", "abc\n");
  Send(RdrLoadDeck, 0, &path);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0].rfind("Unmapped character: \"a\" ($61)", 0), 0u);
  Send(RdrLoadDeck, 0, &path, 1);
  EXPECT_EQ(Reader.Pile(PLHopper), TCardList{Card("ABC")});
}

TEST_F(ReaderTest, LoadCardPreparesCoreAndReadsTheFirstCard) {
  T.Field(80, std::string(80, 'X'));  // a word mark at 1
  T.Core.SetWordMark(40, true);
  Hopper("CARD\n");
  T.R.IAR = 345;  // left by an earlier run
  Send(RdrLoadCard);
  EXPECT_EQ(T.Text(80, 80), Card("CARD"));
  EXPECT_EQ(T.R.IAR, 0);  // Start begins at 1
  EXPECT_TRUE(T.WordMarkAt(1));
  for (uint16_t a = 2; a <= 80; ++a)
    EXPECT_FALSE(T.WordMarkAt(a)) << a;
  EXPECT_EQ(T.State(), CpuState::CardLoaded);

  Send(RdrLoadCard);  // nothing to read: a machine check, core 1-80 blanked
  EXPECT_EQ(Errors, Lines{"Card reader empty"});
  EXPECT_EQ(T.State(), CpuState::MachineCheck);
  EXPECT_EQ(T.Text(80, 80), std::string(80, ' '));

  Reader.SetDummyCard("BOOT");  // the Load button works while out of cards
  Reader.LoadButton();
  EXPECT_EQ(T.State(), CpuState::CardLoaded);
  EXPECT_EQ(T.Text(4, 4), "BOOT");
  EXPECT_TRUE(Reader.OutOfCards());
}

TEST_F(ReaderTest, InvalidOperationIsAnIOCheck) {
  uint64_t refreshes = Reader.RefreshCount();
  Send(99);
  EXPECT_EQ(Errors, Lines{"Invalid I/O Op for RDR/PUN: 99"});
  EXPECT_EQ(Reader.RefreshCount(), refreshes);
}

TEST_F(ReaderTest, RefreshesAfterRequestsUnlessTurboAndAfterEveryButton) {
  int heard = 0;
  Reader.SetRefreshListener([&] { ++heard; });
  Hopper("A\nB\n");
  Send(RdrRead);
  EXPECT_EQ(heard, 1);
  T.R.TurboMode = true;
  Send(RdrRead);
  EXPECT_EQ(heard, 1);
  Reader.ShowPile(PLReadN);
  EXPECT_EQ(heard, 2);
  std::string bad = Dir.Write("BAD.CRD", "GOOD\n+\n");
  EXPECT_THROW(Reader.Open(bad), EKestrelError);  // refreshed also when the load fails
  EXPECT_EQ(heard, 3);
  EXPECT_EQ(Reader.Pile(PLHopper), TCardList{Card("GOOD")});
}

TEST_F(ReaderTest, ButtonStatesAndTheCardFile) {
  EXPECT_FALSE(Reader.DeckEnabled());
  EXPECT_FALSE(Reader.LoadEnabled());
  EXPECT_EQ(Reader.CardDirectory(), ProgramDir());
  std::string path = Dir.Write("DECK.CRD", "1\n2\n");
  Reader.Open(path);
  EXPECT_EQ(Reader.CardDirectory(), Dir.Dir());
  EXPECT_TRUE(Reader.DeckEnabled());
  Reader.Deck();  // appended again
  EXPECT_EQ(Reader.ShownCount(), 4u);
  Send(RdrRead);
  Reader.ShowPile(PLReadN);
  EXPECT_TRUE(Reader.LoadEnabled());  // any pile shown with a card in it
  EXPECT_EQ(Reader.ShownCount(), 1u);
  Send(RdrReset);
  EXPECT_FALSE(Reader.LoadEnabled());
  EXPECT_EQ(Reader.CardFileName(), path);  // kept by a reset
}

TEST_F(ReaderTest, CommandLineCardFile) {
  std::string path = Dir.Write("JOB.CRD", "1\n");
  EXPECT_FALSE(Reader.CommandLineDeck({}));
  EXPECT_FALSE(Reader.CommandLineDeck({"START.OCL"}));
  EXPECT_FALSE(Reader.CommandLineDeck({Dir.Write("job.crd", "1\n")}));  // upper case only
  EXPECT_TRUE(Reader.CommandLineDeck({path, "more"}));
  EXPECT_EQ(Reader.CardFileName(), path);
  EXPECT_EQ(Reader.Pile(PLHopper).size(), 1u);
  EXPECT_THROW(Reader.CommandLineDeck({Dir.Path("NONE.CDR")}), EKestrelError);
}

}  // namespace
}  // namespace kestrel::test

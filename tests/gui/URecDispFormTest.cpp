#include "gui/devices/URecDispForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "devices/TapeImages.h"
#include "gui/GuiTestSupport.h"
#include "gui/QtFixedFont.h"
#include "gui/devices/PrinterForm.h"
#include "gui/devices/ReaderForm.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

std::string Card(const std::string& text) {
  return text + std::string(80 - text.size(), ' ');
}

class UnitRecordDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    display.resize(display.width(), 200);
    display.show();
  }
  void Paint() { display.grab(); }
  TUnitRecordDisplay display;
};

TEST_F(UnitRecordDisplay, ReaderPileIsDrawnBottomUpWithCardOneLowest) {
  std::deque<std::string> pile{Card("CARD 1"), Card("CARD 2"), Card("CARD 3")};
  display.SetURMode(URMRDR);
  display.SetRecords(&pile);
  display.ScrollTo(1, 1);
  display.RefreshView();
  Paint();
  const int h = display.height();
  const int lh = display.LineHeight();
  ASSERT_EQ(display.Drawn().size(), 3u);
  EXPECT_EQ(display.Drawn()[0], std::make_pair(1, h - lh));
  EXPECT_EQ(display.Drawn()[1], std::make_pair(2, h - 2 * lh));
  EXPECT_EQ(display.Drawn()[2], std::make_pair(3, h - 3 * lh));
  // The bar runs the other way: the first card is at its bottom.
  EXPECT_EQ(display.ScrollBar().maximum(), 3);
  EXPECT_EQ(display.ScrollBar().value(), 3);
  display.ScrollToLine(2);  // dragging the bar up shows from the second card
  EXPECT_EQ(display.TopRecord(), 2);
  Paint();
  EXPECT_EQ(display.Drawn().front(), std::make_pair(2, h - lh));
  // A card added to the pile leaves the view where it was, and the bar still points there.
  pile.push_back(Card("CARD 4"));
  display.RefreshView();
  EXPECT_EQ(display.ScrollBar().maximum(), 4);
  EXPECT_EQ(display.ScrollBar().value(), 3);
  EXPECT_EQ(display.TopRecord(), 2);
}

TEST_F(UnitRecordDisplay, ALineWhoseTopWouldBeAtZeroIsNotDrawnBottomUp) {
  std::deque<std::string> pile(100, Card("X"));
  display.SetURMode(URMRDR);
  display.SetRecords(&pile);
  display.ScrollTo(1, 1);
  Paint();
  for (const auto& [record, y] : display.Drawn())
    EXPECT_GT(y, 0) << record;
  EXPECT_EQ(static_cast<int>(display.Drawn().size()),
            (display.height() - 1) / display.LineHeight());
}

TEST_F(UnitRecordDisplay, PrinterModeDrawsTopDownFromTheScrolledLine) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 50; ++i)
    lines.push_back("LINE " + std::to_string(i));
  display.SetURMode(URMPRN);
  EXPECT_EQ(display.LineWidth(), 132);
  EXPECT_EQ(display.width(), display.CharWidth() * 132 + 2 + TUnitRecordDisplay::ScrollBarWidth);
  display.SetRecords(&lines);
  display.ScrollTo(1, 45);
  display.RefreshView();
  Paint();
  ASSERT_FALSE(display.Drawn().empty());
  EXPECT_EQ(display.Drawn()[0], std::make_pair(45, 0));
  EXPECT_EQ(display.Drawn().back().first, 50);
  EXPECT_EQ(display.ScrollBar().value(), 45);
  // Past the end is clamped to the last record, below 1 to the first.
  display.ScrollTo(1, 500);
  EXPECT_EQ(display.TopRecord(), 50);
  display.ScrollTo(1, -3);
  EXPECT_EQ(display.TopRecord(), 1);
}

TEST_F(UnitRecordDisplay, EmptyOrMissingListPaintsOnlyTheBackground) {
  display.SetURMode(URMPUN);
  Paint();
  EXPECT_TRUE(display.Drawn().empty());
  EXPECT_EQ(display.ScrollBar().minimum(), 1);
  EXPECT_EQ(display.ScrollBar().maximum(), display.VisibleLines());
  std::vector<std::string> none;
  display.SetRecords(&none);
  display.RefreshView();
  Paint();
  EXPECT_TRUE(display.Drawn().empty());
  EXPECT_EQ(display.ScrollBar().maximum(), 1);
  QImage image = display.Buffer().toImage();
  EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::white));
}

// A full line of a fixed character fills every cell of the display, up to the last column and
// not beyond it, at every size: the columns of a card line up with the cells whatever the font's
// own advance is.
TEST_F(UnitRecordDisplay, AFullLineFillsItsColumnsExactlyAtEverySize) {
  for (TURMode mode : {URMRDR, URMPRN}) {
    display.SetURMode(mode);
    const int columns = display.LineWidth();
    std::deque<std::string> pile{std::string(static_cast<size_t>(columns), 'H')};
    std::vector<std::string> lines{pile.front()};
    if (mode == URMRDR) {
      display.SetRecords(&pile);
    } else {
      display.SetRecords(&lines);
    }
    for (int points : {5, 6, 7, 8, 9, 11}) {
      display.SetDisplayFont(FixedPitchFont(points));
      display.ScrollTo(1, 1);
      display.RefreshView();
      Paint();
      ASSERT_EQ(display.Drawn().size(), 1u);
      const QImage image = display.Buffer().toImage();
      const int cell = display.CharWidth();
      std::vector<bool> inked(static_cast<size_t>(image.width()), false);
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
          if (qGray(image.pixel(x, y)) < 128) inked[static_cast<size_t>(x)] = true;
      int emptyCells = 0;
      for (int column = 0; column < columns; ++column) {
        bool any = false;
        for (int x = column * cell; x < (column + 1) * cell; ++x)
          any = any || inked[static_cast<size_t>(x)];
        if (!any) ++emptyCells;
      }
      int right = image.width() - 1;
      while (right > 0 && !inked[static_cast<size_t>(right)])
        --right;
      EXPECT_EQ(emptyCells, 0) << points << " pt, " << columns << " columns";
      EXPECT_LT(right, columns * cell) << points << " pt, " << columns << " columns";
    }
  }
}

TEST_F(UnitRecordDisplay, LargerFontWidensTheDisplayAndTellsTheParent) {
  int resized = 0;
  QObject::connect(&display, &TUnitRecordDisplay::DisplayResized, [&] { ++resized; });
  display.SetURMode(URMRDR);
  display.SetDisplayFont(UnitRecordFont(false));
  int small = display.width();
  ServeFor(20);
  resized = 0;
  display.SetDisplayFont(UnitRecordFont(true));
  EXPECT_GT(display.width(), small);
  EXPECT_EQ(resized, 0);  // posted, not sent
  ServeFor(20);
  EXPECT_EQ(resized, 1);
}

// ---- The reader/punch and printer windows ----------------------------------------------------

class ReaderWindow : public ::testing::Test {
 protected:
  ReaderWindow() { form.show(); }
  std::string WriteDeck(const std::string& name, const std::vector<std::string>& lines) {
    std::string path = files.Path(name);
    std::ofstream out(path);
    for (const std::string& line : lines)
      out << line << "\n";
    return path;
  }
  TTempDir files;
  TTestMachine t;
  TReaderForm form{t.M.ReaderPunch};
};

TEST_F(ReaderWindow, ControlsCarryTheirTagsAndHints) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM Emulation - 1402 Card Reader/Punch"));
  EXPECT_EQ(form.Hopper().objectName(), QStringLiteral("Hopper"));
  EXPECT_EQ(form.Hopper().URMode(), URMRDR);
  const std::pair<TPile, const char*> expected[] = {{PLHopper, "RBRdr"},    {PLReadN, "RBStkrNR"},
                                                    {PLRead1, "RBStkrR1"},  {PL82, "RBStkr82"},
                                                    {PLPunch4, "RBStkrP4"}, {PLPunchN, "RBStkrNP"}};
  for (const auto& [pile, name] : expected) {
    EXPECT_EQ(form.RB[pile]->objectName(), QString::fromLatin1(name));
    EXPECT_EQ(form.RB[pile]->property("tag").toInt(), static_cast<int>(pile));
  }
  EXPECT_EQ(form.RB[PLRead1]->text(), QStringLiteral("Read 1"));
  EXPECT_EQ(form.RB[PL82]->toolTip(),
            QStringLiteral("Select alternate combined reader/punch output hopper"));
  EXPECT_TRUE(form.RB[PLHopper]->isChecked());
  EXPECT_FALSE(form.PBDeck->isEnabled());
  EXPECT_FALSE(form.PBLoad->isEnabled());
  EXPECT_EQ(form.PBOpen->text(), QStringLiteral("&Open"));
}

TEST_F(ReaderWindow, OpenedDeckIsCountedAndShownWithItsFirstCardLowest) {
  form.OpenFile(QString::fromStdString(WriteDeck("JOB.CRD", {"FIRST", "SECOND", "THIRD"})));
  EXPECT_EQ(form.LACardCount->text(), QStringLiteral("3"));
  EXPECT_TRUE(form.PBDeck->isEnabled());
  EXPECT_TRUE(form.PBLoad->isEnabled());
  form.Hopper().grab();
  ASSERT_EQ(form.Hopper().Drawn().size(), 3u);
  EXPECT_EQ(form.Hopper().Drawn()[0].first, 1);
  EXPECT_GT(form.Hopper().Drawn()[0].second, form.Hopper().Drawn()[2].second);

  // Load reads the first card; it moves to Read N.
  int panelRefreshes = 0;
  form.SetPanelRefresh([&] { ++panelRefreshes; });
  form.PBLoadClick();
  EXPECT_EQ(panelRefreshes, 1);
  EXPECT_EQ(t.State(), CpuState::CardLoaded);
  EXPECT_EQ(form.LACardCount->text(), QStringLiteral("2"));
  form.RB[PLReadN]->click();
  EXPECT_EQ(t.M.ReaderPunch.ShownPile(), PLReadN);
  EXPECT_EQ(form.LACardCount->text(), QStringLiteral("1"));
  EXPECT_TRUE(form.PBLoad->isEnabled());  // any pile that holds a card
  form.RB[PLPunchN]->click();
  EXPECT_FALSE(form.PBLoad->isEnabled());

  // A reset shows the hopper again.
  DeviceCommand reset;
  reset.Operation = RdrReset;
  t.M.ReaderPunch.Request(reset);
  EXPECT_TRUE(form.RB[PLHopper]->isChecked());
  EXPECT_EQ(form.LACardCount->text(), QStringLiteral("0"));
}

// In Turbo the reads leave the window as it was; the processor's stop brings it up to date, as
// the program wires the console's stop listener to every device window.
TEST_F(ReaderWindow, TurboLeavesTheCountStaleUntilTheProcessorStops) {
  form.OpenFile(QString::fromStdString(WriteDeck("JOB.CD", {"1", "2", "3", "4"})));
  t.R.TurboMode = true;
  DeviceCommand read;
  read.Operation = RdrRead;
  t.M.ReaderPunch.Request(read);
  t.M.ReaderPunch.Request(read);
  EXPECT_EQ(form.LACardCount->text(), QStringLiteral("4"));
  t.M.Console.SetStopListener([this] { form.Refresh(); });
  TMessage stopped;
  stopped.Id = EmulatorMessage::CpuStopped;
  t.M.Console.HandleMessage(stopped);
  EXPECT_EQ(form.LACardCount->text(), QStringLiteral("2"));
  t.M.Console.SetStopListener(nullptr);
}

// The card file dialog offers the decks found today, which end in .cd.
TEST_F(ReaderWindow, TheCardFileDialogListsCdDecks) {
  QStringList filters;
  QTimer poll;  // until the dialog is up
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      filters = dialog->nameFilters();
      dialog->reject();
    }
  });
  poll.start(10);
  form.PBOpen->click();
  poll.stop();
  ASSERT_FALSE(filters.isEmpty());
  EXPECT_EQ(filters.front(), QStringLiteral("Card files (*.CRD *.CDR *.CD)"));
}

TEST_F(ReaderWindow, FailingDeckIsShownInTheErrorBoxAndTheWindowRefreshes) {
  TBoxCloser closer;
  form.OpenFile(QString::fromStdString(files.Path("MISSING.CRD")));
  EXPECT_EQ(closer.Count(), 1);
  EXPECT_TRUE(closer.Text().startsWith(QStringLiteral("File does not exist:-")));
  EXPECT_TRUE(form.PBDeck->isEnabled());  // the name is kept for another Deck
}

TEST(PrinterWindow, LinesAreCountedAndTurboLeavesItToTheTimer) {
  TTestMachine t;
  TPrinterForm form(t.M.Printer);
  form.show();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM Emulation - 1403 Printer"));
  EXPECT_EQ(form.Printer().URMode(), URMPRN);
  EXPECT_EQ(form.Timer1->interval(), 250);
  EXPECT_TRUE(form.Timer1->isActive());
  for (uint16_t a = 201; a <= 332; ++a)
    t.Core.StoreChar(a, 17);  // "/"
  DeviceCommand print;
  print.Operation = PrnPrint;
  t.M.Printer.Request(print);
  EXPECT_EQ(form.LALineCount->text(), QStringLiteral("1"));

  t.R.TurboMode = true;
  t.M.Printer.Request(print);
  EXPECT_EQ(form.LALineCount->text(), QStringLiteral("1"));
  ServeFor(400);
  EXPECT_EQ(form.LALineCount->text(), QStringLiteral("2"));
}

// The window loads a carriage tape (a refused file keeps the old one and says why), names it,
// and draws a rule above the first line of each page but the first, not showing a form feed.
TEST(PrinterWindow, LoadsACarriageTapeAndRulesEachPage) {
  TTestMachine t;
  TScratchDir dir;
  TPrinterForm form(t.M.Printer);
  form.resize(form.width(), 400);
  form.show();
  EXPECT_EQ(form.BTTape->text(), QStringLiteral("Tape..."));
  EXPECT_EQ(form.LATape->text(), QString());
  const std::string bad = dir.Path("bad.CT");
  std::ofstream(bad) << "1\n0\n";
  EXPECT_EQ(form.LoadTape(bad), "Carriage tape " + bad + ", line 2: channel 0 is outside 1-12");
  EXPECT_FALSE(t.M.Printer.HasCarriageTape());
  const std::string good = dir.Path("three.CT");
  std::ofstream(good) << "1\n\n\n";
  t.M.Printer.SetFormFeeds(true);
  EXPECT_EQ(form.LoadTape(good), "");
  EXPECT_EQ(form.LATape->text(), QStringLiteral("three.CT"));
  for (uint16_t a = 201; a <= 332; ++a)
    t.Core.StoreChar(a, 0);
  DeviceCommand print;
  print.Operation = PrnPrint;
  for (int i = 0; i < 5; ++i)
    t.M.Printer.Request(print);
  ASSERT_EQ(t.M.Printer.LineCount(), 5u);
  EXPECT_EQ(t.M.Printer.PrintList()[3][0], TPrinter::FormFeed);
  form.Printer().ScrollTo(1, 1);
  form.Printer().grab();
  const QImage image = form.Printer().Buffer().toImage();
  const int h = form.Printer().LineHeight();
  int ruled = 0;
  for (int line = 0; line < 5; ++line) {
    for (int x = 0; x < form.Printer().CharWidth() * 40; ++x) {
      if (image.pixelColor(x, line * h) != QColor(Qt::white)) ruled |= 1 << line;
    }
  }
  EXPECT_EQ(ruled, 1 << 3);  // line 4 only: the top of the second page
}

TEST(PrinterWindow, FollowsTheNewestLineUnlessTheOperatorScrolledAway) {
  TTestMachine t;
  TPrinterForm form(t.M.Printer);
  form.show();
  TUnitRecordDisplay& view = form.Printer();
  for (uint16_t a = 201; a <= 332; ++a)
    t.Core.StoreChar(a, 1);
  DeviceCommand print;
  print.Operation = PrnPrint;
  auto newestShown = [&] {
    return view.TopRecord() + view.VisibleLines() - 1 == static_cast<int>(t.M.Printer.LineCount());
  };
  const int visible = view.VisibleLines();
  for (int i = 0; i < visible + 10; ++i)
    t.M.Printer.Request(print);
  EXPECT_EQ(view.TopRecord(), 11);  // the newest line is the lowest one shown
  EXPECT_TRUE(newestShown());
  // In Turbo only the timer brings the view along.
  t.R.TurboMode = true;
  for (int i = 0; i < 30; ++i)
    t.M.Printer.Request(print);
  EXPECT_FALSE(newestShown());
  ServeFor(400);
  EXPECT_TRUE(newestShown());

  // Scrolled up by the operator, the view stays, also when the font size changes.
  view.ScrollToLine(5);
  EXPECT_FALSE(form.Following());
  form.CBSizeClick(true);
  EXPECT_EQ(view.TopRecord(), 5);
  for (int i = 0; i < 30; ++i)
    t.M.Printer.Request(print);
  ServeFor(400);
  EXPECT_EQ(view.TopRecord(), 5);
  form.CBSizeClick(false);
  EXPECT_EQ(view.TopRecord(), 5);
  // Back at the end, it follows again.
  view.ScrollToLine(view.ScrollBar().maximum());
  EXPECT_TRUE(form.Following());
  t.R.TurboMode = false;
  // The chain box sets the printer's chain, and shows a chain set elsewhere.
  form.CBChain->click();
  EXPECT_EQ(t.M.Printer.Chain(), 'H');
  t.M.Printer.SetChain('A');
  form.Refresh();
  EXPECT_FALSE(form.CBChain->isChecked());
  t.M.Printer.Request(print);
  EXPECT_TRUE(newestShown());
  // Its first line is still there to scroll to.
  view.ScrollToLine(1);
  view.grab();
  ASSERT_FALSE(view.Drawn().empty());
  EXPECT_EQ(view.Drawn()[0], std::make_pair(1, 0));
}

TEST(PrinterWindow, DefaultSizeShowsFortyLinesOnALargeScreen) {
  TTestMachine t;
  TPrinterForm form(t.M.Printer);
  for (int screen : {1200 - 40, 768 - 40}) {
    form.resize(form.width(), form.DefaultHeight(screen));
    form.show();
    ServeFor(20);
    const int lines = form.Printer().VisibleLines();
    if (screen > 1000) {
      EXPECT_GE(lines, 40);
    } else {
      EXPECT_GE(lines, 10);
    }
    EXPECT_LE(form.height(), screen * 2 / 3 + 1) << screen;
    EXPECT_EQ(form.Printer().LineWidth(), 132);
  }
}

}  // namespace
}  // namespace kestrel::test

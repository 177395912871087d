#include "machine/CoreDisplay.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

struct TCell {
  int Row, Column;
  uint16_t Word;
};

class CoreDisplay : public ::testing::Test {
 protected:
  // Draws as the window would and returns the cells drawn.
  std::vector<TCell> Draw(bool full) {
    std::vector<TCell> cells;
    display.DrawCells(full, [&](int row, int column, uint16_t word) {
      cells.push_back({row, column, word});
    });
    return cells;
  }
  TTestMachine t;
  TCoreDisplay display{t.Core};
};

TEST_F(CoreDisplay, RulerNumbersEndInTheirColumn) {
  std::string ruler = TCoreDisplay::Ruler();
  ASSERT_EQ(ruler.size(), 100u);
  EXPECT_EQ(ruler.substr(0, 12), "0....^...10.");
  EXPECT_EQ(ruler.substr(88, 12), ".90....^....");
  EXPECT_EQ(ruler[19], '2');
  EXPECT_EQ(ruler[20], '0');
  EXPECT_EQ(ruler[95], '^');
  EXPECT_EQ(TCoreDisplay::RowLabel(1300), "01300");
}

TEST_F(CoreDisplay, PopupReadsTheWordWithoutChecks) {
  t.Core.StoreCharWM(345, true, 49);
  EXPECT_EQ(display.PopupText(345), " 345=\"A\"+WM ($31) ");
  t.Core.StoreCharWM(7, false, 10);
  EXPECT_EQ(display.PopupText(7), " 7=\"0\" ($0A) ");
  // Never written, beyond the core size, and with the uninitialised-read check on: no check.
  t.Core.UninitializedCheck = true;
  t.Core.SetCoreSize(1400);
  EXPECT_EQ(display.PopupText(1500), " 1500=\" \" ($00) ");
  EXPECT_EQ(display.PopupText(16000), "");
}

TEST_F(CoreDisplay, RowsStopAtTheCoreSize) {
  t.Core.SetCoreSize(1400);
  display.SetVisibleRows(30);
  EXPECT_EQ(display.DrawnRows(), 14);  // 00000 to 01300
  std::vector<TCell> cells = Draw(true);
  EXPECT_EQ(cells.size(), 1400u);
  EXPECT_EQ(display.AddressAt(13, 99), 1399);
  EXPECT_EQ(display.AddressAt(14, 0), -1);
  EXPECT_EQ(display.AddressAt(0, 100), -1);
  EXPECT_EQ(display.ScrollMaximum(), 5);  // 14 - 30 is below the floor of 5
  t.Core.SetCoreSize(16000);
  display.SetVisibleRows(20);
  EXPECT_EQ(display.ScrollMaximum(), 140);
  display.SetScrollPosition(140);
  EXPECT_EQ(display.Base(), 14000u);
  EXPECT_EQ(display.DrawnRows(), 20);
  EXPECT_EQ(display.AddressAt(19, 99), 15999);
}

TEST_F(CoreDisplay, OnlyChangedPositionsAreDrawnAgain) {
  display.SetVisibleRows(80);
  EXPECT_EQ(Draw(false).size(), 8000u);  // after ClearCore every position is changed
  display.SetVisibleRows(10);
  EXPECT_TRUE(Draw(false).empty());
  t.Core.StoreChar(5, 0);  // the same value still counts as a change
  t.Core.SetWordMark(250, true);
  std::vector<TCell> cells = Draw(false);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0].Row, 0);
  EXPECT_EQ(cells[0].Column, 5);
  EXPECT_EQ(cells[1].Row, 2);
  EXPECT_EQ(cells[1].Column, 50);
  EXPECT_TRUE(cells[1].Word & CoreChar::WordMark);
  EXPECT_FALSE(t.Core.Word(250) & CoreChar::Changed);
  // A change outside the visible rows is kept for when it is scrolled into view.
  t.Core.StoreChar(1500, 3);
  EXPECT_TRUE(Draw(false).empty());
  EXPECT_TRUE(t.Core.Word(1500) & CoreChar::Changed);
  display.SetScrollPosition(10);
  cells = Draw(false);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(cells[0].Row, 5);
}

TEST_F(CoreDisplay, AStoreWhileDrawingKeepsItsChangedBit) {
  display.SetVisibleRows(1);
  Draw(true);
  t.Core.StoreChar(42, 1);
  // Another thread stores into the position between the read and the clearing of the bit.
  display.DrawCells(false, [&](int, int column, uint16_t) {
    if (column == 42) t.Core.StoreChar(42, 2);
  });
  uint16_t word = t.Core.Word(42);
  EXPECT_EQ(word & CoreChar::CodeMask, 2);
  EXPECT_TRUE(word & CoreChar::Changed);
  std::vector<TCell> cells = Draw(false);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(cells[0].Word & CoreChar::CodeMask, 2);
  EXPECT_TRUE(Draw(false).empty());
}

// The processor thread runs a program that keeps storing while the display draws and clears
// changed bits on this thread.  Once the processor has stopped, one more redraw must bring every
// cell up to date: no store may lose its changed bit to a clearing made at the same moment.
TEST(CoreDisplayThread, TheProcessorStoresWhileTheDisplayClearsChangedBits) {
  TTestMachine t;
  TCoreDisplay display{t.Core};
  display.SetVisibleRows(11);  // 0 to 1099
  constexpr uint16_t Shown = CoreChar::CodeMask | CoreChar::WordMark;
  std::vector<uint16_t> shown(1100, 0xFFFF);
  auto draw = [&](bool full) {
    return display.DrawCells(full, [&](int row, int column, uint16_t word) {
      shown[static_cast<size_t>(row * TCoreDisplay::Columns + column)] = word & Shown;
    });
  };
  // Adds 1 to the counter at 606-610 and copies it to 1001-1005, for ever.
  t.Field(600, "1");
  t.Field(610, "00000");
  t.Instructions(500, {"A" + Addr(600) + Addr(610), "M" + Addr(610) + Addr(1005), "B" + Addr(500)});
  draw(true);

  t.R.IAR = 500;
  t.R.State = CpuState::Running;
  t.M.Cpu.StartThread();
  t.M.Cpu.Wake();
  // Redraws while the processor runs; the counter changes all the time, so most rounds draw.
  for (int busyRounds = 0; busyRounds < 300 && t.R.State == CpuState::Running;) {
    if (draw(false) > 0) ++busyRounds;
  }
  ASSERT_EQ(t.R.State, CpuState::Running) << t.StopMessage();
  t.R.State = CpuState::OperatorHalt;
  t.M.Cpu.EndThread();
  t.Messenger.DrainPosts();

  EXPECT_NE(t.Text(610, 5), "00000");
  draw(false);
  for (uint16_t address = 0; address < shown.size(); ++address) {
    ASSERT_EQ(shown[address], t.Core.Word(address) & Shown) << "position " << address;
  }
  EXPECT_EQ(draw(false), 0);
}

}  // namespace
}  // namespace kestrel::test

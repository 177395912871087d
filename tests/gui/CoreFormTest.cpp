#include "gui/panel/CoreForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class CoreForm : public ::testing::Test {
 protected:
  void SetUp() override {
    form.show();
    form.TIRefreshTimer();  // picks up the core size
    Paint();                // the first, full paint
  }
  void Paint() { view().grab(); }
  TCoreView& view() { return form.View(); }
  QPoint CellCentre(int row, int column) {
    return QPoint(TCoreView::LeftMargin + column * view().CellWidth() + view().CellWidth() / 2,
                  TCoreView::TopMargin + row * view().CellHeight() + view().CellHeight() / 2);
  }
  QColor CellBackground(int row, int column) {
    QPoint centre = CellCentre(row, column);
    // A pixel near the cell's corner, clear of the character's strokes.
    return view().Buffer().toImage().pixelColor(centre.x() - view().CellWidth() / 2,
                                                centre.y() - view().CellHeight() / 2);
  }
  void Press(QPoint at, QEvent::Type type = QEvent::MouseButtonPress) {
    QMouseEvent event(type, at, view().mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&view(), &event);
  }

  TTestMachine t;
  TCoreForm form{t.Core};
};

TEST_F(CoreForm, WindowFacts) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM 1401 Emulator - Core Storage"));
  EXPECT_GE(form.width(), 775);
  EXPECT_LE(form.width(), 900);
  EXPECT_EQ(form.ScrollBar().objectName(), QStringLiteral("SBBase"));
  EXPECT_EQ(form.ScrollBar().pageStep(), 10);
  int rows = form.Display().VisibleRows();
  EXPECT_EQ(rows, (view().height() - 20) / view().CellHeight());
  EXPECT_EQ(form.ScrollBar().maximum(), std::max(80 - rows, 5));
  EXPECT_EQ(view().LastFullPaintCells(), rows * 100);
}

TEST_F(CoreForm, OnlyChangedCellsAreRedrawnAtATick) {
  EXPECT_EQ(form.TIRefreshTimer(), 0);
  t.Core.StoreChar(3, 49);
  t.Core.StoreChar(3, 49);
  t.Core.StoreChar(104, 2);
  t.Core.StoreChar(7999, 2);  // below the visible rows: kept for later
  EXPECT_EQ(form.TIRefreshTimer(), 2);
  EXPECT_EQ(form.TIRefreshTimer(), 0);
  // After ClearCore every position is changed: the next tick redraws the whole visible area.
  t.Core.ClearCore();
  EXPECT_EQ(form.TIRefreshTimer(), form.Display().DrawnRows() * 100);
  // Hidden, it draws nothing and the changes wait.
  form.hide();
  t.Core.StoreChar(5, 1);
  EXPECT_EQ(form.TIRefreshTimer(), 0);
  EXPECT_TRUE(t.Core.Word(5) & CoreChar::Changed);
}

TEST_F(CoreForm, WordMarksAreLightBlue) {
  t.Core.SetWordMark(210, true);
  form.TIRefreshTimer();
  EXPECT_EQ(CellBackground(2, 10), QColor(157, 157, 255));
  EXPECT_EQ(CellBackground(2, 11), QColor(Qt::white));
  t.Core.SetWordMark(210, false);
  form.TIRefreshTimer();
  EXPECT_EQ(CellBackground(2, 10), QColor(Qt::white));
}

TEST_F(CoreForm, PressShowsThePositionUntilRelease) {
  t.Core.StoreCharWM(345, true, 49);
  Press(CellCentre(3, 45));
  EXPECT_EQ(view().Popup(), QStringLiteral(" 345=\"A\"+WM ($31) "));
  // One row above the pressed row, at the pointer's x.
  EXPECT_EQ(view().PopupPosition().y(), 2 * view().CellHeight() + TCoreView::TopMargin);
  EXPECT_EQ(view().PopupPosition().x(), CellCentre(3, 45).x());
  Press(CellCentre(3, 45), QEvent::MouseButtonRelease);
  EXPECT_TRUE(view().Popup().isEmpty());
  // Near the right edge the text ends at the pointer.
  Press(CellCentre(0, 99));
  EXPECT_LT(view().PopupPosition().x(), CellCentre(0, 99).x());
  Press(CellCentre(0, 99), QEvent::MouseButtonRelease);
  // On the ruler or right of column 99: nothing.
  Press(QPoint(50, 5));
  EXPECT_TRUE(view().Popup().isEmpty());
  Press(QPoint(TCoreView::LeftMargin + 100 * view().CellWidth() + 2, 20));
  EXPECT_TRUE(view().Popup().isEmpty());
}

TEST_F(CoreForm, SizeAndScrollingFollowTheCore) {
  t.Core.SetCoreSize(1400);  // as the configuration or a script would
  form.TIRefreshTimer();
  EXPECT_EQ(form.ScrollBar().maximum(), 5);
  Paint();
  EXPECT_EQ(view().LastFullPaintCells(), std::min(form.Display().VisibleRows(), 14) * 100);
  form.SetCoreSize(16000);
  EXPECT_EQ(form.ScrollBar().maximum(), 160 - form.Display().VisibleRows());
  form.ScrollBar().setValue(40);
  EXPECT_EQ(form.Display().Base(), 4000u);
  // The wheel over the cells scrolls as over the bar: down a notch, then back up.
  auto wheel = [&](int notches) {
    QPoint at = CellCentre(2, 50);
    QWheelEvent event(at, view().mapToGlobal(at), QPoint(), QPoint(0, -120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view(), &event);
  };
  wheel(1);
  EXPECT_GT(form.ScrollBar().value(), 40);
  EXPECT_EQ(form.Display().Base(), static_cast<uint32_t>(form.ScrollBar().value()) * 100);
  wheel(-1);
  EXPECT_EQ(form.ScrollBar().value(), 40);
  t.Core.StoreCharWM(4012, false, 1);
  Press(CellCentre(0, 12));
  EXPECT_EQ(view().Popup(), QStringLiteral(" 4012=\"1\" ($01) "));
}

}  // namespace
}  // namespace kestrel::test

// The debugger's windows, driven through their controls: the breakpoint list (add, a bad one,
// disable, delete, delete all), the history window's step back and save, the core display's
// double click and label tooltip, the trace window's label column.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QToolTip>

#include "gui/GuiTestSupport.h"
#include "gui/debug/BreakpointForm.h"
#include "gui/debug/HistoryForm.h"
#include "gui/panel/CoreForm.h"
#include "gui/panel/MainForm.h"
#include "gui/panel/TraceForm.h"
#include "support/CountingLoop.h"
#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

// The counting loop (support/CountingLoop.h).
class DebugForms : public ::testing::Test {
 protected:
  void SetUp() override {
    PlaceCountingLoop(t);
    ASSERT_EQ(d.LoadSymbolText("LOOP 500\nCHECK 507\nDONE 519\nCOUNT 800\n"), "");
  }
  TTestMachine t;
  TDebugger& d = t.M.Debugger;
};

QString Cell(const QTableWidget& table, int row, int column) {
  const QTableWidgetItem* item = table.item(row, column);
  return item == nullptr ? QString() : item->text();
}

}  // namespace

TEST_F(DebugForms, TheBreakpointWindowAddsDisablesAndDeletes) {
  TBreakpointForm form(d);
  form.show();
  auto add = [&](const char* text) {
    form.EBAdd->setText(QString::fromLatin1(text));
    form.PBAdd->click();
  };
  add("BREAK CHECK COUNT 2");
  add("WATCH COUNT-2-COUNT");
  EXPECT_EQ(form.LAError->text(), QString());
  EXPECT_EQ(form.EBAdd->text(), QString());
  ASSERT_EQ(form.TBList->rowCount(), 2);
  EXPECT_EQ(Cell(*form.TBList, 0, 0), QStringLiteral("1"));
  EXPECT_EQ(Cell(*form.TBList, 0, 1), QStringLiteral("address"));
  EXPECT_EQ(Cell(*form.TBList, 0, 2), QStringLiteral("CHECK COUNT 2"));
  EXPECT_EQ(Cell(*form.TBList, 0, 3), QStringLiteral("yes"));
  EXPECT_EQ(Cell(*form.TBList, 1, 1), QStringLiteral("watch write"));

  // A bad one: its error in the window, the text kept for correcting, nothing added.
  add("BREAK NOWHERE");
  EXPECT_EQ(form.LAError->text(), QStringLiteral("no label NOWHERE in the loaded symbols"));
  EXPECT_EQ(form.EBAdd->text(), QStringLiteral("BREAK NOWHERE"));
  EXPECT_EQ(form.TBList->rowCount(), 2);
  EXPECT_EQ(d.ListText().size(), 2u);

  // Disable the watchpoint: the run stops at the second CHECK only, and the hits show at the
  // refresh a stop brings.
  form.TBList->selectRow(1);
  form.PBDisable->click();
  EXPECT_EQ(Cell(*form.TBList, 1, 3), QStringLiteral("no"));
  EXPECT_FALSE(d.Watchpoints()[0].Enabled);
  t.Run(500);
  EXPECT_EQ(d.LastStop(), "Breakpoint 1 (CHECK) at 00507");
  EXPECT_EQ(t.Text(800, 3), "002");
  form.Refresh();
  EXPECT_EQ(Cell(*form.TBList, 0, 4), QStringLiteral("2"));
  EXPECT_EQ(Cell(*form.TBList, 1, 4), QStringLiteral("0"));
  form.PBEnable->click();  // the watchpoint is still the selection
  EXPECT_TRUE(d.Watchpoints()[0].Enabled);

  // Delete the breakpoint; one a script sets shows at the next refresh (a stop); then all go.
  form.TBList->selectRow(0);
  form.PBDelete->click();
  ASSERT_EQ(form.TBList->rowCount(), 1);
  EXPECT_EQ(Cell(*form.TBList, 0, 1), QStringLiteral("watch write"));
  ASSERT_EQ(d.Command("BREAK OP B"), "");
  form.Refresh();
  EXPECT_EQ(form.TBList->rowCount(), 2);
  EXPECT_EQ(Cell(*form.TBList, 1, 2), QStringLiteral("OP B"));
  form.PBDeleteAll->click();
  EXPECT_EQ(form.TBList->rowCount(), 0);
  EXPECT_TRUE(d.ListText().empty());
}

TEST_F(DebugForms, TheHistoryWindowStepsBackAndSaves) {
  d.SetHistorySize(5);
  std::string error;
  ASSERT_NE(d.AddBreakpoint("CHECK COUNT 3", error), 0);
  t.Run(500);
  ASSERT_EQ(t.Text(800, 3), "003");
  int stepBacks = 0;
  THistoryForm form(d);
  form.SetStepBackListener([&] { ++stepBacks; });
  form.show();
  const QAbstractItemModel& rows = *form.LBHistory->model();
  ASSERT_EQ(rows.rowCount(), 5);
  EXPECT_EQ(form.LASummary->text(),
            QStringLiteral("The last 5 of up to 5 instructions, the registers after each"));
  const QString last = rows.data(rows.index(4, 0)).toString();
  EXPECT_TRUE(last.startsWith(QStringLiteral("00500 LOOP       A "))) << last.toStdString();

  // Back over the add: COUNT and IAR as before it.
  form.PBStepBack->click();
  EXPECT_EQ(form.LAError->text(), QString());
  EXPECT_EQ(stepBacks, 1);
  EXPECT_EQ(t.Text(800, 3), "002");
  EXPECT_EQ(t.R.IAR, 500);
  EXPECT_EQ(rows.rowCount(), 4);
  for (int k = 0; k < 4; ++k)
    form.PBStepBack->click();
  EXPECT_EQ(rows.rowCount(), 0);
  form.PBStepBack->click();  // refused: nothing left
  EXPECT_EQ(form.LAError->text(),
            QStringLiteral("cannot step back: no instruction in the history"));
  EXPECT_EQ(stepBacks, 5);

  // On to the next stop; the window takes the history when told (at a stop), then saves it.
  t.Run();
  form.Refresh();
  EXPECT_EQ(rows.rowCount(), 5);
  TScratchDir dir;
  EXPECT_EQ(form.SaveTo(dir.Path("h.txt")), "");
  std::string saved;
  for (int k = 0; k < rows.rowCount(); ++k)
    saved += rows.data(rows.index(k, 0)).toString().toStdString() + "\n";
  EXPECT_EQ(TScratchDir::Read(dir.Path("h.txt")), saved);
  EXPECT_EQ(t.State(), CpuState::ProgramHalt);  // CHECK's third hit is past
  const std::string bad = dir.Path("none/h.txt");
  EXPECT_EQ(form.SaveTo(bad), "cannot write the history to " + bad);
  EXPECT_EQ(form.LAError->text().toStdString(), "cannot write the history to " + bad);
}

TEST_F(DebugForms, TheCoreDisplaySetsBreakpointsAndShowsLabelsAndTheTraceShowsThem) {
  TCoreForm core(t.Core);
  core.SetDebugger(&d);
  core.show();
  core.TIRefreshTimer();
  TCoreView& view = core.View();
  view.grab();
  auto centre = [&](int row, int column) {
    return QPoint(TCoreView::LeftMargin + column * view.CellWidth() + view.CellWidth() / 2,
                  TCoreView::TopMargin + row * view.CellHeight() + view.CellHeight() / 2);
  };
  auto doubleClick = [&](QPoint at) {
    QMouseEvent event(QEvent::MouseButtonDblClick, at, view.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
  };
  auto edge = [&](int row, int column) {
    // The frame of a marked cell, one pixel in from its corner.
    QPoint at = centre(row, column) - QPoint(view.CellWidth() / 2 - 1, view.CellHeight() / 2 - 1);
    return view.Buffer().toImage().pixelColor(at);
  };
  // 507 is row 5 (addresses 500-599), column 7.
  doubleClick(centre(5, 7));
  EXPECT_EQ(d.BreakAddresses(), std::vector<uint16_t>{507});
  view.grab();
  EXPECT_EQ(edge(5, 7), QColor(220, 0, 0));
  EXPECT_NE(edge(5, 8), QColor(220, 0, 0));
  t.Run(500);
  EXPECT_EQ(d.LastStop(), "Breakpoint 1 (CHECK) at 00507");
  doubleClick(centre(5, 7));  // clears it
  EXPECT_TRUE(d.BreakAddresses().empty());
  // One set from elsewhere is marked at the next tick.
  ASSERT_EQ(d.Command("BREAK DONE"), "");
  core.TIRefreshTimer();
  view.grab();
  EXPECT_EQ(edge(5, 19), QColor(220, 0, 0));
  // Position 0 holds no instruction: refused, nothing set.
  EXPECT_EQ(view.ToggleBreakAt(centre(0, 0)), QStringLiteral("address 0 holds no instruction"));
  EXPECT_EQ(d.BreakAddresses(), std::vector<uint16_t>{519});

  // The hover: the label and offset of a position near one.
  EXPECT_EQ(core.Display().LabelText(509), "00509 CHECK+2");
  EXPECT_EQ(core.Display().LabelText(499), "");
  QHelpEvent hover(QEvent::ToolTip, centre(8, 2), view.mapToGlobal(centre(8, 2)));
  QApplication::sendEvent(&view, &hover);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("00802 COUNT+2"));

  // The trace: a label column while symbols are loaded, the log itself as it was.
  TTraceForm trace(t.M.TraceLog, t.M.TraceFlags);
  t.M.TraceLog.Clear();
  t.M.TraceLog.AddLine("I00514 B 5 B   Branch to 00500");
  t.M.TraceLog.AddLine("R          AAReg=00500");
  trace.Refresh();
  auto shown = [&](int row) {
    return trace.Model().data(trace.Model().index(row), Qt::DisplayRole).toString();
  };
  EXPECT_EQ(shown(0), QStringLiteral("00514 B 5 B   Branch to 00500"));
  trace.SetDebugger(&d);
  EXPECT_EQ(shown(0), QStringLiteral("00514 CHECK+7   B 5 B   Branch to 00500"));
  EXPECT_EQ(shown(1), QStringLiteral("          AAReg=00500"));
  EXPECT_EQ(t.M.TraceLog.Lines()[0], "I00514 B 5 B   Branch to 00500");
}

TEST_F(DebugForms, ThePanelsDebugMenuShowsTheWindowsAndLoadsSymbols) {
  TMainForm panel(t.M, {});
  EXPECT_FALSE(panel.MIBreakpoints->isEnabled());
  TBreakpointForm breakpoints(d);
  THistoryForm history(d);
  panel.SetDebugWindows(&breakpoints, &history);
  panel.MIBreakpoints->trigger();
  EXPECT_TRUE(breakpoints.isVisible());
  panel.MIHistory->trigger();
  EXPECT_TRUE(history.isVisible());

  TScratchDir dir;
  const std::string good = dir.Write("good.sym", "AREA 1200\n");
  const std::string bad = dir.Write("bad.sym", "AREA 1300\nBROKEN\n");
  TBoxCloser box;
  EXPECT_FALSE(panel.LoadSymbols(QString::fromStdString(bad)));
  EXPECT_EQ(box.Count(), 1);
  EXPECT_TRUE(box.Text().contains(QStringLiteral("line 2"))) << box.Text().toStdString();
  EXPECT_EQ(d.LabelOf(1300), "");  // nothing of the bad file
  EXPECT_TRUE(panel.LoadSymbols(QString::fromStdString(good)));
  EXPECT_EQ(d.LabelOf(1300), "AREA+100");
  EXPECT_EQ(d.LabelOf(1200), "AREA");
  EXPECT_EQ(box.Count(), 1);
}

}  // namespace kestrel::test

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devices/TapeImages.h"
#include "gui/GuiTestSupport.h"
#include "gui/script/OCLDisplayForm.h"
#include "gui/script/OCLEditForm.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class ScriptMessageWindow : public ::testing::Test {
 protected:
  void Click(QWidget* w) {
    QPoint at = w->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
  }
  TTestMachine t;
  TScriptDisplay& display = t.M.ScriptDisplay;
  TOCLDisplayForm form{display};
};

TEST_F(ScriptMessageWindow, ThreeLinesGiveTheHeightOfTwoItemsPlusMargins) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("IBM Emulation OCL Script"));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  display.Clear();
  display.AddText("First line");
  display.EndLine();
  display.AddText("Second line");
  display.EndLine();
  display.AddText("Third");
  display.Show();
  ASSERT_TRUE(form.isVisible());
  const int h = TOCLDisplayForm::MeasureItem({TDisplayItemKind::Text, "Second line"}).Height;
  EXPECT_EQ(form.height(), 10 + 2 * h + 80);
  EXPECT_EQ(form.width(), 200 + 25);  // no item is wider than 200
  ASSERT_EQ(form.ItemLabels().size(), 3u);
  EXPECT_EQ(form.ItemLabels()[2]->geometry().topLeft(), QPoint(10, 10 + 2 * h));
  EXPECT_TRUE(form.PBContinue->isVisible());
  EXPECT_EQ(form.PBContinue->x(), 10);
  EXPECT_EQ(form.PBContinue->geometry().bottom(), form.PBCancel->geometry().bottom());
  EXPECT_GT(form.PBCancel->x(), form.PBContinue->x());
}

TEST_F(ScriptMessageWindow, WideItemWidensTheWindowAndEmptyLinesStepFifteen) {
  display.Clear();
  std::string wide(80, 'W');
  display.AddText(wide);
  display.EndLine();
  display.EndLine();  // an empty line
  display.AddText("x");
  display.Show();
  TItemSize size = TOCLDisplayForm::MeasureItem({TDisplayItemKind::Text, wide});
  ASSERT_GT(size.Width, 200);
  EXPECT_EQ(form.width(), size.Width + 25);
  EXPECT_EQ(form.ItemLabels()[1]->y(), 10 + size.Height + 15);
}

TEST_F(ScriptMessageWindow, OptionClickSetsOptNumAndHidesContinue) {
  display.Clear();
  display.AddText("Pick:");
  display.EndLine();
  display.AddOption("One");
  display.EndLine();
  display.AddOption("Two");
  display.SetContinueVisible(false);
  display.Show();
  EXPECT_FALSE(form.PBContinue->isVisible());
  EXPECT_TRUE(form.PBCancel->isVisible());
  ASSERT_EQ(form.ItemLabels().size(), 3u);
  QLabel* two = form.ItemLabels()[2];
  EXPECT_TRUE(two->font().bold());
  EXPECT_EQ(two->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(two->palette().color(QPalette::WindowText), QColor(0, 0, 128));  // navy
  Click(two);
  EXPECT_EQ(display.OptNum(), 2);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(display.Visible());

  // Showing again starts with no option chosen.
  display.Show();
  EXPECT_EQ(display.OptNum(), 0);
}

TEST_F(ScriptMessageWindow, EscapeAndCloseDoNotDismissIt) {
  display.Clear();
  display.AddText("Wait");
  display.Show();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&form, &escape);
  form.close();
  EXPECT_TRUE(form.isVisible());
  form.PBCancel->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(display.Visible());
}

TEST_F(ScriptMessageWindow, ColoursFollowTheModel) {
  display.SetBackground(0x0000FF);  // red
  display.SetTextColour(0xFFFFFF);
  display.Clear();
  display.AddText("Stopped");
  display.Show();
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(form.ItemLabels()[0]->palette().color(QPalette::WindowText), QColor(255, 255, 255));
  display.ResetColours();
  display.Show();
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(255, 255, 225));
}

// ---- The script editor -----------------------------------------------------------------------

class ScriptEditor : public ::testing::Test {
 protected:
  ScriptEditor() {
    path = files.Path("JOB.OCL");
    std::ofstream(path, std::ios::binary) << "RESET\r\nSTART\r\n";
    // An old time, so that a write shows.
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
    written = std::filesystem::last_write_time(path);
  }
  std::string Contents() {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  TTempDir files;
  std::string path;
  std::filesystem::file_time_type written;
  TOCLEditForm form;
};

TEST_F(ScriptEditor, UnchangedTextIsNeverWritten) {
  form.ShowScript(path);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.windowTitle(),
            QStringLiteral("IBM Emulation - Edit Script: ") + QString::fromStdString(path));
  EXPECT_EQ(form.MOText->toPlainText(), QStringLiteral("RESET\nSTART\n"));
  EXPECT_FALSE(form.PBSave->isEnabled());
  form.PBSaveClick();
  EXPECT_EQ(std::filesystem::last_write_time(path), written);
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.MOText->toPlainText().isEmpty());
}

TEST_F(ScriptEditor, ChangeEnablesSaveWhichWritesTheFile) {
  form.ShowScript(path);
  form.MOText->moveCursor(QTextCursor::End);
  form.MOText->insertPlainText(QStringLiteral("HALT\n"));
  EXPECT_TRUE(form.PBSave->isEnabled());
  form.PBSave->click();
  EXPECT_EQ(Contents(), "RESET\r\nSTART\r\nHALT\r\n");
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.PBSave->isEnabled());
}

TEST_F(ScriptEditor, CancelLeavesTheFileAlone) {
  form.ShowScript(path);
  form.MOText->insertPlainText(QStringLiteral("X"));
  form.PBCancel->click();
  EXPECT_EQ(Contents(), "RESET\r\nSTART\r\n");
  EXPECT_FALSE(form.isVisible());
}

TEST_F(ScriptEditor, UnreadableFileIsReportedAndTheEditorStaysEmpty) {
  TBoxCloser closer;
  form.ShowScript(files.Path("JOB"));
  EXPECT_EQ(closer.Count(), 1);
  EXPECT_TRUE(form.MOText->toPlainText().isEmpty());
  EXPECT_FALSE(form.PBSave->isEnabled());
}

}  // namespace
}  // namespace kestrel::test

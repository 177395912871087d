#include "gui/panel/TraceForm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

class TraceForm : public ::testing::Test {
 protected:
  QCheckBox* Box(const char* name) { return form.findChild<QCheckBox*>(QString::fromLatin1(name)); }
  QPushButton* Button(const char* name) {
    return form.findChild<QPushButton*>(QString::fromLatin1(name));
  }
  QString Text(int row) { return model().data(model().index(row), Qt::DisplayRole).toString(); }
  QColor Colour(int row) {
    return model().data(model().index(row), Qt::ForegroundRole).value<QColor>();
  }
  TTraceListModel& model() { return form.Model(); }

  TTestMachine t;
  TTraceForm form{t.M.TraceLog, t.M.TraceFlags};
};

TEST_F(TraceForm, LinesShowWithoutTheirKindLetterInTheKindColour) {
  const std::pair<const char*, QColor> kinds[] = {
      {"I00500 M 7 Move", QColor(0, 0, 0)},   {"Ddetail", QColor(128, 128, 128)},
      {"Rregisters", QColor(0, 0, 255)},      {"Eerror", QColor(255, 0, 0)},
      {"TCPU Begin", QColor(0, 128, 0)},      {"Sscript", QColor(101, 202, 0)},
      {" arith detail", QColor(255, 128, 64)}};
  for (const auto& [line, colour] : kinds)
    t.M.TraceLog.AddLine(line);
  form.Refresh();
  ASSERT_EQ(model().rowCount(), 7);
  EXPECT_EQ(Text(0), QStringLiteral("00500 M 7 Move"));
  EXPECT_EQ(Text(4), QStringLiteral("CPU Begin"));
  EXPECT_EQ(Text(6), QStringLiteral("arith detail"));
  for (int row = 0; row < 7; ++row)
    EXPECT_EQ(Colour(row), kinds[row].second) << row;
}

TEST_F(TraceForm, TheLineAfterThirtyThousandEmptiesTheList) {
  for (size_t i = 0; i < TTraceLog::MaxLines; ++i)
    t.M.TraceLog.AddLine("I" + std::to_string(i));
  form.Refresh();
  EXPECT_EQ(model().rowCount(), 30000);
  EXPECT_EQ(Text(29999), QStringLiteral("29999"));
  t.M.TraceLog.AddLine("Ilast");
  form.Refresh();
  EXPECT_EQ(model().rowCount(), 0);
  t.M.TraceLog.AddLine("Ifirst again");
  t.M.TraceLog.AddLine("Isecond");
  form.Refresh();
  ASSERT_EQ(model().rowCount(), 2);
  EXPECT_EQ(Text(0), QStringLiteral("first again"));
}

TEST_F(TraceForm, AClearAndRefillBetweenTicksIsNotMistakenForAppends) {
  t.M.TraceLog.AddLine("Iold 1");
  t.M.TraceLog.AddLine("Iold 2");
  form.Refresh();
  t.M.TraceLog.Clear();
  for (int i = 0; i < 3; ++i)
    t.M.TraceLog.AddLine("Inew " + std::to_string(i));
  form.Refresh();
  ASSERT_EQ(model().rowCount(), 3);
  EXPECT_EQ(Text(0), QStringLiteral("new 0"));
}

TEST_F(TraceForm, DetailAndRegisterBoxesNeedInstructionTracing) {
  QCheckBox* inst = Box("CBInstTrace");
  QCheckBox* dets = Box("CBTraceDets");
  QCheckBox* regs = Box("CBTraceRegs");
  ASSERT_TRUE(inst && dets && regs && Box("CBTraceScrs") && Box("CBTraceThds"));
  EXPECT_EQ(inst->text(), QStringLiteral("&Instructions"));
  EXPECT_EQ(dets->toolTip(), QStringLiteral("Trace instruction details"));
  EXPECT_FALSE(inst->isChecked());
  EXPECT_FALSE(dets->isEnabled());
  EXPECT_FALSE(regs->isEnabled());

  inst->click();
  EXPECT_TRUE(t.M.TraceFlags.TraceInstructions);
  EXPECT_TRUE(dets->isEnabled());
  dets->click();
  regs->click();
  EXPECT_TRUE(t.M.TraceFlags.Details());
  // Switching instruction tracing off greys them out without changing them...
  inst->click();
  EXPECT_FALSE(dets->isEnabled());
  EXPECT_TRUE(dets->isChecked());
  EXPECT_TRUE(t.M.TraceFlags.TraceDetails);
  EXPECT_FALSE(t.M.TraceFlags.Details());
  // ...and switching it on again restores their effect.
  inst->click();
  EXPECT_TRUE(t.M.TraceFlags.Details());
  EXPECT_TRUE(t.M.TraceFlags.TraceRegisters);

  Box("CBTraceScrs")->click();
  Box("CBTraceThds")->click();
  EXPECT_TRUE(t.M.TraceFlags.TraceScripts);
  EXPECT_TRUE(t.M.TraceFlags.TraceThreads);
}

TEST_F(TraceForm, BoxesFollowTracingSwitchedOnElsewhere) {
  // An address stop, or Step mode on the panel, switches instruction tracing on.
  t.M.TraceFlags.TraceInstructions = true;
  form.Refresh();
  EXPECT_TRUE(Box("CBInstTrace")->isChecked());
  EXPECT_TRUE(Box("CBTraceDets")->isEnabled());
}

TEST_F(TraceForm, ClearEmptiesAndSaveKeepsTheKindLetters) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  t.M.TraceLog.AddLine("I00001 , 4 Set Word Mark");
  t.M.TraceLog.AddLine("Eoops");
  Button("PBSave")->click();
  std::ifstream in("Kestrel.LOG");
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first, "I00001 , 4 Set Word Mark");
  EXPECT_EQ(second, "Eoops");
  EXPECT_TRUE(Button("PBSave")->toolTip().startsWith(QStringLiteral("Save list to ")));
  EXPECT_TRUE(Button("PBSave")->toolTip().endsWith(QStringLiteral(".Log")));
  QDir::setCurrent(previous);

  form.Refresh();
  EXPECT_EQ(model().rowCount(), 2);
  Button("PBClear")->click();
  EXPECT_EQ(t.M.TraceLog.Count(), 0u);
  EXPECT_EQ(model().rowCount(), 0);
  EXPECT_EQ(Button("PBClear")->toolTip(), QStringLiteral("Clear list"));
}

}  // namespace
}  // namespace kestrel::test

#include "gui/debug/BreakpointForm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/QtControls.h"
#include "gui/QtFixedFont.h"

namespace kestrel {

namespace {
QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
}  // namespace

TBreakpointForm::TBreakpointForm(TDebugger& debugger, QWidget* parent)
    : QWidget(parent, Qt::Window), debugger_(debugger), list_(debugger) {
  setObjectName(QStringLiteral("BreakpointForm"));
  setWindowTitle(QStringLiteral("IBM 1401 Emulator - Breakpoints"));

  TBList = new QTableWidget(0, 5, this);
  TBList->setObjectName(QStringLiteral("TBList"));
  TBList->setHorizontalHeaderLabels({QStringLiteral("No."), QStringLiteral("Kind"),
                                     QStringLiteral("Text"), QStringLiteral("Enabled"),
                                     QStringLiteral("Hits")});
  TBList->verticalHeader()->hide();
  TBList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TBList->setSelectionBehavior(QAbstractItemView::SelectRows);
  TBList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  TBList->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  TBList->setFont(FixedPitchFontPixels(12));

  EBAdd = new QLineEdit(this);
  EBAdd->setObjectName(QStringLiteral("EBAdd"));
  EBAdd->setPlaceholderText(QStringLiteral("BREAK START+4   WATCH AREA-AREA+9 WRITE   OP B"));
  EBAdd->setToolTip(
      QStringLiteral("BREAK ADDRESS|OP C|IF CONDITION [COUNT N] [PRINT] [DUMP FROM-TO] [GO], or "
                     "WATCH FROM-TO [READ|WRITE|ACCESS] [ARM ADDRESS]"));
  PBAdd = MakeButton(this, "PBAdd", "&Add", "Add this breakpoint or watchpoint");
  PBEnable = MakeButton(this, "PBEnable", "&Enable", "Enable the selected ones");
  PBDisable = MakeButton(this, "PBDisable", "&Disable", "Disable the selected ones");
  PBDelete = MakeButton(this, "PBDelete", "De&lete", "Delete the selected ones");
  PBDeleteAll = MakeButton(this, "PBDeleteAll", "Delete A&ll", "Delete every one");
  LAError = new QLabel(this);
  LAError->setObjectName(QStringLiteral("LAError"));
  LAError->setStyleSheet(QStringLiteral("QLabel { color: rgb(192, 0, 0); }"));
  LAError->setWordWrap(true);

  connect(PBAdd, &QPushButton::clicked, this, &TBreakpointForm::AddClick);
  connect(EBAdd, &QLineEdit::returnPressed, this, &TBreakpointForm::AddClick);
  connect(PBEnable, &QPushButton::clicked, this,
          [this] { ForSelected(&TBreakpointList::SetEnabled, true); });
  connect(PBDisable, &QPushButton::clicked, this,
          [this] { ForSelected(&TBreakpointList::SetEnabled, false); });
  connect(PBDelete, &QPushButton::clicked, this, &TBreakpointForm::DeleteClick);
  connect(PBDeleteAll, &QPushButton::clicked, this, [this] {
    list_.DeleteAll();
    ShowError({});
    Refresh();
  });

  auto* add = new QHBoxLayout;
  add->addWidget(EBAdd, 1);
  add->addWidget(PBAdd);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {PBEnable, PBDisable, PBDelete, PBDeleteAll})
    buttons->addWidget(b);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(TBList, 1);
  layout->addLayout(add);
  layout->addWidget(LAError);
  layout->addLayout(buttons);
  resize(560, 260);

  // A script's DEBUG statement changes the lists too: the window follows them.
  TIPoll = new QTimer(this);
  TIPoll->setInterval(PollMs);
  connect(TIPoll, &QTimer::timeout, this, &TBreakpointForm::Poll);
  TIPoll->start();
  Refresh();
}

void TBreakpointForm::Refresh() {
  shownVersion_ = debugger_.Version();
  list_.Refresh();
  const std::vector<TBreakpointRow>& rows = list_.Rows();
  TBList->setRowCount(static_cast<int>(rows.size()));
  for (size_t k = 0; k < rows.size(); ++k) {
    const TBreakpointRow& r = rows[k];
    const QString cells[] = {QString::number(r.Id), Q(r.Kind), Q(r.Text),
                             r.Enabled ? QStringLiteral("yes") : QStringLiteral("no"),
                             QString::number(r.Hits)};
    for (int column = 0; column < 5; ++column) {
      QTableWidgetItem* item = TBList->item(static_cast<int>(k), column);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        TBList->setItem(static_cast<int>(k), column, item);
      }
      if (item->text() != cells[column]) item->setText(cells[column]);
    }
  }
}

void TBreakpointForm::Poll() {
  if (isVisible() && debugger_.Version() != shownVersion_) Refresh();
}

void TBreakpointForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void TBreakpointForm::ShowError(const std::string& error) {
  LAError->setText(Q(error));
}

void TBreakpointForm::AddClick() {
  const std::string error = list_.Add(EBAdd->text().toStdString());
  ShowError(error);
  if (error.empty()) EBAdd->clear();  // a bad one stays, to be corrected
  Refresh();
}

std::vector<size_t> TBreakpointForm::SelectedRows() const {
  std::vector<size_t> rows;
  for (const QModelIndex& index : TBList->selectionModel()->selectedRows())
    rows.push_back(static_cast<size_t>(index.row()));
  std::sort(rows.rbegin(), rows.rend());
  return rows;
}

void TBreakpointForm::ForSelected(bool (TBreakpointList::*action)(size_t, bool), bool on) {
  for (size_t row : SelectedRows())
    (list_.*action)(row, on);
  ShowError({});
  Refresh();
}

void TBreakpointForm::DeleteClick() {
  // Rows by number: each delete refreshes the list, so the numbers are taken first.
  std::vector<int> ids;
  for (size_t row : SelectedRows()) {
    if (row < list_.Rows().size()) ids.push_back(list_.Rows()[row].Id);
  }
  for (int id : ids)
    debugger_.Delete(id);
  TBList->clearSelection();
  ShowError({});
  Refresh();
}

}  // namespace kestrel

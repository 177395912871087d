#include "gui/debug/HistoryForm.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/QtControls.h"
#include "gui/QtFixedFont.h"

namespace kestrel {

int THistoryListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.Lines().size());
}

QVariant THistoryListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 ||
      static_cast<size_t>(index.row()) >= list_.Lines().size())
    return {};
  return QString::fromStdString(list_.Lines()[static_cast<size_t>(index.row())]);
}

THistoryForm::THistoryForm(TDebugger& debugger, QWidget* parent)
    : QWidget(parent, Qt::Window), list_(debugger) {
  setObjectName(QStringLiteral("HistoryForm"));
  setWindowTitle(QStringLiteral("IBM 1401 Emulator - History"));
  LASummary = new QLabel(this);
  LASummary->setObjectName(QStringLiteral("LASummary"));
  model_ = new THistoryListModel(list_, this);
  LBHistory = new QListView(this);
  LBHistory->setObjectName(QStringLiteral("LBHistory"));
  LBHistory->setModel(model_);
  LBHistory->setUniformItemSizes(true);
  LBHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LBHistory->setFont(FixedPitchFontPixels(12));
  PBSave = MakeButton(this, "PBSave", "&Save...", "Save the history to a file");
  PBStepBack = MakeButton(this, "PBStepBack", "Step &Back",
                          "Undo the last instruction: core, word marks and registers (the "
                          "devices are not rewound)");
  LAError = new QLabel(this);
  LAError->setObjectName(QStringLiteral("LAError"));
  LAError->setStyleSheet(QStringLiteral("QLabel { color: rgb(192, 0, 0); }"));
  LAError->setWordWrap(true);
  connect(PBSave, &QPushButton::clicked, this, &THistoryForm::SaveClick);
  connect(PBStepBack, &QPushButton::clicked, this, &THistoryForm::StepBackClick);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(PBStepBack);
  buttons->addStretch(1);
  buttons->addWidget(PBSave);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(LASummary);
  layout->addWidget(LBHistory, 1);
  layout->addWidget(LAError);
  layout->addLayout(buttons);
  resize(720, 320);
  Refresh();
}

void THistoryForm::Refresh() {
  list_.Refresh();
  model_->Reset();
  LASummary->setText(QString::fromStdString(list_.Summary()));
  if (model_->rowCount() > 0) LBHistory->scrollToBottom();
}

void THistoryForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

std::string THistoryForm::SaveTo(const std::string& path) {
  std::string error = list_.Save(path);
  LAError->setText(QString::fromStdString(error));
  return error;
}

void THistoryForm::SaveClick() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save History"),
                                                    QStringLiteral("history.txt"),
                                                    QStringLiteral("Text (*.txt);;Any File (*)"));
  if (!path.isEmpty()) SaveTo(path.toStdString());
}

void THistoryForm::StepBackClick() {
  const std::string error = list_.StepBack();
  LAError->setText(QString::fromStdString(error));
  model_->Reset();
  LASummary->setText(QString::fromStdString(list_.Summary()));
  if (model_->rowCount() > 0) LBHistory->scrollToBottom();
  if (error.empty() && stepBack_) stepBack_();
}

}  // namespace kestrel

#include "gui/panel/TraceForm.h"

#include <QCheckBox>
#include <QColor>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

#include "debug/Debugger.h"
#include "gui/QtFixedFont.h"

namespace kestrel {

// ---- List model ------------------------------------------------------------------------------

TTraceListModel::TTraceListModel(const TTraceLog& log, QObject* parent)
    : QAbstractListModel(parent), log_(log) {}

int TTraceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(count_);
}

QVariant TTraceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= count_) {
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::ForegroundRole) return {};
  std::string line = log_.Line(static_cast<size_t>(index.row()));
  if (line.empty()) return {};  // the log changed under the view; the next Sync catches up
  if (role == Qt::DisplayRole) {
    if (labeller_) line = labeller_(line);
    return QString::fromStdString(line.substr(1));
  }
  TTraceColour colour = TraceKindColour(line[0]);
  return QColor(colour.Red, colour.Green, colour.Blue);
}

bool TTraceListModel::Sync() {
  uint64_t version = log_.Version();
  if (version == version_) return false;
  size_t count = log_.Count();
  // Every change bumps the version once: when the count grew by exactly the number of changes,
  // they were all appends and the rows already shown are still the same lines.
  if (count > count_ && count - count_ == version - version_) {
    beginInsertRows(QModelIndex(), static_cast<int>(count_), static_cast<int>(count - 1));
    count_ = count;
    endInsertRows();
  } else {
    beginResetModel();
    count_ = count;
    endResetModel();
  }
  version_ = version;
  return true;
}

void TTraceListModel::Relabel() {
  if (count_ > 0) emit dataChanged(index(0), index(static_cast<int>(count_ - 1)));
}

// ---- Window ----------------------------------------------------------------------------------

namespace {
QCheckBox* MakeBox(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setToolTip(QString::fromLatin1(hint));
  return box;
}

// The program's own file name up to its first full stop.
QString ProgramBaseName() {
  QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  int dot = name.indexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}
}  // namespace

TTraceForm::TTraceForm(TTraceLog& log, TTraceFlags& flags, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), flags_(flags) {
  setObjectName(QStringLiteral("TraceForm"));
  setWindowTitle(QStringLiteral("IBM Emulation - Trace display"));

  model_ = new TTraceListModel(log_, this);
  LBLog = new QListView(this);
  LBLog->setObjectName(QStringLiteral("LBLog"));
  LBLog->setModel(model_);
  LBLog->setUniformItemSizes(true);  // one height for all: the view never measures every line
  LBLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LBLog->setSelectionMode(QAbstractItemView::SingleSelection);
  LBLog->setFont(FixedPitchFontPixels(10));  // lines 11 pixels high

  CBInstTrace = MakeBox(this, "CBInstTrace", "&Instructions", "Enable instruction trace");
  CBTraceDets = MakeBox(this, "CBTraceDets", "&Detailed", "Trace instruction details");
  CBTraceRegs = MakeBox(this, "CBTraceRegs", "&Registers", "Trace register contents");
  CBTraceScrs = MakeBox(this, "CBTraceScrs", "&Scripts", "Enable script trace");
  CBTraceThds = MakeBox(this, "CBTraceThds", "&Threads", "Enable threads trace");
  for (QCheckBox* box : {CBInstTrace, CBTraceDets, CBTraceRegs, CBTraceScrs, CBTraceThds}) {
    connect(box, &QCheckBox::clicked, this, &TTraceForm::CBTraceClick);
  }

  PBSave = new QPushButton(QStringLiteral("Save"), this);
  PBSave->setObjectName(QStringLiteral("PBSave"));
  PBSave->setToolTip(QStringLiteral("Save list to ") + ProgramBaseName() + QStringLiteral(".Log"));
  connect(PBSave, &QPushButton::clicked, this, &TTraceForm::PBSaveClick);
  PBClear = new QPushButton(QStringLiteral("Clear"), this);
  PBClear->setObjectName(QStringLiteral("PBClear"));
  PBClear->setToolTip(QStringLiteral("Clear list"));
  connect(PBClear, &QPushButton::clicked, this, &TTraceForm::PBClearClick);

  auto* controls = new QHBoxLayout;
  for (QWidget* w : {static_cast<QWidget*>(CBInstTrace), static_cast<QWidget*>(CBTraceDets),
                     static_cast<QWidget*>(CBTraceRegs), static_cast<QWidget*>(CBTraceScrs),
                     static_cast<QWidget*>(CBTraceThds)}) {
    controls->addWidget(w);
  }
  controls->addStretch(1);
  controls->addWidget(PBSave);
  controls->addWidget(PBClear);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(LBLog, 1);
  layout->addLayout(controls);
  resize(640, 300);

  TIRefresh = new QTimer(this);
  TIRefresh->setObjectName(QStringLiteral("TIRefresh"));
  TIRefresh->setInterval(RefreshMs);
  connect(TIRefresh, &QTimer::timeout, this, &TTraceForm::Refresh);
  TIRefresh->start();
  ShowFlags();
}

void TTraceForm::SetDebugger(const TDebugger* debugger) {
  debugger_ = debugger;
  if (debugger == nullptr) {
    model_->SetLabeller(nullptr);
  } else {
    labelVersion_ = debugger->Version();
    model_->SetLabeller(
        [debugger](const std::string& line) { return debugger->LabelTraceLine(line); });
  }
  model_->Relabel();
}

void TTraceForm::Refresh() {
  // Symbols loaded (or breakpoints changed): the lines shown are drawn again.
  if (debugger_ != nullptr && debugger_->Version() != labelVersion_) {
    labelVersion_ = debugger_->Version();
    model_->Relabel();
  }
  if (model_->Sync() && model_->rowCount() > 0) LBLog->scrollToBottom();
  ShowFlags();
}

// The processor and the front panel switch instruction tracing on by themselves; the boxes
// follow the flags.
void TTraceForm::ShowFlags() {
  auto show = [](QCheckBox* box, bool on) {
    if (box->isChecked() != on) box->setChecked(on);
  };
  show(CBInstTrace, flags_.TraceInstructions);
  show(CBTraceDets, flags_.TraceDetails);
  show(CBTraceRegs, flags_.TraceRegisters);
  show(CBTraceScrs, flags_.TraceScripts);
  show(CBTraceThds, flags_.TraceThreads);
  // A disabled box keeps its state and its flag.
  CBTraceDets->setEnabled(CBInstTrace->isChecked());
  CBTraceRegs->setEnabled(CBInstTrace->isChecked());
}

void TTraceForm::CBTraceClick() {
  flags_.TraceInstructions = CBInstTrace->isChecked();
  flags_.TraceDetails = CBTraceDets->isChecked();
  flags_.TraceRegisters = CBTraceRegs->isChecked();
  flags_.TraceThreads = CBTraceThds->isChecked();
  flags_.TraceScripts = CBTraceScrs->isChecked();
  ShowFlags();
}

void TTraceForm::PBSaveClick() {
  try {
    log_.Save();
  } catch (const std::exception& e) {
    QMessageBox::critical(this, windowTitle(), QString::fromStdString(e.what()));
  }
}

void TTraceForm::PBClearClick() {
  log_.Clear();
  Refresh();
}

}  // namespace kestrel

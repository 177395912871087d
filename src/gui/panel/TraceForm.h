// The trace window: a view over the trace log's line list and the five trace flags.  Lines reach
// the log through AddTraceLine on the GUI thread; the window picks them up on its refresh timer,
// so a traced program costs one list update per tick, not one per line.
#pragma once

#include <QAbstractListModel>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "core/IBMTrace.h"

class QCheckBox;
class QListView;
class QPushButton;
class QTimer;

namespace kestrel {

class TDebugger;

// The list model of LBLog: each line shown without its kind letter, in its kind's colour.
class TTraceListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit TTraceListModel(const TTraceLog& log, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Catches up with the log: appended lines are inserted, anything else resets the model.
  // Returns true when the list changed.
  bool Sync();
  // What a line is shown as (the kind letter still first): the debugger adds its labels.
  void SetLabeller(std::function<std::string(const std::string&)> labeller) {
    labeller_ = std::move(labeller);
  }
  // Every shown line again (the labels changed).
  void Relabel();

 private:
  const TTraceLog& log_;
  std::function<std::string(const std::string&)> labeller_;
  size_t count_ = 0;
  uint64_t version_ = 0;
};

class TTraceForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int RefreshMs = 100;

  TTraceForm(TTraceLog& log, TTraceFlags& flags, QWidget* parent = nullptr);

  // Shows what the log and the flags hold now (the refresh timer calls it).
  void Refresh();
  TTraceListModel& Model() { return *model_; }
  // With symbols loaded in the debugger, each instruction's line shows its label.
  void SetDebugger(const TDebugger* debugger);

 private:
  void CBTraceClick();
  void PBSaveClick();
  void PBClearClick();
  void ShowFlags();

  TTraceLog& log_;
  TTraceFlags& flags_;
  const TDebugger* debugger_ = nullptr;
  uint64_t labelVersion_ = 0;
  TTraceListModel* model_;
  QListView* LBLog;
  QCheckBox* CBInstTrace;
  QCheckBox* CBTraceDets;
  QCheckBox* CBTraceRegs;
  QCheckBox* CBTraceScrs;
  QCheckBox* CBTraceThds;
  QPushButton* PBSave;
  QPushButton* PBClear;
  QTimer* TIRefresh;
};

}  // namespace kestrel

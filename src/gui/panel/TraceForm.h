// The trace window: a view over the trace log's line list and the five trace flags.  Lines reach
// the log through AddTraceLine on the GUI thread; the window picks them up on its refresh timer,
// so a traced program costs one list update per tick, not one per line.
#pragma once

#include <QAbstractListModel>
#include <QWidget>
#include <cstdint>

#include "core/IBMTrace.h"

class QCheckBox;
class QListView;
class QPushButton;
class QTimer;

namespace kestrel {

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

 private:
  const TTraceLog& log_;
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

 private:
  void CBTraceClick();
  void PBSaveClick();
  void PBClearClick();
  void ShowFlags();

  TTraceLog& log_;
  TTraceFlags& flags_;
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

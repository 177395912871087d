// The history window: the last instructions as the debugger's history lines give them (address,
// label, instruction, the registers after it), refreshed at the processor's stops and never
// while it runs; Save... writes them to a file, Step Back undoes the last one.  A view of
// THistoryList.
#pragma once

#include <QAbstractListModel>
#include <QWidget>
#include <functional>

#include "debug/DebugLists.h"

class QLabel;
class QListView;
class QPushButton;

namespace kestrel {

// The lines of the list at its last refresh.
class THistoryListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit THistoryListModel(const THistoryList& list, QObject* parent = nullptr)
      : QAbstractListModel(parent), list_(list) {}
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  void Reset() {
    beginResetModel();
    endResetModel();
  }

 private:
  const THistoryList& list_;
};

class THistoryForm : public QWidget {
  Q_OBJECT

 public:
  explicit THistoryForm(TDebugger& debugger, QWidget* parent = nullptr);

  // Takes the history as it is now (the processor stopped).
  void Refresh();
  // Called after a step back, for the panel and the core display to show what it restored.
  void SetStepBackListener(std::function<void()> listener) { stepBack_ = std::move(listener); }
  // Save... without its dialog: "" or the error, which the window shows.
  std::string SaveTo(const std::string& path);
  const THistoryList& List() const { return list_; }

  QLabel* LASummary = nullptr;
  QListView* LBHistory = nullptr;
  QPushButton* PBSave = nullptr;
  QPushButton* PBStepBack = nullptr;
  QLabel* LAError = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SaveClick();
  void StepBackClick();

  THistoryList list_;
  THistoryListModel* model_;
  std::function<void()> stepBack_;
};

}  // namespace kestrel

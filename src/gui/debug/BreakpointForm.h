// The breakpoint list window: every breakpoint and watchpoint with its number, kind, text,
// state and hits; a text field that adds one (`BREAK SPEC`, `WATCH SPEC` or a breakpoint's SPEC,
// labels accepted), its error shown in the window; enable, disable, delete the selected rows,
// delete all.  A view of TBreakpointList, refreshed at each processor stop and whenever the
// debugger's lists change.
#pragma once

#include <QWidget>
#include <cstdint>

#include "debug/DebugLists.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace kestrel {

class TBreakpointForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int PollMs = 250;

  explicit TBreakpointForm(TDebugger& debugger, QWidget* parent = nullptr);

  // Shows the lists as they are now.
  void Refresh();
  TBreakpointList& List() { return list_; }

  QTableWidget* TBList = nullptr;
  QLineEdit* EBAdd = nullptr;
  QPushButton* PBAdd = nullptr;
  QPushButton* PBEnable = nullptr;
  QPushButton* PBDisable = nullptr;
  QPushButton* PBDelete = nullptr;
  QPushButton* PBDeleteAll = nullptr;
  QLabel* LAError = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void AddClick();
  // The selected rows, highest first (a delete leaves the lower ones where they are).
  std::vector<size_t> SelectedRows() const;
  void ForSelected(bool (TBreakpointList::*action)(size_t, bool), bool on);
  void DeleteClick();
  void ShowError(const std::string& error);
  void Poll();

  TDebugger& debugger_;
  TBreakpointList list_;
  uint64_t shownVersion_ = UINT64_MAX;
  QTimer* TIPoll = nullptr;
};

}  // namespace kestrel

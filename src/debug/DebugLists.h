// What the debugger's windows show, without the windows: the breakpoint list (every breakpoint
// and watchpoint as a row, the text field's add, enable, disable, delete) and the history list
// (its lines at the last refresh, save, step back).  Each is refreshed by its window at the
// processor's stops, never while it runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "debug/Debugger.h"

namespace kestrel {

struct TBreakpointRow {
  int Id = 0;
  std::string Kind;  // "address", "op code", "condition", "watch write|read|access"
  std::string Text;  // as it was given
  bool Enabled = true;
  unsigned Hits = 0;
};

class TBreakpointList {
 public:
  explicit TBreakpointList(TDebugger& debugger) : debugger_(debugger) {}

  // The breakpoints and watchpoints as they are now, by number.
  void Refresh();
  const std::vector<TBreakpointRow>& Rows() const { return rows_; }

  // `BREAK SPEC`, `WATCH SPEC`, or a breakpoint's SPEC alone: "" or the error, with nothing
  // changed.  The rows are refreshed either way.
  std::string Add(std::string_view text);
  // By row: false when the row is gone (deleted elsewhere since the refresh).
  bool SetEnabled(size_t row, bool on);
  bool Delete(size_t row);
  void DeleteAll();

 private:
  TDebugger& debugger_;
  std::vector<TBreakpointRow> rows_;
};

class THistoryList {
 public:
  explicit THistoryList(TDebugger& debugger) : debugger_(debugger) {}

  // The whole history, oldest first, one HistoryLine each.
  void Refresh();
  const std::vector<std::string>& Lines() const { return lines_; }
  // What the window says above the lines: how many, or that the history is off.
  std::string Summary() const;
  // "" or the error.
  std::string Save(const std::string& path) const { return debugger_.SaveHistory(path); }
  // "" or why not; the lines are refreshed.
  std::string StepBack();

 private:
  TDebugger& debugger_;
  std::vector<std::string> lines_;
  size_t size_ = 0;
};

}  // namespace kestrel

// What the core display shows, without the window: the ruler and row labels, which positions a
// redraw must draw (every visible one, or only those whose changed bit is set), the clearing of
// the changed bit by compare-and-swap, the scroll range and the position popup text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/KestCore.h"

namespace kestrel {

class TDebugger;

class TCoreDisplay {
 public:
  static constexpr int Columns = 100;
  static constexpr int InitialScrollMaximum = 159;
  static constexpr int ScrollPageStep = 10;

  explicit TCoreDisplay(TCoreStorage& core) : core_(core) {}

  // The ruler over the 100 columns: 0 in column 0, each multiple of ten ending in its column,
  // a caret at 5, 15, ... 95, full stops elsewhere.
  static std::string Ruler();
  // The label of the row that starts at `address`: five digits.
  static std::string RowLabel(uint32_t address) { return Addr5(address); }
  // " 345=\"A\"+WM ($31) " for the position at `address`, read from storage as it is (no
  // checks, no stops); empty for an address outside storage.
  std::string PopupText(uint32_t address) const;

  // The top row's address is the scroll position x 100.
  void SetScrollPosition(int position) { base_ = static_cast<uint32_t>(position) * Columns; }
  uint32_t Base() const { return base_; }
  void SetVisibleRows(int rows) { visibleRows_ = rows < 0 ? 0 : rows; }
  int VisibleRows() const { return visibleRows_; }
  // The larger of (size div 100 - visible rows) and 5.
  int ScrollMaximum() const;
  // Rows drawn: visible rows whose first address is below the core size.
  int DrawnRows() const;
  // The address of a cell, or -1 when the cell lies outside storage.
  int32_t AddressAt(int row, int column) const;

  // Draws cells: every position of the drawn rows when `full` is set, else only those whose
  // changed bit is set.  `draw(row, column, word)` is called for each; afterwards the changed
  // bit is cleared only if the word still holds what was drawn, so a store made meanwhile is
  // drawn at the next call.  Returns how many cells were drawn.
  template <typename TDraw>
  int DrawCells(bool full, TDraw&& draw) {
    int drawn = 0;
    int rows = DrawnRows();
    for (int row = 0; row < rows; ++row) {
      uint32_t first = base_ + static_cast<uint32_t>(row) * Columns;
      // Positions of the last row at or above the size are shown as the array holds them.
      int columns = first + Columns <= TCoreStorage::MaxSize
                        ? Columns
                        : static_cast<int>(TCoreStorage::MaxSize - first);
      for (int column = 0; column < columns; ++column) {
        uint16_t address = static_cast<uint16_t>(first + static_cast<uint32_t>(column));
        uint16_t word = core_.Word(address);
        if (!full && !(word & CoreChar::Changed)) continue;
        draw(row, column, word);
        core_.ClearChanged(address, word);
        ++drawn;
      }
    }
    return drawn;
  }

  TCoreStorage& Core() { return core_; }

  // The debugger whose address breakpoints are marked and whose labels a position shows.
  void SetDebugger(TDebugger* debugger);
  TDebugger* Debugger() const { return debugger_; }
  // Takes the breakpoints again when the debugger's lists changed: true when the marks did.
  bool SyncMarks();
  // An enabled address breakpoint stands here (as of the last SyncMarks).
  bool Marked(uint32_t address) const;
  // "00504 LOOP+4" for a position at or after a label, "" when none is near or no debugger.
  std::string LabelText(uint32_t address) const;
  // Sets an address breakpoint here, or clears those here: "" or the error.
  std::string ToggleBreak(uint32_t address);
  // Watches the stores into this position: "" or the error.
  std::string WatchWrites(uint32_t address);

 private:
  TCoreStorage& core_;
  TDebugger* debugger_ = nullptr;
  uint64_t marksVersion_ = UINT64_MAX;
  std::vector<uint16_t> marks_;
  uint32_t base_ = 0;
  int visibleRows_ = 0;
};

}  // namespace kestrel

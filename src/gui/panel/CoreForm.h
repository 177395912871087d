// The core display window: a grid of 100 positions per row with word marks in light blue.  Cells
// are drawn into an off-screen buffer; the refresh timer draws only the positions whose changed
// bit is set and repaints just their rectangles, so a running program costs the display time in
// proportion to what it changes.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>

#include "machine/CoreDisplay.h"

class QScrollBar;
class QTimer;

namespace kestrel {

// The drawing area left of the scroll bar.
class TCoreView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int LeftMargin = 40;  // row labels
  static constexpr int TopMargin = 15;   // ruler

  TCoreView(TCoreDisplay& display, QWidget* parent);

  int CellWidth() const { return cellWidth_; }
  int CellHeight() const { return cellHeight_; }
  // Asks for a paint that draws the frame and every visible cell.
  void RequestFullPaint();
  // One refresh tick: draws the changed cells into the buffer and repaints them.  Returns how
  // many cells were drawn (none while hidden, or while a full paint is still due).
  int Tick();
  // The popup text shown while a mouse button is held, empty when none.
  const QString& Popup() const { return popupText_; }
  QPoint PopupPosition() const { return popupPos_; }
  int LastFullPaintCells() const { return lastFullCells_; }
  const QPixmap& Buffer() const { return buffer_; }
  // The position under a point of the view, or -1.
  int32_t AddressAtPoint(QPoint at) const;
  // A double click, or the context menu's "Break here": sets or clears the address breakpoint
  // of the position; an error shows as a tooltip.  "" or the error.
  QString ToggleBreakAt(QPoint at);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 signals:
  void RowsChanged();

 private:
  void FullPaint();
  QRect CellRect(int row, int column) const;
  void DrawCell(class QPainter& painter, int row, int column, uint16_t word) const;
  void ShowResult(QPoint at, const std::string& error);

  TCoreDisplay& display_;
  QFont font_;
  int cellWidth_ = 8;
  int cellHeight_ = 12;
  int ascent_ = 10;
  QPixmap buffer_;
  bool fullDue_ = true;
  int lastFullCells_ = 0;
  QString popupText_;
  QPoint popupPos_;
};

class TCoreForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int RefreshMs = 250;

  TCoreForm(TCoreStorage& core, QWidget* parent = nullptr);
  // The debugger whose address breakpoints the view marks and sets, and whose labels the
  // tooltips show.
  void SetDebugger(TDebugger* debugger);

  // Sets the core size (clearing core when it changes) and fits the scroll range to it.
  void SetCoreSize(uint16_t size);
  // Clears core and redraws it all (the front panel's system reset).
  void ClearAndRedraw();
  // Core was cleared or resized elsewhere: fits the scroll range and redraws it all.
  void CoreChanged();
  // The refresh timer's work: follows a core size set elsewhere, then draws changed cells.
  int TIRefreshTimer();

  TCoreDisplay& Display() { return display_; }
  TCoreView& View() { return *view_; }
  QScrollBar& ScrollBar() { return *SBBase; }

 protected:
  void showEvent(QShowEvent* event) override;
  // The wheel over the cells scrolls as over the scroll bar.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SBBaseChange(int position);
  void FitScrollRange();

  TCoreDisplay display_;
  TCoreView* view_;
  QScrollBar* SBBase;
  QTimer* TIRefresh;
  uint16_t shownSize_ = 0;
};

}  // namespace kestrel

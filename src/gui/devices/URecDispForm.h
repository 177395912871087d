// The unit record display: a list of cards or print lines, one record per text line in a
// fixed-pitch font, with a vertical scroll bar.  The reader/punch window shows its piles with it
// bottom-up (the next card to be read on the lowest line, the scroll bar running the other way),
// the printer window its print list top-down.  The display does not own the list: the window
// attaches it and says when to refresh.  Everything is drawn into an off-screen buffer that is
// copied to the screen in one step.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "devices/RecordSpool.h"

class QScrollBar;

namespace kestrel {

enum TURMode : uint8_t { URMRDR = 0, URMPUN = 1, URMPRN = 2 };

class TUnitRecordDisplay : public QWidget {
  Q_OBJECT

 public:
  static constexpr int ScrollBarWidth = 18;

  explicit TUnitRecordDisplay(QWidget* parent = nullptr);

  // The list shown; not owned, may be none.  Nothing is redrawn until the next refresh.
  void SetRecords(const std::deque<std::string>* cards);
  void SetRecords(const std::vector<std::string>* lines);
  void SetRecords(const TRecordSpool* records);
  // The lock of the list's owner, taken whenever the list is read (the owner changes it on
  // another thread).  A paint copies the records it shows under it and draws them after.
  void SetLock(std::recursive_mutex* lock) { lock_ = lock; }
  // Which records (0-based) begin a page: a rule is drawn above each but the first, and a form
  // feed at the start of a record is not shown.  None when not set.
  void SetPageStarts(std::function<bool(size_t)> startsPage) {
    startsPage_ = std::move(startsPage);
  }
  // The mode sets the line width (132 for the printer, 80 for cards), then Relayout.
  void SetURMode(TURMode mode);
  TURMode URMode() const { return mode_; }
  // A new font recomputes the layout.
  void SetDisplayFont(const QFont& font);
  const QFont& DisplayFont() const { return font_; }

  // Measures the font, sizes the buffer and the component, sets the scroll bar, keeps the first
  // record drawn where it is and tells the parent window (DisplayResized).
  void Relayout();
  // Makes `record` (1-based, clamped) the first one drawn.
  void ScrollTo(int column, int record);
  // Scroll bar range to the records there are, then a repaint.
  void RefreshView();
  // Sets the scroll bar's position as if the operator had moved it.
  void ScrollToLine(int position);

  int LineWidth() const { return lineWidth_; }
  int CharWidth() const { return charWidth_; }
  int LineHeight() const { return lineHeight_; }
  int VisibleLines() const { return visibleLines_; }
  int TopRecord() const { return mode_ == URMRDR ? topReader_ : topOther_; }
  QScrollBar& ScrollBar() { return *scrollBar_; }
  const QPixmap& Buffer() const { return buffer_; }
  // The records the last paint drew, as (1-based record number, top of its line).
  const std::vector<std::pair<int, int>>& Drawn() const { return drawn_; }

 signals:
  // Posted to the parent window after a relayout: the component's width has changed.
  void DisplayResized();
  // The operator has moved the view (the scroll bar or the wheel).
  void Scrolled();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::unique_lock<std::recursive_mutex> Guard() const {
    return lock_ != nullptr ? std::unique_lock(*lock_) : std::unique_lock<std::recursive_mutex>();
  }
  bool HasRecords() const;
  size_t RecordCount() const;
  const std::string& Record(size_t index) const;  // 0-based
  void DrawBuffer();
  void ScrollBarChange(int position);

  TURMode mode_ = URMRDR;
  const std::deque<std::string>* cards_ = nullptr;
  const std::vector<std::string>* lines_ = nullptr;
  const TRecordSpool* spool_ = nullptr;
  QFont font_;
  int lineWidth_ = 80;
  int firstColumn_ = 1;
  int topReader_ = 1;  // bottom-up mode keeps its own first record
  int topOther_ = 0;   // 0 draws nothing until the first ScrollTo with a list
  int charWidth_ = 6;
  int lineHeight_ = 10;
  int ascent_ = 8;
  int visibleLines_ = 1;
  bool scrolling_ = false;
  QPixmap buffer_;
  std::vector<std::pair<int, int>> drawn_;
  QScrollBar* scrollBar_;
  std::function<bool(size_t)> startsPage_;
  std::recursive_mutex* lock_ = nullptr;
};

// The font the reader and printer windows give their displays: "Large" is 8 points, else 6.
QFont UnitRecordFont(bool large);

}  // namespace kestrel

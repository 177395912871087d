#include "gui/devices/URecDispForm.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

#include "gui/QtFixedFont.h"

namespace kestrel {

QFont UnitRecordFont(bool large) {
  return FixedPitchFont(large ? 8 : 6);
}

TUnitRecordDisplay::TUnitRecordDisplay(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("UnitRecord"));
  setFocusPolicy(Qt::StrongFocus);
  // The buffer covers every pixel, so the background is never erased on its own.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  font_ = FixedPitchFont(7);
  scrollBar_ = new QScrollBar(Qt::Vertical, this);
  scrollBar_->setFocusPolicy(Qt::NoFocus);
  scrollBar_->setSingleStep(1);
  scrollBar_->setMinimum(1);
  scrollBar_->setMaximum(1);
  connect(scrollBar_, &QScrollBar::valueChanged, this, &TUnitRecordDisplay::ScrollBarChange);
  resize(100, 100);
  Relayout();
}

void TUnitRecordDisplay::SetRecords(const std::deque<std::string>* cards) {
  cards_ = cards;
  lines_ = nullptr;
  spool_ = nullptr;
}

void TUnitRecordDisplay::SetRecords(const std::vector<std::string>* lines) {
  lines_ = lines;
  cards_ = nullptr;
  spool_ = nullptr;
}

void TUnitRecordDisplay::SetRecords(const TRecordSpool* records) {
  spool_ = records;
  cards_ = nullptr;
  lines_ = nullptr;
}

void TUnitRecordDisplay::SetURMode(TURMode mode) {
  mode_ = mode;
  lineWidth_ = mode == URMPRN ? 132 : 80;
  Relayout();
}

void TUnitRecordDisplay::SetDisplayFont(const QFont& font) {
  font_ = font;
  Relayout();
}

bool TUnitRecordDisplay::HasRecords() const {
  return cards_ != nullptr || lines_ != nullptr || spool_ != nullptr;
}

size_t TUnitRecordDisplay::RecordCount() const {
  if (cards_ != nullptr) return cards_->size();
  if (lines_ != nullptr) return lines_->size();
  if (spool_ != nullptr) return spool_->size();
  return 0;
}

const std::string& TUnitRecordDisplay::Record(size_t index) const {
  if (cards_ != nullptr) return (*cards_)[index];
  if (lines_ != nullptr) return (*lines_)[index];
  return (*spool_)[index];
}

void TUnitRecordDisplay::Relayout() {
  QFontMetrics metrics(font_);
  QSize wm = metrics.size(Qt::TextSingleLine, QStringLiteral("WM"));
  charWidth_ = std::max(1, wm.width() / 2);
  lineHeight_ = std::max(1, wm.height());
  ascent_ = metrics.ascent();
  int bufferWidth = charWidth_ * lineWidth_ + 2;
  setFixedWidth(bufferWidth + ScrollBarWidth);
  buffer_ = QPixmap(bufferWidth, std::max(1, height()));
  visibleLines_ = std::max(1, height() / lineHeight_);
  scrollBar_->setGeometry(bufferWidth, 0, ScrollBarWidth, height());
  scrollBar_->setSingleStep(1);
  scrollBar_->setPageStep(visibleLines_);
  scrollBar_->setMinimum(1);
  scrollBar_->setMaximum(visibleLines_);
  // A new font or height keeps the view on the records it showed (the first one at first).
  ScrollTo(1, std::max(TopRecord(), 1));
  // A post, as the parent's own message: it sets its width once this has returned.
  QMetaObject::invokeMethod(this, &TUnitRecordDisplay::DisplayResized, Qt::QueuedConnection);
}

void TUnitRecordDisplay::ScrollTo(int column, int record) {
  if (!HasRecords() || scrolling_) return;
  auto lock = Guard();
  scrolling_ = true;
  firstColumn_ = column;
  int count = static_cast<int>(std::min<size_t>(RecordCount(), 1u << 30));
  int maximum = std::max(count, 1);
  scrollBar_->setMaximum(maximum);
  record = std::min(record, count);
  if (record <= 0) record = 1;
  if (mode_ == URMRDR) {
    topReader_ = record;
    scrollBar_->setValue(maximum - record + 1);  // the bar runs the other way
  } else {
    topOther_ = record;
    scrollBar_->setValue(record);
  }
  scrolling_ = false;
  update();
}

void TUnitRecordDisplay::RefreshView() {
  auto lock = Guard();
  int count = static_cast<int>(std::min<size_t>(RecordCount(), 1u << 30));
  bool was = scrolling_;
  scrolling_ = true;  // a narrower range moves the bar; the view stays where it is
  scrollBar_->setMaximum(std::max(count, 1));
  // Bottom up, the bar's position counts from its far end: it keeps pointing at the first
  // record drawn when the pile grows or shrinks.
  if (mode_ == URMRDR) scrollBar_->setValue(scrollBar_->maximum() - topReader_ + 1);
  scrolling_ = was;
  update();
}

void TUnitRecordDisplay::ScrollToLine(int position) {
  scrollBar_->setValue(position);
}

void TUnitRecordDisplay::ScrollBarChange(int position) {
  if (scrolling_) return;  // moved by ScrollTo or a new range, not by the operator
  if (mode_ == URMRDR) {
    ScrollTo(firstColumn_, scrollBar_->maximum() - position + 1);
  } else {
    ScrollTo(firstColumn_, position);
  }
  emit Scrolled();
}

void TUnitRecordDisplay::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (event->size().height() != event->oldSize().height()) Relayout();
}

void TUnitRecordDisplay::DrawBuffer() {
  drawn_.clear();
  buffer_.fill(Qt::white);
  if (!HasRecords()) return;
  // The records shown, copied under the owner's lock, which is not held while drawing.
  struct TRow {
    int Record;
    int Y;
    bool Page;
    std::string Text;
  };
  std::vector<TRow> rows;
  {
    auto lock = Guard();
    const int count = static_cast<int>(std::min<size_t>(RecordCount(), 1u << 30));
    const int h = height();
    auto take = [&](int i, int y) {
      const std::string& full = Record(static_cast<size_t>(i - 1));
      const bool page = i > 1 && startsPage_ && startsPage_(static_cast<size_t>(i - 1));
      const size_t skip = !full.empty() && full[0] == '\f' ? 1 : 0;
      const size_t length = std::min<size_t>(full.size() - skip, 132);
      const size_t first = static_cast<size_t>(firstColumn_ - 1);
      std::string shown;
      if (first < length) {
        shown = full.substr(skip + first,
                            std::min<size_t>(static_cast<size_t>(lineWidth_), length - first));
      }
      rows.push_back({i, y, page, std::move(shown)});
    };
    if (mode_ == URMRDR) {
      // Bottom up: the front of the pile, the next card to be read, on the lowest line.
      int i = topReader_;
      for (int y = h - lineHeight_; y > 0 && i >= 1 && i <= count; y -= lineHeight_, ++i) {
        take(i, y);
      }
    } else {
      int i = std::min(topOther_, count);
      for (int y = 0; y <= h && i >= 1 && i <= count; y += lineHeight_, ++i)
        take(i, y);
    }
  }
  QPainter painter(&buffer_);
  // Every character takes exactly one cell: the spacing makes up the difference between the
  // font's own advance and the whole-pixel cell, so a line fills its columns at every size.
  QFont cellFont = font_;
  cellFont.setLetterSpacing(QFont::AbsoluteSpacing,
                            charWidth_ - QFontMetricsF(font_).horizontalAdvance(QLatin1Char('W')));
  painter.setFont(cellFont);
  painter.setPen(Qt::black);
  for (const TRow& row : rows) {
    if (row.Page) {
      painter.setPen(QPen(Qt::gray, 1, Qt::DashLine));
      painter.drawLine(0, row.Y, buffer_.width(), row.Y);
      painter.setPen(Qt::black);
    }
    painter.drawText(0, row.Y + ascent_, QString::fromLatin1(row.Text.data(), row.Text.size()));
    drawn_.emplace_back(row.Record, row.Y);
  }
}

void TUnitRecordDisplay::paintEvent(QPaintEvent* /*event*/) {
  if (buffer_.isNull()) return;
  DrawBuffer();
  QPainter painter(this);
  painter.drawPixmap(0, 0, buffer_);
}

}  // namespace kestrel

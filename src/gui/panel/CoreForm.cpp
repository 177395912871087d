#include "gui/panel/CoreForm.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QRegion>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

#include "gui/QtFixedFont.h"

namespace kestrel {

namespace {
const QColor WordMarkColour(157, 157, 255);
const QColor PopupColour(192, 192, 192);
const QColor BreakColour(220, 0, 0);
constexpr int PopupEdgeGap = 30;
}  // namespace

// ---- Drawing area ----------------------------------------------------------------------------

TCoreView::TCoreView(TCoreDisplay& display, QWidget* parent) : QWidget(parent), display_(display) {
  setObjectName(QStringLiteral("CoreView"));
  setAttribute(Qt::WA_OpaquePaintEvent);  // the buffer covers every pixel
  setFont(FixedPitchFontPixels(12));
  font_ = font();
  // The cell is the size of a "W", measured once.
  QFontMetrics metrics(font_);
  cellWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('W')));
  cellHeight_ = std::max(1, metrics.height());
  ascent_ = metrics.ascent();
  setMinimumWidth(LeftMargin + TCoreDisplay::Columns * cellWidth_);
}

QRect TCoreView::CellRect(int row, int column) const {
  return QRect(LeftMargin + column * cellWidth_, TopMargin + row * cellHeight_, cellWidth_,
               cellHeight_);
}

void TCoreView::DrawCell(QPainter& painter, int row, int column, uint16_t word) const {
  QRect cell = CellRect(row, column);
  painter.fillRect(cell, (word & CoreChar::WordMark) ? WordMarkColour : QColor(Qt::white));
  char c = BcdToChar(static_cast<uint8_t>(word & CoreChar::CodeMask));
  if (c != ' ') painter.drawText(cell.x(), cell.y() + ascent_, QString(QLatin1Char(c)));
  // A position with an address breakpoint is framed in red.
  if (const int32_t address = display_.AddressAt(row, column);
      address >= 0 && display_.Marked(static_cast<uint32_t>(address))) {
    painter.save();
    painter.setPen(QPen(BreakColour, 2));
    painter.drawRect(cell.adjusted(1, 1, -1, -1));
    painter.restore();
  }
}

int32_t TCoreView::AddressAtPoint(QPoint at) const {
  if (at.x() < LeftMargin || at.y() < TopMargin) return -1;
  return display_.AddressAt((at.y() - TopMargin) / cellHeight_, (at.x() - LeftMargin) / cellWidth_);
}

void TCoreView::ShowResult(QPoint at, const std::string& error) {
  if (!error.empty()) QToolTip::showText(mapToGlobal(at), QString::fromStdString(error), this);
  RequestFullPaint();
}

QString TCoreView::ToggleBreakAt(QPoint at) {
  const int32_t address = AddressAtPoint(at);
  if (address < 0 || display_.Debugger() == nullptr) return {};
  const std::string error = display_.ToggleBreak(static_cast<uint32_t>(address));
  ShowResult(at, error);
  return QString::fromStdString(error);
}

bool TCoreView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // Hovering a position shows its label, when symbols are loaded.
    auto* help = static_cast<QHelpEvent*>(event);
    const int32_t address = AddressAtPoint(help->pos());
    const std::string label =
        address < 0 ? std::string() : display_.LabelText(static_cast<uint32_t>(address));
    if (label.empty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), QString::fromStdString(label), this);
    }
    return true;
  }
  return QWidget::event(event);
}

void TCoreView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || display_.Debugger() == nullptr) {
    QWidget::mouseDoubleClickEvent(event);
    return;
  }
  popupText_.clear();
  ToggleBreakAt(event->position().toPoint());
}

void TCoreView::contextMenuEvent(QContextMenuEvent* event) {
  const int32_t address = AddressAtPoint(event->pos());
  if (address < 0 || display_.Debugger() == nullptr) return;
  popupText_.clear();
  RequestFullPaint();
  const QPoint at = event->pos();
  QMenu menu(this);
  const bool marked = display_.Marked(static_cast<uint32_t>(address));
  menu.addAction(marked ? QStringLiteral("Clear break here") : QStringLiteral("Break here"), this,
                 [this, at] { ToggleBreakAt(at); });
  menu.addAction(QStringLiteral("Watch here"), this, [this, at, address] {
    ShowResult(at, display_.WatchWrites(static_cast<uint32_t>(address)));
  });
  menu.exec(event->globalPos());
}

void TCoreView::RequestFullPaint() {
  fullDue_ = true;
  update();
}

void TCoreView::FullPaint() {
  if (buffer_.size() != size()) buffer_ = QPixmap(size());
  buffer_.fill(Qt::white);
  QPainter painter(&buffer_);
  painter.setFont(font_);
  painter.setPen(Qt::black);
  // The ruler's characters stand over their columns, one cell each.
  std::string ruler = TCoreDisplay::Ruler();
  for (int column = 0; column < TCoreDisplay::Columns; ++column) {
    painter.drawText(LeftMargin + column * cellWidth_, ascent_,
                     QString(QLatin1Char(ruler[static_cast<size_t>(column)])));
  }
  int rows = display_.DrawnRows();
  for (int row = 0; row < rows; ++row) {
    uint32_t first = display_.Base() + static_cast<uint32_t>(row) * TCoreDisplay::Columns;
    painter.drawText(0, TopMargin + row * cellHeight_ + ascent_,
                     QString::fromStdString(TCoreDisplay::RowLabel(first)));
  }
  lastFullCells_ = display_.DrawCells(
      true, [&](int row, int column, uint16_t word) { DrawCell(painter, row, column, word); });
  fullDue_ = false;
}

int TCoreView::Tick() {
  if (!isVisible() || fullDue_ || buffer_.size() != size()) return 0;
  QPainter painter(&buffer_);
  painter.setFont(font_);
  painter.setPen(Qt::black);
  QRegion dirty;
  int drawn = display_.DrawCells(false, [&](int row, int column, uint16_t word) {
    DrawCell(painter, row, column, word);
    dirty += CellRect(row, column);
  });
  painter.end();
  if (drawn > 0) update(dirty);
  return drawn;
}

void TCoreView::paintEvent(QPaintEvent* event) {
  if (fullDue_ || buffer_.size() != size()) FullPaint();
  QPainter painter(this);
  painter.drawPixmap(event->rect(), buffer_, event->rect());
  if (!popupText_.isEmpty()) {
    painter.setFont(font_);
    QRect box(popupPos_, QSize(QFontMetrics(font_).horizontalAdvance(popupText_), cellHeight_));
    painter.fillRect(box, PopupColour);
    painter.setPen(Qt::black);
    painter.drawText(box.x(), box.y() + ascent_, popupText_);
  }
}

void TCoreView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  display_.SetVisibleRows((height() - 20) / cellHeight_);
  emit RowsChanged();
  RequestFullPaint();
}

void TCoreView::mousePressEvent(QMouseEvent* event) {
  QPoint at = event->position().toPoint();
  if (at.x() < LeftMargin || at.y() < TopMargin) return;
  int row = (at.y() - TopMargin) / cellHeight_;
  int column = (at.x() - LeftMargin) / cellWidth_;
  int32_t address = display_.AddressAt(row, column);
  if (address < 0) return;  // right of column 99 or below the last drawn row
  popupText_ = QString::fromStdString(display_.PopupText(static_cast<uint32_t>(address)));
  int textWidth = QFontMetrics(font_).horizontalAdvance(popupText_);
  int x = at.x();
  if (x + textWidth > width() - PopupEdgeGap) x = at.x() - textWidth;
  popupPos_ = QPoint(std::max(0, x), std::max(0, (row - 1) * cellHeight_ + TopMargin));
  update();
}

void TCoreView::mouseReleaseEvent(QMouseEvent*) {
  if (popupText_.isEmpty()) return;
  popupText_.clear();
  RequestFullPaint();
}

// ---- Window ----------------------------------------------------------------------------------

TCoreForm::TCoreForm(TCoreStorage& core, QWidget* parent)
    : QWidget(parent, Qt::Window), display_(core) {
  setObjectName(QStringLiteral("CoreForm"));
  setWindowTitle(QStringLiteral("IBM 1401 Emulator - Core Storage"));
  view_ = new TCoreView(display_, this);
  SBBase = new QScrollBar(Qt::Vertical, this);
  SBBase->setObjectName(QStringLiteral("SBBase"));
  SBBase->setRange(0, TCoreDisplay::InitialScrollMaximum);
  SBBase->setPageStep(TCoreDisplay::ScrollPageStep);
  connect(SBBase, &QScrollBar::valueChanged, this, &TCoreForm::SBBaseChange);
  view_->installEventFilter(this);  // the wheel over the cells
  connect(view_, &TCoreView::RowsChanged, this, [this] {
    if (shownSize_ != 0) FitScrollRange();
  });

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(view_, 1);
  layout->addWidget(SBBase);

  int width = std::clamp(view_->minimumWidth() + SBBase->sizeHint().width() + 8, 775, 900);
  setMinimumSize(775, 100);
  setMaximumWidth(std::max(900, width));
  resize(width, 20 + 20 * view_->CellHeight());

  TIRefresh = new QTimer(this);
  TIRefresh->setObjectName(QStringLiteral("TIRefresh"));
  TIRefresh->setInterval(RefreshMs);
  connect(TIRefresh, &QTimer::timeout, this, &TCoreForm::TIRefreshTimer);
  TIRefresh->start();
}

void TCoreForm::FitScrollRange() {
  shownSize_ = display_.Core().Size();
  SBBase->setMaximum(display_.ScrollMaximum());
}

void TCoreForm::SetCoreSize(uint16_t size) {
  display_.Core().SetCoreSize(size);
  FitScrollRange();
  view_->RequestFullPaint();
}

void TCoreForm::ClearAndRedraw() {
  display_.Core().ClearCore();
  view_->RequestFullPaint();
}

void TCoreForm::CoreChanged() {
  FitScrollRange();
  view_->RequestFullPaint();
}

void TCoreForm::SetDebugger(TDebugger* debugger) {
  display_.SetDebugger(debugger);
  view_->RequestFullPaint();
}

int TCoreForm::TIRefreshTimer() {
  // Breakpoints set or cleared elsewhere (the list window, a script): the marks drawn again.
  if (display_.SyncMarks()) {
    view_->RequestFullPaint();
    return 0;
  }
  if (display_.Core().Size() != shownSize_) {
    FitScrollRange();
    view_->RequestFullPaint();
    return 0;
  }
  return view_->Tick();
}

bool TCoreForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::Wheel) {
    QCoreApplication::sendEvent(SBBase, event);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TCoreForm::SBBaseChange(int position) {
  display_.SetScrollPosition(position);
  view_->RequestFullPaint();
}

void TCoreForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // While hidden nothing was drawn; the changed bits kept what changed, but the rows shown may
  // be stale in other ways (a scroll, a resize), so start again from a full paint.
  view_->RequestFullPaint();
}

}  // namespace kestrel

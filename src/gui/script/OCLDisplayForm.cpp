#include "gui/script/OCLDisplayForm.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace kestrel {

namespace {
constexpr int MinWidth = 200;
constexpr int MinHeight = 100;

QColor ToQColor(uint32_t colour) {
  TRgb rgb = ColourRgb(colour);
  return QColor(rgb.Red, rgb.Green, rgb.Blue);
}

QFont ItemFont(TDisplayItemKind kind) {
  QFont font = QGuiApplication::font();
  font.setPointSize(9);
  font.setBold(kind == TDisplayItemKind::Option);
  return font;
}
}  // namespace

TOptionLabel::TOptionLabel(const QString& text, int number, QWidget* parent)
    : QLabel(text, parent), number_(number) {
  setCursor(Qt::PointingHandCursor);
}

void TOptionLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked(number_);
  }
}

TOCLDisplayForm::TOCLDisplayForm(TScriptDisplay& display, QWidget* parent)
    : QDialog(parent), display_(display) {
  setObjectName(QStringLiteral("OCLDisplayForm"));
  setWindowTitle(QString::fromLatin1(Caption));
  // A single fixed border, no title-bar buttons, on top of the other windows.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowStaysOnTopHint);
  setModal(false);
  setAutoFillBackground(true);
  setMinimumSize(MinWidth, MinHeight);

  PBContinue = new QPushButton(QStringLiteral("Continue"), this);
  PBContinue->setObjectName(QStringLiteral("PBContinue"));
  PBContinue->setAutoDefault(false);
  PBCancel = new QPushButton(QStringLiteral("Cancel"), this);
  PBCancel->setObjectName(QStringLiteral("PBCancel"));
  PBCancel->setAutoDefault(false);
  connect(PBContinue, &QPushButton::clicked, this, [this] { display_.Continue(); });
  connect(PBCancel, &QPushButton::clicked, this, [this] { display_.Cancel(); });
  display_.SetView(this);
}

TOCLDisplayForm::~TOCLDisplayForm() {
  display_.SetView(nullptr);
}

TItemSize TOCLDisplayForm::MeasureItem(const TDisplayItem& item) {
  QFontMetrics metrics(ItemFont(item.Kind));
  QSize size = metrics.size(Qt::TextSingleLine, QString::fromStdString(item.Text));
  return {size.width(), size.height()};
}

void TOCLDisplayForm::Rebuild() {
  for (QLabel* label : labels_)
    delete label;
  labels_.clear();

  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, ToQColor(display_.Background()));
  setPalette(palette);

  TDisplayLayout layout = display_.Layout(&TOCLDisplayForm::MeasureItem);
  for (const TPlacedItem& placed : layout.Items) {
    const TDisplayItem& item = placed.Item;
    QString text = QString::fromStdString(item.Text);
    QLabel* label = nullptr;
    if (item.Kind == TDisplayItemKind::Option) {
      auto* option = new TOptionLabel(text, item.Number, this);
      connect(option, &TOptionLabel::clicked, this,
              [this](int number) { display_.ChooseOption(number); });
      label = option;
    } else {
      label = new QLabel(text, this);
    }
    label->setFont(ItemFont(item.Kind));
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, ToQColor(item.Colour));
    label->setPalette(colours);
    label->setGeometry(placed.Left, placed.Top, placed.Size.Width, placed.Size.Height);
    label->show();
    labels_.push_back(label);
  }
  setFixedSize(std::max(layout.Width, MinWidth), std::max(layout.Height, MinHeight));
  PlaceButtons();
}

void TOCLDisplayForm::PlaceButtons() {
  // Both anchored to the bottom edge: Continue at the left, Cancel at the right.
  QSize continueSize = PBContinue->sizeHint();
  QSize cancelSize = PBCancel->sizeHint();
  PBContinue->setGeometry(ButtonGap, height() - ButtonGap - continueSize.height(),
                          continueSize.width(), continueSize.height());
  PBCancel->setGeometry(width() - ButtonGap - cancelSize.width(),
                        height() - ButtonGap - cancelSize.height(), cancelSize.width(),
                        cancelSize.height());
}

void TOCLDisplayForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  PlaceButtons();
}

void TOCLDisplayForm::DisplayShown() {
  Rebuild();
  PBContinue->setVisible(display_.ContinueShown());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

void TOCLDisplayForm::DisplayHidden() {
  hide();
}

void TOCLDisplayForm::closeEvent(QCloseEvent* event) {
  // Only the model hides the window; the script waits for Continue, an option or Cancel.
  if (display_.Visible()) {
    event->ignore();
  } else {
    event->accept();
  }
}

}  // namespace kestrel

#include "gui/devices/PrinterForm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrel {

TPrinterForm::TPrinterForm(TPrinter& printer, QWidget* parent)
    : QWidget(parent, Qt::Window), printer_(printer) {
  setObjectName(QStringLiteral("PrinterForm"));
  setWindowTitle(QString::fromLatin1(Caption));

  display_ = new TUnitRecordDisplay(this);
  display_->setObjectName(QStringLiteral("Printer"));
  display_->SetURMode(URMPRN);
  QFont font = display_->DisplayFont();
  font.setPixelSize(9);
  display_->SetDisplayFont(font);

  auto* lines = new QLabel(QStringLiteral("Lines:"), this);
  LALineCount = new QLabel(QStringLiteral("0"), this);
  LALineCount->setObjectName(QStringLiteral("LALineCount"));
  LALineCount->setToolTip(QStringLiteral("Number of lines printed"));
  LALineCount->setMinimumWidth(
      LALineCount->fontMetrics().horizontalAdvance(QStringLiteral("00000")));
  CBSize = new QCheckBox(QStringLiteral("Large"), this);
  CBSize->setObjectName(QStringLiteral("CBSize"));
  CBSize->setToolTip(QStringLiteral("Set display font size"));
  connect(CBSize, &QCheckBox::clicked, this, &TPrinterForm::CBSizeClick);
  CBChain = new QCheckBox(QStringLiteral("H chain"), this);
  CBChain->setObjectName(QStringLiteral("CBChain"));
  CBChain->setToolTip(
      QStringLiteral("Print with the FORTRAN (H) chain: = ' ( + ) for # @ % & and the lozenge"));
  CBChain->setChecked(printer_.Chain() == 'H');
  connect(CBChain, &QCheckBox::clicked, this, [this](bool h) { printer_.SetChain(h ? 'H' : 'A'); });

  BTTape = new QPushButton(QStringLiteral("Tape..."), this);
  BTTape->setObjectName(QStringLiteral("BTTape"));
  BTTape->setToolTip(QStringLiteral("Load a carriage control tape"));
  connect(BTTape, &QPushButton::clicked, this, &TPrinterForm::BTTapeClick);
  LATape = new QLabel(this);
  LATape->setObjectName(QStringLiteral("LATape"));

  bottom_ = new QWidget(this);
  auto* bottom = new QHBoxLayout(bottom_);
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->addWidget(CBSize);
  bottom->addWidget(BTTape);
  bottom->addWidget(LATape);
  bottom->addWidget(CBChain);
  bottom->addStretch(1);
  bottom->addWidget(lines);
  bottom->addWidget(LALineCount);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(display_, 1);
  layout->addWidget(bottom_);

  connect(display_, &TUnitRecordDisplay::DisplayResized, this,
          [this] { resize(display_->width() + 8, height()); });
  connect(display_, &TUnitRecordDisplay::Scrolled, this, [this] { following_ = AtEnd(); });
  const QScreen* screen = QGuiApplication::primaryScreen();
  resize(display_->width() + 8,
         DefaultHeight(screen != nullptr ? screen->availableGeometry().height() : 0));

  display_->SetLock(&printer_.Mutex());
  display_->SetRecords(&printer_.PrintList());
  display_->SetPageStarts([this](size_t index) { return printer_.StartsPage(index); });
  display_->ScrollTo(1, 1);
  printer_.SetRefreshListener([this] { throttle_.RequestFromAnyThread(); });
  // A new line scrolls a following window to the end: the paced refresh does that (and the
  // redraw of a line the processor printed on its thread).
  printer_.SetScrollListener([this] {
    if (QThread::currentThread() != thread()) {
      throttle_.RequestFromAnyThread();
    } else if (following_) {
      throttle_.Request([this] { ScrollToEnd(); });
    }
  });

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(RefreshMs);
  connect(Timer1, &QTimer::timeout, this, &TPrinterForm::Refresh);
  Timer1->start();
  Refresh();
}

TPrinterForm::~TPrinterForm() {
  printer_.SetRefreshListener(nullptr);
  printer_.SetScrollListener(nullptr);
}

int TPrinterForm::DefaultHeight(int screenHeight) const {
  // The margins and spacing of the layout, the bottom row, and a frame's worth to spare.
  const int around = 4 + 4 + 4 + bottom_->sizeHint().height() + 2;
  int lines = DefaultLines;
  if (screenHeight > 0) {
    lines = std::clamp((screenHeight * 2 / 3 - around) / display_->LineHeight(), 10, lines);
  }
  return lines * display_->LineHeight() + around;
}

bool TPrinterForm::AtEnd() const {
  auto lock = printer_.Lock();
  const int count = static_cast<int>(std::min<size_t>(printer_.LineCount(), 1u << 30));
  return display_->TopRecord() + display_->VisibleLines() > count;
}

void TPrinterForm::Refresh() {
  auto lock = printer_.Lock();
  printer_.FlushPrintFile();
  display_->RefreshView();
  if (following_ && !AtEnd()) ScrollToEnd();
  LALineCount->setText(QString::number(printer_.LineCount()));
  QString tape;
  if (printer_.HasCarriageTape()) {
    const std::string name = printer_.CarriageTapeName();
    tape = name.empty() ? QStringLiteral("usual tape")
                        : QFileInfo(QString::fromStdString(name)).fileName();
  }
  if (LATape->text() != tape) LATape->setText(tape);
  CBChain->setChecked(printer_.Chain() == 'H');  // a script or the start-up may have set it
}

std::string TPrinterForm::LoadTape(const std::string& fileName) {
  try {
    printer_.LoadCarriageTape(fileName);
  } catch (const std::exception& e) {
    return e.what();
  }
  Refresh();
  return {};
}

void TPrinterForm::BTTapeClick() {
  QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Carriage control tape"),
                                              QString(), QStringLiteral("All files (*)"));
  if (name.isEmpty()) return;
  std::string error = LoadTape(name.toStdString());
  if (!error.empty()) {
    QString text = QString::fromStdString(error);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox::warning(this, QString::fromLatin1(Caption), text);
  }
}

void TPrinterForm::ScrollToEnd() {
  auto lock = printer_.Lock();
  int count = static_cast<int>(std::min<size_t>(printer_.LineCount(), 1u << 30));
  // The newest line on the lowest whole line of the view, not just below it.
  display_->ScrollTo(1, count - display_->VisibleLines() + 1);
}

void TPrinterForm::CBSizeClick(bool large) {
  display_->SetDisplayFont(UnitRecordFont(large));  // keeps the first line shown
  Refresh();
}

}  // namespace kestrel

#include "devices/PrinterForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

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

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(CBSize);
  bottom->addStretch(1);
  bottom->addWidget(lines);
  bottom->addWidget(LALineCount);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(display_, 1);
  layout->addLayout(bottom);

  connect(display_, &TUnitRecordDisplay::DisplayResized, this,
          [this] { resize(display_->width() + 8, height()); });
  resize(display_->width() + 8, 320);

  display_->SetRecords(&printer_.PrintList());
  display_->ScrollTo(1, 1);
  printer_.SetRefreshListener([this] { Refresh(); });
  printer_.SetScrollListener([this] { ScrollToEnd(); });

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

void TPrinterForm::Refresh() {
  printer_.FlushPrintFile();
  display_->RefreshView();
  LALineCount->setText(QString::number(printer_.LineCount()));
}

void TPrinterForm::ScrollToEnd() {
  int count = static_cast<int>(printer_.LineCount());
  display_->ScrollTo(1, count - display_->VisibleLines());
}

void TPrinterForm::CBSizeClick(bool large) {
  display_->SetDisplayFont(UnitRecordFont(large));
  Refresh();
}

}  // namespace kestrel

#include "gui/panel/AboutForm.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "0.1"
#endif

namespace kestrel {

QString TAboutForm::VersionText() {
  return QStringLiteral("Version " KESTREL_VERSION);
}

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("About Kestrel"));
  setModal(true);

  LATitle = new QLabel(QStringLiteral("<b>Kestrel</b><br>IBM 1401 Emulator"), this);
  LATitle->setObjectName(QStringLiteral("LATitle"));
  LATitle->setAlignment(Qt::AlignCenter);
  LAVersion = new QLabel(VersionText(), this);
  LAVersion->setObjectName(QStringLiteral("LAVersion"));
  LAVersion->setAlignment(Qt::AlignCenter);
  auto* detail = new QLabel(
      QStringLiteral("The IBM 1401 with its 1402 card reader/punch, 1403 printer\n"
                     "and six 729 IV tape drives, driven by the Operator Control Language."),
      this);
  detail->setAlignment(Qt::AlignCenter);

  PBOK = new QPushButton(QStringLiteral("&OK"), this);
  PBOK->setObjectName(QStringLiteral("PBOK"));
  PBOK->setDefault(true);
  connect(PBOK, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 12);
  layout->addWidget(LATitle);
  layout->addWidget(LAVersion);
  layout->addSpacing(8);
  layout->addWidget(detail);
  layout->addSpacing(8);
  layout->addWidget(PBOK, 0, Qt::AlignHCenter);
  setFixedSize(sizeHint());
}

}  // namespace kestrel

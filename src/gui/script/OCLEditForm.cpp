#include "gui/script/OCLEditForm.h"

#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/QtFixedFont.h"
#include "gui/QtMessenger.h"

namespace kestrel {

TOCLEditForm::TOCLEditForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("OCLEditForm"));
  setWindowTitle(QStringLiteral("IBM Emulation - Edit Script"));
  MOText = new QPlainTextEdit(this);
  MOText->setObjectName(QStringLiteral("MOText"));
  MOText->setFont(FixedPitchFont(8));
  MOText->setLineWrapMode(QPlainTextEdit::NoWrap);

  PBSave = new QPushButton(QStringLiteral("&Save"), this);
  PBSave->setObjectName(QStringLiteral("PBSave"));
  PBSave->setEnabled(false);
  PBCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  PBCancel->setObjectName(QStringLiteral("PBCancel"));
  connect(PBSave, &QPushButton::clicked, this, &TOCLEditForm::PBSaveClick);
  connect(PBCancel, &QPushButton::clicked, this, &TOCLEditForm::PBCancelClick);
  // Only the operator's changes count: loading the text resets the document's modified flag.
  connect(MOText->document(), &QTextDocument::modificationChanged, PBSave,
          &QPushButton::setEnabled);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(PBSave);
  buttons->addStretch(1);
  buttons->addWidget(PBCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MOText, 1);
  layout->addLayout(buttons);

  resize(613, 437);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(613 / 2, 437 / 2));
  }
}

void TOCLEditForm::ShowScript(const std::string& fileName) {
  fileName_ = QString::fromStdString(fileName);
  setWindowTitle(QString::fromLatin1(CaptionPrefix) + fileName_);
  Empty();
  show();
  raise();
  QFile file(fileName_);
  if (!file.open(QIODevice::ReadOnly)) {
    TQtMessenger::ShowErrorBox("Cannot open file \"" + fileName + "\". " +
                               file.errorString().toStdString());
    return;
  }
  QString text = QString::fromLatin1(file.readAll());
  crlf_ = text.contains(QStringLiteral("\r\n"));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  MOText->setPlainText(text);
  MOText->document()->setModified(false);
}

void TOCLEditForm::PBSaveClick() {
  if (MOText->document()->isModified()) {
    QString text = MOText->toPlainText();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
    if (crlf_) text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QFile file(fileName_);
    QByteArray bytes = text.toLatin1();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
      TQtMessenger::ShowErrorBox("Cannot write file \"" + fileName_.toStdString() + "\". " +
                                 file.errorString().toStdString());
      return;
    }
  }
  PBCancelClick();
}

void TOCLEditForm::PBCancelClick() {
  Empty();
  hide();
}

void TOCLEditForm::Empty() {
  MOText->clear();
  MOText->document()->setModified(false);
  PBSave->setEnabled(false);
}

}  // namespace kestrel

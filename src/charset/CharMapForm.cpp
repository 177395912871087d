#include "charset/CharMapForm.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrel {

namespace {
QFont FixedFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(9);
  return font;
}
}  // namespace

TCharMapForm::TCharMapForm(TCharMap& charMap, QWidget* parent)
    : QWidget(parent, Qt::Window), charMap_(charMap) {
  setObjectName(QStringLiteral("CharMapForm"));
  setWindowTitle(QString::fromLatin1(Caption));

  auto* source = new QLabel(QStringLiteral("Source of Character mappings: "), this);
  RBUseCMC = new QRadioButton(QStringLiteral("CMC file"), this);
  RBUseCMC->setObjectName(QStringLiteral("RBUseCMC"));
  RBUseCMC->setChecked(true);
  RBUseEBM = new QRadioButton(QStringLiteral("Map below"), this);
  RBUseEBM->setObjectName(QStringLiteral("RBUseEBM"));
  connect(RBUseCMC, &QRadioButton::clicked, this, &TCharMapForm::SourceClick);
  connect(RBUseEBM, &QRadioButton::clicked, this, &TCharMapForm::SourceClick);

  QFont fixed = FixedFont();
  EBCharMap = new QLineEdit(this);
  EBCharMap->setObjectName(QStringLiteral("EBCharMap"));
  EBCharMap->setFont(fixed);
  EBCharMap->setMaxLength(static_cast<int>(TMapping::Size));
  EBCharMap->setEnabled(false);
  EBCharMap->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QString(66, QLatin1Char('W'))));
  // Each change goes into the mapping string at once, without padding or the duplicate check.
  connect(EBCharMap, &QLineEdit::textEdited, this,
          [this](const QString& text) { charMap_.SetMappingText(text.toLatin1().toStdString()); });

  LBCharMap = new QListWidget(this);
  LBCharMap->setObjectName(QStringLiteral("LBCharMap"));
  LBCharMap->setFont(fixed);
  LBCharMap->setUniformItemSizes(true);

  auto* top = new QHBoxLayout;
  top->addWidget(source);
  top->addWidget(RBUseCMC);
  top->addWidget(RBUseEBM);
  top->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(top);
  layout->addWidget(EBCharMap);
  layout->addWidget(LBCharMap, 1);
  resize(EBCharMap->minimumWidth() + 12, 480);

  charMap_.SetChangeListener([this] { ModelChanged(); });
  ModelChanged();
}

TCharMapForm::~TCharMapForm() {
  charMap_.SetChangeListener(nullptr);
}

void TCharMapForm::ModelChanged() {
  const std::vector<std::string>& report = charMap_.Report();
  LBCharMap->clear();
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(report.size()));
  for (const std::string& line : report)
    lines.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
  LBCharMap->addItems(lines);
  if (charMap_.Shown() != isVisible()) {
    following_ = true;
    setVisible(charMap_.Shown());
    following_ = false;
  }
}

void TCharMapForm::SourceClick() {
  // Only the edit line follows the choice; the loader's use of the control file stays as it is.
  EBCharMap->setEnabled(RBUseEBM->isChecked());
}

void TCharMapForm::FormActivate() {
  EBCharMap->setText(QString::fromLatin1(charMap_.MappingString()));
}

void TCharMapForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TCharMapForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormActivate();
  if (!following_ && !charMap_.Shown()) charMap_.SetShown(true);
}

void TCharMapForm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!following_ && charMap_.Shown() && !isVisible()) charMap_.SetShown(false);
}

}  // namespace kestrel

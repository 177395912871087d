#include "gui/charset/CharMapForm.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "gui/QtFixedFont.h"

namespace kestrel {

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

  auto* conventionLabel = new QLabel(QStringLiteral("Decks are in: "), this);
  CBConvention = new QComboBox(this);
  CBConvention->setObjectName(QStringLiteral("CBConvention"));
  CBConvention->setToolTip(QStringLiteral("Read the next decks in this convention"));
  CBConvention->addItem(QStringLiteral("the convention the CMC file gives each deck"));
  for (const TCharConvention& convention : CharConventions) {
    CBConvention->addItem(QString::fromLatin1(convention.Title.data(),
                                              static_cast<qsizetype>(convention.Title.size())));
  }
  connect(CBConvention, &QComboBox::currentIndexChanged, this, &TCharMapForm::ConventionChange);

  QFont fixed = FixedPitchFont(9);
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
  auto* conventionRow = new QHBoxLayout;
  conventionRow->addWidget(conventionLabel);
  conventionRow->addWidget(CBConvention);
  conventionRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(top);
  layout->addLayout(conventionRow);
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

void TCharMapForm::ConventionChange(int index) {
  const bool named = index >= 1 && index <= static_cast<int>(CharConventions.size());
  charMap_.SetConvention(named ? &CharConventions[static_cast<size_t>(index - 1)] : nullptr);
}

void TCharMapForm::FormActivate() {
  EBCharMap->setText(QString::fromLatin1(charMap_.MappingString()));
  // A script may have chosen a convention since.
  const TCharConvention* chosen = charMap_.Convention();
  QSignalBlocker quiet(CBConvention);
  CBConvention->setCurrentIndex(
      chosen == nullptr ? 0 : static_cast<int>(chosen - CharConventions.data()) + 1);
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

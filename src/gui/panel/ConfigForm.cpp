#include "gui/panel/ConfigForm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrel {

TConfigForm::TConfigForm(TConfiguration& config, QWidget* parent)
    : QDialog(parent), config_(config) {
  setObjectName(QStringLiteral("ConfigForm"));
  setWindowTitle(QStringLiteral("Kestrel Emulator Configuration"));
  setModal(true);

  auto* general = new QGroupBox(QStringLiteral("General"), this);
  Label1 = new QLabel(QStringLiteral("Script to execute at startup:-"), general);
  Label1->setObjectName(QStringLiteral("Label1"));
  EBPOSName = new QLineEdit(QStringLiteral("PowerOn.OCL"), general);
  EBPOSName->setObjectName(QStringLiteral("EBPOSName"));
  EBPOSName->setMinimumWidth(260);
  connect(EBPOSName, &QLineEdit::textEdited, this,
          [this](const QString& text) { config_.EBPOSName = text.toStdString(); });
  PBBrowse = new QPushButton(QStringLiteral("&Browse"), general);
  PBBrowse->setObjectName(QStringLiteral("PBBrowse"));
  PBBrowse->setAutoDefault(false);
  connect(PBBrowse, &QPushButton::clicked, this, &TConfigForm::PBBrowseClick);
  auto* generalGrid = new QGridLayout(general);
  generalGrid->addWidget(Label1, 0, 0, 1, 2);
  generalGrid->addWidget(EBPOSName, 1, 0);
  generalGrid->addWidget(PBBrowse, 1, 1);

  auto* sizes = new QGroupBox(QStringLiteral("Core Size"), this);
  auto* sizeGrid = new QGridLayout(sizes);
  for (size_t i = 0; i < RBCS.size(); ++i) {
    int size = TConfiguration::Sizes[i];
    auto* button = new QRadioButton(QString::number(size), sizes);
    button->setObjectName(QStringLiteral("RBCS") + QString::number(i + 1));
    button->setProperty("tag", size);
    connect(button, &QRadioButton::clicked, this, [this, size] { config_.SelectCoreSize(size); });
    RBCS[i] = button;
    sizeGrid->addWidget(button, static_cast<int>(i % 3), static_cast<int>(i / 3));
  }
  CBCoreInitCheck =
      new QCheckBox(QStringLiteral("Check for reads from uninitialized core locations"), this);
  CBCoreInitCheck->setObjectName(QStringLiteral("CBCoreInitCheck"));
  connect(CBCoreInitCheck, &QCheckBox::clicked, this,
          [this](bool on) { config_.CBCoreInitCheck = on; });

  auto* features = new QGroupBox(QStringLiteral("Features"), this);
  auto* featureGrid = new QGridLayout(features);
  for (size_t i = 0; i < CBFeature.size(); ++i) {
    const TFeatureName& f = FeatureNames[i];
    auto* box = new QCheckBox(QString::fromUtf8(f.Caption), features);
    box->setObjectName(QStringLiteral("CB") + QString::fromUtf8(f.Key));
    const TFeature feature = f.Feature;
    connect(box, &QCheckBox::clicked, this, [this, feature](bool on) {
      config_.CBFeatures = static_cast<TFeatureSet>(on ? config_.CBFeatures | feature
                                                       : config_.CBFeatures & ~feature);
    });
    CBFeature[i] = box;
    featureGrid->addWidget(box, static_cast<int>(i % 3), static_cast<int>(i / 3));
  }

  PBOK = new QPushButton(QStringLiteral("&OK"), this);
  PBOK->setObjectName(QStringLiteral("PBOK"));
  PBOK->setDefault(true);
  connect(PBOK, &QPushButton::clicked, this, &TConfigForm::PBOKClick);
  PBCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  PBCancel->setObjectName(QStringLiteral("PBCancel"));
  PBCancel->setAutoDefault(false);
  connect(PBCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(PBOK);
  buttons->addWidget(PBCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(general);
  layout->addWidget(sizes);
  layout->addWidget(CBCoreInitCheck);
  layout->addWidget(features);
  layout->addLayout(buttons);
  ShowSettings();
}

int TConfigForm::exec() {
  config_.LoadConfiguration();
  ShowSettings();
  return QDialog::exec();
}

void TConfigForm::ShowSettings() {
  EBPOSName->setText(QString::fromStdString(config_.EBPOSName));
  CBCoreInitCheck->setChecked(config_.CBCoreInitCheck);
  for (size_t i = 0; i < CBFeature.size(); ++i)
    CBFeature[i]->setChecked((config_.CBFeatures & FeatureNames[i].Feature) != 0);
  // No size selected (a size in the file that is not one of the six): no button is checked.
  for (QRadioButton* button : RBCS)
    button->setAutoExclusive(false);
  for (QRadioButton* button : RBCS) {
    button->setChecked(button->property("tag").toInt() == config_.SelectedCoreSize());
  }
  for (QRadioButton* button : RBCS)
    button->setAutoExclusive(true);
}

void TConfigForm::PBBrowseClick() {
  QFileDialog dialog(this, QStringLiteral("Script to execute at startup"));
  dialog.setNameFilters({QStringLiteral("Operator Control Language scripts (*.OCL)"),
                         QStringLiteral("Any File (*)")});
  dialog.setDefaultSuffix(QStringLiteral("OCL"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  EBPOSName->setText(dialog.selectedFiles().front());
  config_.EBPOSName = EBPOSName->text().toStdString();
}

void TConfigForm::PBOKClick() {
  config_.EBPOSName = EBPOSName->text().toStdString();
  config_.CBCoreInitCheck = CBCoreInitCheck->isChecked();
  config_.CBFeatures = 0;
  for (size_t i = 0; i < CBFeature.size(); ++i) {
    if (CBFeature[i]->isChecked()) config_.CBFeatures |= FeatureNames[i].Feature;
  }
  if (!config_.SaveConfiguration()) {
    // The settings are applied all the same; the operator should know they will not last.
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("The settings could not be written to ") +
                             QString::fromStdString(config_.Path()));
  }
  accept();
}

}  // namespace kestrel

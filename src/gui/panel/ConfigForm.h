// The configuration dialog: a view of the configuration model.  Every showing starts by loading
// the settings file, so what Cancel leaves behind is forgotten; OK saves and applies.
#pragma once

#include <QDialog>
#include <array>
#include <iterator>

#include "machine/KestCnfg.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

class TConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit TConfigForm(TConfiguration& config, QWidget* parent = nullptr);

  // LoadConfiguration, then the modal dialog.
  int exec() override;
  // Shows what the model holds.
  void ShowSettings();

  QLabel* Label1 = nullptr;
  QLineEdit* EBPOSName = nullptr;
  QPushButton* PBBrowse = nullptr;
  std::array<QRadioButton*, 6> RBCS{};  // RBCS1 .. RBCS6
  QCheckBox* CBCoreInitCheck = nullptr;
  // The "Features" group: CBMultiplyDivide, CBMoveRecord, CBBitTest, CBExpandedPrintEdit,
  // CBBinaryCode, in the order of FeatureNames.
  std::array<QCheckBox*, std::size(FeatureNames)> CBFeature{};
  QPushButton* PBOK = nullptr;
  QPushButton* PBCancel = nullptr;

 private:
  void PBBrowseClick();
  void PBOKClick();

  TConfiguration& config_;
};

}  // namespace kestrel

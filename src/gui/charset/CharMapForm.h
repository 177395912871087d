// The character set processor window: where a card file's mapping comes from ("CMC file" or
// "Map below" with the edit line), a common convention chosen by name in place of the control
// file, and the character usage report of the last load in a
// fixed-pitch list.  A view of `TCharMap`, which also says when the window is to be shown (a card
// with an unmapped character) and hidden (a load that succeeds).
#pragma once

#include <QWidget>

#include "charset/IBMChars.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace kestrel {

class TCharMapForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* Caption = "IBM Emulation - Character Set Processor";

  explicit TCharMapForm(TCharMap& charMap, QWidget* parent = nullptr);
  ~TCharMapForm() override;

  // The report and the shown state from the model.
  void ModelChanged();
  // Each activation: the edit line shows the current mapping string.
  void FormActivate();

  QRadioButton* RBUseCMC = nullptr;
  QRadioButton* RBUseEBM = nullptr;
  // Entry 0: the control file decides; then one entry per convention, in CharConventions order.
  QComboBox* CBConvention = nullptr;
  QLineEdit* EBCharMap = nullptr;
  QListWidget* LBCharMap = nullptr;

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void SourceClick();
  void ConventionChange(int index);

  TCharMap& charMap_;
  bool following_ = false;  // the window is being shown or hidden by the model
};

}  // namespace kestrel

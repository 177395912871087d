// The printer window: the print list in a unit record display, top-down, with the line count.
// A view of `TPrinter`; a 250 ms timer keeps it up to date also while Turbo skips the refresh
// after each operation.
#pragma once

#include <QWidget>

#include "devices/IBM1403.h"
#include "devices/URecDispForm.h"

class QCheckBox;
class QLabel;
class QTimer;

namespace kestrel {

class TPrinterForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* Caption = "IBM Emulation - 1403 Printer";
  static constexpr int RefreshMs = 250;

  explicit TPrinterForm(TPrinter& printer, QWidget* parent = nullptr);
  ~TPrinterForm() override;

  void CBSizeClick(bool large);
  // The display and the line count.
  void Refresh();
  // The newest lines into view.
  void ScrollToEnd();

  TUnitRecordDisplay& Printer() { return *display_; }

  QLabel* LALineCount = nullptr;
  QCheckBox* CBSize = nullptr;
  QTimer* Timer1 = nullptr;

 private:
  TPrinter& printer_;
  TUnitRecordDisplay* display_;
};

}  // namespace kestrel

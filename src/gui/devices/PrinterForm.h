// The printer window: the print list in a unit record display, top-down, with the line count.
// A view of `TPrinter`; a 250 ms timer keeps it up to date also while Turbo skips the refresh
// after each operation.
#pragma once

#include <QWidget>

#include "devices/IBM1403.h"
#include "gui/RedrawThrottle.h"
#include "gui/devices/URecDispForm.h"

class QCheckBox;
class QPushButton;
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

  // Lines the window shows at its default size, where the screen has room.
  static constexpr int DefaultLines = 44;

  void CBSizeClick(bool large);
  // "Tape...": a carriage tape file for the printer; one that is refused leaves the tape.
  void BTTapeClick();
  // Loads the carriage tape file (the usual tape for an empty name); returns the error, if any,
  // which the button shows in a box.
  std::string LoadTape(const std::string& fileName);
  // The display and the line count; the newest line into view while the view follows it.
  void Refresh();
  // The newest lines into view, the newest on the lowest line.
  void ScrollToEnd();
  // Whether the view follows the newest line: it does until the operator scrolls away from the
  // end, and again once the operator scrolls back to it.
  bool Following() const { return following_; }
  // The window's height at start: DefaultLines lines, or what two thirds of the screen hold.
  int DefaultHeight(int screenHeight) const;

  TUnitRecordDisplay& Printer() { return *display_; }

  QLabel* LALineCount = nullptr;
  QCheckBox* CBSize = nullptr;
  QPushButton* BTTape = nullptr;
  QLabel* LATape = nullptr;
  QCheckBox* CBChain = nullptr;  // the print chain: ticked for H, else A
  QTimer* Timer1 = nullptr;

 private:
  bool AtEnd() const;

  TPrinter& printer_;
  TUnitRecordDisplay* display_;
  QWidget* bottom_ = nullptr;
  bool following_ = true;
  // The refreshes the device asks for while it works, at most 30 a second.
  TRedrawThrottle throttle_{[this] {
                              Refresh();
                              if (following_) ScrollToEnd();
                            },
                            [this] { return printer_.ProcessorRunning(); }};
};

}  // namespace kestrel

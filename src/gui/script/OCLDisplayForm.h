// The script message window: the items a DISPLAY statement or a failed IARCHECK composed, placed
// by the model's rules with the platform's font metrics, the Continue and Cancel buttons, and
// clickable options.  It stays on top, cannot be closed from its title bar, and answers the
// waiting script only through its buttons and options.
#pragma once

#include <QDialog>
#include <QLabel>
#include <vector>

#include "script/KestDOCL.h"

class QPushButton;

namespace kestrel {

// An option item: bold, the option colour, a hand cursor, and a click.
class TOptionLabel : public QLabel {
  Q_OBJECT

 public:
  TOptionLabel(const QString& text, int number, QWidget* parent);
  int Number() const { return number_; }

 signals:
  void clicked(int number);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int number_;
};

class TOCLDisplayForm : public QDialog, public IScriptDisplayView {
  Q_OBJECT

 public:
  static constexpr const char* Caption = "IBM Emulation OCL Script";
  static constexpr int ButtonGap = 10;

  explicit TOCLDisplayForm(TScriptDisplay& display, QWidget* parent = nullptr);
  ~TOCLDisplayForm() override;

  // ---- IScriptDisplayView ----
  void DisplayShown() override;
  void DisplayHidden() override;

  // The size of an item's label in its font.
  static TItemSize MeasureItem(const TDisplayItem& item);
  const std::vector<QLabel*>& ItemLabels() const { return labels_; }

  QPushButton* PBContinue = nullptr;
  QPushButton* PBCancel = nullptr;

 public slots:
  // Escape does not close the window: the script waits for an answer.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Rebuild();
  void PlaceButtons();

  TScriptDisplay& display_;
  std::vector<QLabel*> labels_;
};

}  // namespace kestrel

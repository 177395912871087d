// The About box: the program's title and version, and an OK button.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kestrel {

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr);
  static QString VersionText();

 private:
  QLabel* LATitle;
  QLabel* LAVersion;
  QPushButton* PBOK;
};

}  // namespace kestrel

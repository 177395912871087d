// The tape units window: six drive panels stacked top to bottom, each a view of one `TTapeDrive`
// (its labels, lights, progress bar and buttons).  The panel buttons forward to the drive; a
// drive error from a button is shown in the error box and leaves the processor as it was.
#pragma once

#include <QFrame>
#include <QWidget>
#include <array>
#include <functional>

#include "devices/IBM729IV.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrel {

class TTapeDrivePanel : public QFrame {
  Q_OBJECT

 public:
  static constexpr int PanelWidth = 310;
  static constexpr int PanelHeight = 55;

  TTapeDrivePanel(TTapeDrive& drive, QWidget* parent = nullptr);

  // Shows the drive's panel state.
  void ShowPanel(const TTapePanel& panel);
  TTapeDrive& Drive() { return drive_; }

  // Open, once the dialog has chosen a file.
  void OpenFile(const QString& fileName);

  QLabel* LAUnit = nullptr;
  QLabel* LAName = nullptr;
  QLabel* LAPosn = nullptr;
  QLabel* LASize = nullptr;
  QCheckBox* CBWP = nullptr;
  QLabel* PNIndicate = nullptr;
  QProgressBar* PBPosition = nullptr;
  QPushButton* PBOpen = nullptr;
  QPushButton* PBMont = nullptr;
  QPushButton* PBDMnt = nullptr;
  QPushButton* PBLoad = nullptr;
  QPushButton* PBSave = nullptr;

 private:
  void PBOpenClick();
  // Runs a button's drive operation; a drive error goes to the error box.
  void Guarded(const std::function<void()>& action);

  TTapeDrive& drive_;
};

class TTapeUnitForm : public QWidget {
  Q_OBJECT

 public:
  explicit TTapeUnitForm(TTapeUnits& units, QWidget* parent = nullptr);
  ~TTapeUnitForm() override;

  // Every drive's panel drawn again from its drive.
  void Refresh();
  // Drive 1 to 6.
  TTapeDrivePanel& TapeDrive(int unit) { return *panels_.at(static_cast<size_t>(unit - 1)); }

 private:
  TTapeUnits& units_;
  std::array<TTapeDrivePanel*, TTapeUnits::DriveCount> panels_{};
};

}  // namespace kestrel

#include "gui/devices/TapeUnitForm.h"
#include "gui/QtControls.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "gui/QtFixedFont.h"
#include "gui/QtMessenger.h"

namespace kestrel {

namespace {
const QColor PanelColour(207, 239, 254);

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, const char* hint,
                  QRect geometry) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setToolTip(QString::fromLatin1(hint));
  label->setGeometry(geometry);
  return label;
}

// A panel button: the row of buttons sits at y 30, each 46 wide.
QPushButton* MakePanelButton(QWidget* parent, const char* name, const char* caption,
                             const char* hint, int x) {
  QPushButton* button = MakeButton(parent, name, caption, hint);
  button->setGeometry(x, 30, 46, 22);
  button->setStyleSheet(QStringLiteral("QPushButton { padding: 0px; }"));
  return button;
}
}  // namespace

// ---- One drive's panel -----------------------------------------------------------------------

TTapeDrivePanel::TTapeDrivePanel(TTapeDrive& drive, QWidget* parent)
    : QFrame(parent), drive_(drive) {
  setObjectName(QStringLiteral("TapeDrive%1").arg(drive.UnitNumber()));
  setFixedSize(PanelWidth, PanelHeight);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, PanelColour);
  palette.setColor(QPalette::WindowText, Qt::black);
  setPalette(palette);
  setFont(FixedPitchFont(8));

  LAUnit = MakeLabel(this, "LAUnit", "", "Tape unit number", QRect(4, 4, 22, 22));
  LAUnit->setText(QString::number(drive.UnitNumber()));
  LAUnit->setAlignment(Qt::AlignCenter);
  LAUnit->setAutoFillBackground(true);
  QFont unitFont(QStringLiteral("Arial"), 9, QFont::Bold);
  LAUnit->setFont(unitFont);
  QPalette unitPalette = LAUnit->palette();
  unitPalette.setColor(QPalette::Window, QColor(0, 0, 128));
  unitPalette.setColor(QPalette::WindowText, Qt::yellow);
  LAUnit->setPalette(unitPalette);

  LAName = MakeLabel(this, "LAName", "TAPENAME", "Name of tape image file mounted",
                     QRect(30, 2, 110, 14));
  LAPosn = MakeLabel(this, "LAPosn", "POSN99999", "Current tape position", QRect(142, 2, 78, 14));
  LASize = MakeLabel(this, "LASize", "SIZE99999", "Size of tape image", QRect(222, 2, 84, 14));
  PBPosition = new QProgressBar(this);
  PBPosition->setObjectName(QStringLiteral("PBPosition"));
  PBPosition->setToolTip(QStringLiteral("Current tape position"));
  PBPosition->setRange(0, 100);
  PBPosition->setTextVisible(false);
  PBPosition->setGeometry(30, 18, 190, 8);
  PNIndicate =
      MakeLabel(this, "PNIndicate", "INDICATE", "\"Tape Indicate\" light", QRect(222, 16, 84, 12));
  PNIndicate->setAlignment(Qt::AlignCenter);
  PNIndicate->setAutoFillBackground(true);
  QPalette light = PNIndicate->palette();
  light.setColor(QPalette::Window, Qt::yellow);
  PNIndicate->setPalette(light);

  PBOpen = MakePanelButton(this, "PBOpen", "Open", "Select tape image file to be mounted", 30);
  PBMont = MakePanelButton(this, "PBMont", "Mount", "Re-Mount current tape image", 77);
  PBDMnt = MakePanelButton(this, "PBDMnt", "DisMnt", "Unload tape image", 124);
  PBLoad = MakePanelButton(this, "PBLoad", "Load", "Load tape record to core storage", 171);
  PBSave = MakePanelButton(this, "PBSave", "Save", "Save data to tape image file", 218);
  CBWP = new QCheckBox(QStringLiteral("WP"), this);
  CBWP->setObjectName(QStringLiteral("CBWP"));
  CBWP->setToolTip(QStringLiteral("Write protect status"));
  CBWP->setGeometry(266, 32, 42, 18);

  connect(PBOpen, &QPushButton::clicked, this, &TTapeDrivePanel::PBOpenClick);
  connect(PBMont, &QPushButton::clicked, this,
          [this] { Guarded([this] { drive_.PBMontClick(); }); });
  connect(PBDMnt, &QPushButton::clicked, this,
          [this] { Guarded([this] { drive_.PBDMntClick(); }); });
  connect(PBLoad, &QPushButton::clicked, this,
          [this] { Guarded([this] { drive_.PBLoadClick(); }); });
  connect(PBSave, &QPushButton::clicked, this,
          [this] { Guarded([this] { drive_.PBSaveClick(); }); });
  connect(CBWP, &QCheckBox::clicked, this,
          [this](bool on) { Guarded([this, on] { drive_.CBWPClick(on); }); });
  ShowPanel(drive_.Panel());
}

void TTapeDrivePanel::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    TQtMessenger::ShowErrorBox(e.what());
  }
  ShowPanel(drive_.Panel());
}

void TTapeDrivePanel::ShowPanel(const TTapePanel& panel) {
  LAUnit->setText(QString::fromStdString(
      panel.UnitText.empty() ? std::to_string(drive_.UnitNumber()) : panel.UnitText));
  QString name = QString::fromStdString(panel.NameText);
  LAName->setText(LAName->fontMetrics().elidedText(name, Qt::ElideRight, LAName->width()));
  LAName->setToolTip(name.isEmpty() ? QStringLiteral("Name of tape image file mounted") : name);
  LAPosn->setText(QString::fromStdString(panel.PositionText));
  LASize->setText(QString::fromStdString(panel.SizeText));
  PBPosition->setValue(panel.Progress);
  PNIndicate->setVisible(panel.IndicateVisible);
  CBWP->setChecked(panel.WriteProtect);
  for (QWidget* w : {static_cast<QWidget*>(LAPosn), static_cast<QWidget*>(LASize),
                     static_cast<QWidget*>(PBPosition), static_cast<QWidget*>(CBWP)}) {
    w->setVisible(panel.DetailsVisible);
  }
  PBOpen->setEnabled(panel.OpenEnabled);
  PBMont->setEnabled(panel.MountEnabled);
  PBDMnt->setEnabled(panel.DisMntEnabled);
  PBLoad->setEnabled(panel.LoadEnabled);
  PBSave->setEnabled(panel.SaveEnabled);
}

void TTapeDrivePanel::PBOpenClick() {
  QFileDialog dialog(this, QStringLiteral("Open"), QString::fromStdString(drive_.TapeDirectory));
  dialog.setNameFilters({QStringLiteral("Tape files (*.BCD *.BIN *.MT *.TAP *.P7B)"),
                         QStringLiteral("All files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("BCD"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    OpenFile(dialog.selectedFiles().front());
  }
}

void TTapeDrivePanel::OpenFile(const QString& fileName) {
  Guarded([&] { drive_.PBOpenClick(fileName.toStdString()); });
}

// ---- The window ------------------------------------------------------------------------------

TTapeUnitForm::TTapeUnitForm(TTapeUnits& units, QWidget* parent)
    : QWidget(parent, Qt::Window), units_(units) {
  setObjectName(QStringLiteral("TapeUnitForm"));
  setWindowTitle(QString::fromLatin1(TTapeUnits::Caption));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(2);
  for (int unit = 1; unit <= TTapeUnits::DriveCount; ++unit) {
    auto* panel = new TTapeDrivePanel(units_.Drive(unit), this);
    panels_[static_cast<size_t>(unit - 1)] = panel;
    layout->addWidget(panel);
  }
  layout->setSizeConstraint(QLayout::SetFixedSize);
  units_.OnPanelChanged = [this](const TTapeDrive& drive) {
    TapeDrive(drive.UnitNumber()).ShowPanel(drive.Panel());
  };
  // Loaded: every drive shows its panel.
  for (int unit = 1; unit <= TTapeUnits::DriveCount; ++unit)
    units_.Drive(unit).UpdatePanel();
}

void TTapeUnitForm::Refresh() {
  for (int unit = 1; unit <= TTapeUnits::DriveCount; ++unit)
    TapeDrive(unit).ShowPanel(units_.Drive(unit).Panel());
}

TTapeUnitForm::~TTapeUnitForm() {
  units_.OnPanelChanged = nullptr;
}

}  // namespace kestrel

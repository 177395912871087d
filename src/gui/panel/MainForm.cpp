#include "gui/panel/MainForm.h"
#include "gui/QtControls.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/QtFixedFont.h"
#include "gui/panel/CoreForm.h"
#include "machine/Machine.h"
#include "machine/WindowLayout.h"

namespace kestrel {

namespace {
QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QLineEdit* MakeField(QWidget* parent, const char* name, int length, const char* hint,
                     const char* text) {
  auto* field = new QLineEdit(QString::fromLatin1(text), parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setMaxLength(length);
  field->setToolTip(QString::fromLatin1(hint));
  field->setFixedWidth(field->fontMetrics().horizontalAdvance(QLatin1Char('0')) * (length + 2) +
                       12);
  return field;
}

QLabel* MakeRegister(QWidget* parent, const char* name, const char* hint, const char* text) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setToolTip(QString::fromLatin1(hint));
  label->setAlignment(Qt::AlignCenter);
  label->setFrameShape(QFrame::Panel);
  label->setFrameShadow(QFrame::Sunken);
  QFont font = label->font();  // its size, in the fixed-pitch family
  font.setFamily(FixedPitchFamily());
  font.setFixedPitch(true);
  label->setFont(font);
  return label;
}

// Lines of a message are separated by a carriage return.
QString MessageText(const std::string& message) {
  QString text = Q(message);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

const char* const StatusStyle = "QLabel { background-color: rgb(47, 79, 79); color: white; }";
const char* const MachineCheckStyle = "QLabel { background-color: rgb(255, 0, 0); color: white; }";
}  // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
}

// ---- Construction ----------------------------------------------------------------------------

TMainForm::TMainForm(TMachine& machine, std::vector<std::string> arguments, QWidget* parent)
    : QMainWindow(parent),
      machine_(machine),
      console_(machine.Console),
      arguments_(std::move(arguments)) {
  setObjectName(QStringLiteral("MainForm"));
  // No title-bar buttons: the panel is closed with PwrOff or File, Exit.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowTitle(QString::fromLatin1(TConsole::Caption));
  BuildControls();
  BuildMenu();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  move(0, 0);
  registersTimer_ = new QTimer(this);
  registersTimer_->setSingleShot(true);
  connect(registersTimer_, &QTimer::timeout, this, &TMainForm::ShowRegisterLabels);
  console_.SetView(this);
  StatusChanged();
  RegistersChanged();
}

TMainForm::~TMainForm() {
  console_.SetView(nullptr);
}

// The panel's sections are built in the order of the focus chain: status, buttons, mode and
// stops, registers, switches, windows.
void TMainForm::BuildControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  BuildStatus(central);
  QLayout* buttons = BuildButtons(central);
  QWidget* modes = BuildModeAndStops(central);

  auto* right = new QVBoxLayout;
  right->addWidget(BuildRegisters(central));
  right->addWidget(BuildSwitches(central));
  right->addWidget(BuildWindowLabels(central));
  right->addStretch(1);

  auto* middle = new QHBoxLayout;
  middle->addLayout(buttons);
  middle->addWidget(modes);
  middle->addLayout(right);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(LAStatus);
  layout->addLayout(middle);
}

void TMainForm::BuildStatus(QWidget* central) {
  LAStatus = new QLabel(QStringLiteral("Status"), central);
  LAStatus->setObjectName(QStringLiteral("LAStatus"));
  LAStatus->setToolTip(QStringLiteral("Status message area"));
  LAStatus->setMinimumHeight(26);
  LAStatus->setMargin(4);
  LAStatus->setStyleSheet(QString::fromLatin1(StatusStyle));
}

QLayout* TMainForm::BuildButtons(QWidget* central) {
  PBStart = MakeButton(central, "PBStart", "&Start", "Start/Single step execution");
  PBStart->setProperty("tag", 0);
  PBStop = MakeButton(central, "PBStop", "S&top", "Stop execution");
  PBResume = MakeButton(central, "PBResume", "&Resume", "Set to Run Mode and Resume execution");
  PBResume->setProperty("tag", 1);
  PBReset = MakeButton(central, "PBReset", "&Reset", "System reset ");
  PBScript = MakeButton(central, "PBScript", "Scr&ipt", "Run current OCL script");
  PBExit = MakeButton(central, "PBExit", "&PwrOff", "Exit emulator");
  CBTurbo = new QCheckBox(QStringLiteral("&Turbo"), central);
  CBTurbo->setObjectName(QStringLiteral("CBTurbo"));
  CBTurbo->setToolTip(QStringLiteral("Run faster without display updates"));
  for (QPushButton* b : {PBStart, PBStop, PBResume, PBReset, PBExit})
    b->setEnabled(false);

  connect(PBStart, &QPushButton::clicked, this, &TMainForm::PBStartClick);
  connect(PBResume, &QPushButton::clicked, this, &TMainForm::PBResumeClick);
  connect(PBStop, &QPushButton::clicked, this, [this] { console_.PBStopClick(); });
  connect(PBReset, &QPushButton::clicked, this, [this] { console_.PBResetClick(); });
  connect(PBScript, &QPushButton::clicked, this, [this] { console_.PBScriptClick(); });
  connect(PBExit, &QPushButton::clicked, this, &QWidget::close);
  connect(CBTurbo, &QCheckBox::clicked, this, [this](bool on) { console_.SetTurbo(on); });

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {PBStart, PBStop, PBResume, PBReset, PBScript, PBExit}) {
    buttons->addWidget(b);
  }
  buttons->addWidget(CBTurbo);
  buttons->addStretch(1);
  return buttons;
}

QWidget* TMainForm::BuildModeAndStops(QWidget* central) {
  auto* modes = new QGroupBox(QStringLiteral("Mode and Stops"), central);
  RBRUN = new QRadioButton(QStringLiteral("Run"), modes);
  RBRUN->setObjectName(QStringLiteral("RBRUN"));
  RBRUN->setToolTip(QStringLiteral("Normal Run Mode"));
  RBSTEP = new QRadioButton(QStringLiteral("Step"), modes);
  RBSTEP->setObjectName(QStringLiteral("RBSTEP"));
  RBSTEP->setToolTip(QStringLiteral("Single Step Mode"));
  connect(RBRUN, &QRadioButton::clicked, this, [this] { console_.ModeClick(TRunMode::Run); });
  connect(RBSTEP, &QRadioButton::clicked, this, [this] { console_.ModeClick(TRunMode::Step); });

  auto stopLabel = [&](const char* name, const char* caption, const char* hint) {
    auto* label = new TClickLabel(QString::fromLatin1(caption), modes);
    label->setObjectName(QString::fromLatin1(name));
    label->setToolTip(QString::fromLatin1(hint));
    connect(label, &TClickLabel::clicked, this, [this] { console_.ApplyStopSettings(); });
    return label;
  };
  RBAdSt = stopLabel("RBAdSt", "Address Stop", "Stop if about execute from this address");
  RBCRSt = stopLabel("RBCRSt", "Core Read", "Stop if this core address is accessed");
  RBCWSt = stopLabel("RBCWSt", "Core Write", "Stop if this core address is modified");
  RBOCSt = stopLabel("RBOCSt", "OpCode", "Stop if this opcode is about to execute");
  EBAdSt = MakeField(modes, "EBAdSt", 5, "Stop if about execute from this address", "00000");
  EBCRSt = MakeField(modes, "EBCRSt", 5, "Stop if this core address is accessed", "00000");
  EBCWSt = MakeField(modes, "EBCWSt", 5, "Stop if this core address is modified", "00000");
  EBWVSt = MakeField(modes, "EBWVSt", 1, "Stop if modified to this value (blank=any)", "");
  EBOCSt = MakeField(modes, "EBOCSt", 1, "Stop if this opcode is about to execute", "");
  const std::pair<QLineEdit*, TStopField> fields[] = {{EBAdSt, SFAddress},
                                                      {EBCRSt, SFCoreRead},
                                                      {EBCWSt, SFCoreWrite},
                                                      {EBWVSt, SFWriteValue},
                                                      {EBOCSt, SFOpcode}};
  for (const auto& [edit, field] : fields) {
    connect(edit, &QLineEdit::textEdited, this,
            [this, f = field](const QString& text) { StopFieldEdited(f, text); });
  }
  auto* modeGrid = new QGridLayout(modes);
  modeGrid->addWidget(RBRUN, 0, 0);
  modeGrid->addWidget(RBSTEP, 0, 1);
  modeGrid->addWidget(RBAdSt, 1, 0);
  modeGrid->addWidget(EBAdSt, 1, 1);
  modeGrid->addWidget(RBCRSt, 2, 0);
  modeGrid->addWidget(EBCRSt, 2, 1);
  modeGrid->addWidget(RBCWSt, 3, 0);
  auto* writeStop = new QHBoxLayout;
  writeStop->addWidget(EBCWSt);
  writeStop->addWidget(EBWVSt);
  modeGrid->addLayout(writeStop, 3, 1);
  modeGrid->addWidget(RBOCSt, 4, 0);
  modeGrid->addWidget(EBOCSt, 4, 1);
  return modes;
}

QWidget* TMainForm::BuildRegisters(QWidget* central) {
  auto* registers = new QGroupBox(QStringLiteral("Registers"), central);
  LAIAR = MakeRegister(registers, "LAIAR", "Instruction Address Register", "00000");
  LAAAR = MakeRegister(registers, "LAAAR", "A-Address Register", "00000");
  LABAR = MakeRegister(registers, "LABAR", "B-Address Register", "00000");
  LAOP = MakeRegister(registers, "LAOP", "Current instruction opcode", "X");
  LAILen = MakeRegister(registers, "LAILen", "Current instruction length", "X");
  auto* regGrid = new QGridLayout(registers);
  const char* heads[] = {"IAR", "AAR", "BAR", "OP", "IL"};
  QLabel* values[] = {LAIAR, LAAAR, LABAR, LAOP, LAILen};
  for (int i = 0; i < 5; ++i) {
    auto* head = new QLabel(QString::fromLatin1(heads[i]), registers);
    head->setAlignment(Qt::AlignCenter);
    regGrid->addWidget(head, 0, i);
    regGrid->addWidget(values[i], 1, i);
    values[i]->setMinimumWidth(i < 3 ? 56 : 28);
  }
  return registers;
}

QWidget* TMainForm::BuildSwitches(QWidget* central) {
  auto* switches = new QGroupBox(QStringLiteral("Switches"), central);
  switches->setToolTip(QStringLiteral("Sense switches"));
  auto* switchRow = new QHBoxLayout(switches);
  for (int i = 0; i < 7; ++i) {
    QString letter(QLatin1Char(static_cast<char>('A' + i)));
    auto* box = new QCheckBox(letter, switches);
    box->setObjectName(QStringLiteral("CBSR") + letter);
    box->setProperty("tag", i + 1);
    connect(box, &QCheckBox::clicked, this,
            [this, tag = i + 1](bool on) { console_.SetSenseSwitch(tag, on); });
    CBSR[static_cast<size_t>(i)] = box;
    switchRow->addWidget(box);
  }
  return switches;
}

// The labels that show and hide the other windows, by tag 1 to 6.
QWidget* TMainForm::BuildWindowLabels(QWidget* central) {
  auto* windows = new QGroupBox(QStringLiteral("Windows"), central);
  windows->setToolTip(QStringLiteral("Display window controls"));
  auto* windowRow = new QHBoxLayout(windows);
  const std::pair<const char*, const char*> labels[] = {
      {"LAWTrace", "TRACE"}, {"LAWCore", "CORE"}, {"LAWRdrPun", "RDRPUN"},
      {"LAWPRT", "PRT"},     {"LAWTape", "TAPE"}, {"LAWCHR", "CHARS"}};
  for (int tag = 1; tag <= 6; ++tag) {
    auto* label = new TClickLabel(QString::fromLatin1(labels[tag - 1].second), windows);
    label->setObjectName(QString::fromLatin1(labels[tag - 1].first));
    label->setProperty("tag", tag);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Raised);
    label->setAlignment(Qt::AlignCenter);
    label->setMargin(2);
    label->setCursor(Qt::PointingHandCursor);
    label->setEnabled(false);  // until its window is there
    connect(label, &TClickLabel::clicked, this, [this, tag] { LAWClick(tag); });
    LAW[static_cast<size_t>(tag)] = label;
    windowRow->addWidget(label);
  }
  return windows;
}

void TMainForm::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  MIOpen = file->addAction(QStringLiteral("&Open Script"), this, &TMainForm::MIOpenClick);
  MIOpen->setObjectName(QStringLiteral("MIOpen"));
  MIEdit = file->addAction(QStringLiteral("&Edit Script"), this, &TMainForm::MIEditClick);
  MIEdit->setObjectName(QStringLiteral("MIEdit"));
  MIAssemble =
      file->addAction(QStringLiteral("&Assemble and Run..."), this, &TMainForm::MIAssembleClick);
  MIAssemble->setObjectName(QStringLiteral("MIAssemble"));
  file->addSeparator();
  MIExit = file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
  MIExit->setObjectName(QStringLiteral("MIExit"));

  // The View menu is there, disabled, and does nothing.
  MIView = menuBar()->addMenu(QStringLiteral("&View"));
  MIView->setObjectName(QStringLiteral("MIView"));
  for (const char* item :
       {"&Core display", "Card &Reader/Punch", "&Printer", "Character &Maps", "&Trace display"}) {
    MIView->addAction(QString::fromLatin1(item));
  }
  MIView->setEnabled(false);

  MIDebug = menuBar()->addMenu(QStringLiteral("&Debug"));
  MIDebug->setObjectName(QStringLiteral("MIDebug"));
  auto showWindow = [](QWidget* window) {
    if (window == nullptr) return;
    window->show();
    window->raise();
    window->activateWindow();
  };
  MIBreakpoints = MIDebug->addAction(QStringLiteral("&Breakpoints..."), this,
                                     [this, showWindow] { showWindow(breakpointForm_); });
  MIBreakpoints->setObjectName(QStringLiteral("MIBreakpoints"));
  MIBreakpoints->setEnabled(false);
  MIHistory = MIDebug->addAction(QStringLiteral("&History..."), this,
                                 [this, showWindow] { showWindow(historyForm_); });
  MIHistory->setObjectName(QStringLiteral("MIHistory"));
  MIHistory->setEnabled(false);
  MILoadSymbols =
      MIDebug->addAction(QStringLiteral("Load &Symbols..."), this, &TMainForm::MILoadSymbolsClick);
  MILoadSymbols->setObjectName(QStringLiteral("MILoadSymbols"));

  MIOptions = menuBar()->addAction(QStringLiteral("&Options"), this, &TMainForm::MIOptionsClick);
  MIOptions->setObjectName(QStringLiteral("MIOptions"));
  MIAbout = menuBar()->addAction(QStringLiteral("&About"), this, &TMainForm::MIAboutClick);
  MIAbout->setObjectName(QStringLiteral("MIAbout"));
  MIHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  MIHelp->setObjectName(QStringLiteral("MIHelp"));
  MIHelp->setEnabled(false);
}

// ---- Windows ---------------------------------------------------------------------------------

void TMainForm::SetWindow(TWindowTag tag, QWidget* window) {
  windows_[static_cast<size_t>(tag)] = window;
  LAW[static_cast<size_t>(tag)]->setEnabled(window != nullptr);
}

void TMainForm::SetCoreForm(TCoreForm* form) {
  coreForm_ = form;
  SetWindow(WTCore, form);
}

void TMainForm::SetScriptEditor(std::function<void(const std::string&)> editor) {
  scriptEditor_ = std::move(editor);
  StatusChanged();
}

void TMainForm::LAWClick(int tag) {
  QWidget* window = windows_[static_cast<size_t>(tag)];
  if (window != nullptr) window->setVisible(!window->isVisible());
}

void TMainForm::SetWindowVisible(TPanelWindow window, bool visible) {
  // The scripts number the windows differently from the panel's labels.
  TWindowTag tag = WTCore;
  switch (window) {
    case PWCoreDisplay:
      tag = WTCore;
      break;
    case PWReaderPunch:
      tag = WTReaderPunch;
      break;
    case PWPrinter:
      tag = WTPrinter;
      break;
    case PWTapeUnits:
      tag = WTTape;
      break;
    case PWTrace:
      tag = WTTrace;
      break;
  }
  if (QWidget* w = windows_[static_cast<size_t>(tag)]) w->setVisible(visible);
}

namespace {
// What the window manager adds around a window's client area; none while it has not said.
QMargins FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect client = window.geometry();
  return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                  frame.right() - client.right(), frame.bottom() - client.bottom());
}
}  // namespace

void TMainForm::PlaceWindows() {
  QScreen* screen = this->screen();
  QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 1024);
  placed_ = true;
  placedMargins_ = FrameMargins(*this);
  // A window whose frame is not known yet is taken to have the panel's.
  auto marginsOf = [&](const QWidget& w) {
    QMargins m = FrameMargins(w);
    return m.isNull() ? placedMargins_ : m;
  };
  auto frameSize = [&](QWidget* w) {
    if (w == nullptr) return TFrameSize{};
    const QMargins m = marginsOf(*w);
    const QSize smallest = w->minimumSize().expandedTo(w->minimumSizeHint()).boundedTo(w->size());
    return TFrameSize{w->width() + m.left() + m.right(), w->height() + m.top() + m.bottom(),
                      smallest.width() + m.left() + m.right(),
                      smallest.height() + m.top() + m.bottom()};
  };
  TStartupSizes sizes;
  sizes.Panel = frameSize(this);
  sizes.Panel.MinW = sizes.Panel.W;
  sizes.Panel.MinH = sizes.Panel.H;
  sizes.Core = frameSize(windows_[WTCore]);
  sizes.Reader = frameSize(windows_[WTReaderPunch]);
  sizes.Printer = frameSize(windows_[WTPrinter]);
  sizes.Tapes = frameSize(windows_[WTTape]);
  sizes.Trace = frameSize(windows_[WTTrace]);
  const TStartupLayout l =
      LayOutStartupWindows(TFrame{area.x(), area.y(), area.width(), area.height()}, sizes);
  auto place = [&](QWidget* w, const TFrame& f) {
    if (w == nullptr) return;
    const QMargins m = marginsOf(*w);
    // The client area is placed, not the frame: a window whose own frame Qt has not heard of
    // yet would otherwise be placed with its client area where its frame should be.
    w->setGeometry(f.X + m.left(), f.Y + m.top(), f.W - m.left() - m.right(),
                   f.H - m.top() - m.bottom());
  };
  place(this, l.Panel);
  place(windows_[WTCore], l.Core);
  place(windows_[WTReaderPunch], l.Reader);
  place(windows_[WTPrinter], l.Printer);
  place(windows_[WTTape], l.Tapes);
  place(windows_[WTTrace], l.Trace);
  // Where the screen is too small, the printer lies under the panel's right edge and the trace
  // window under the tape units' left edge: the controls stay in front.
  if (QWidget* tapes = windows_[WTTape]) tapes->raise();
  raise();
}

void TMainForm::PlaceWhenFramed() {
  // A window manager reports the frames a moment after the windows are shown; the windows are
  // placed once, on their real frames (or without frames when none come).
  if (FrameMargins(*this).isNull() && ++framePolls_ < FramePollLimit) return;
  placeTimer_->stop();
  PlaceWindows();
}

// ---- First activation and closing ------------------------------------------------------------

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The start-up runs once the panel is up and the loop is running.
  if (!activated_) QTimer::singleShot(0, this, &TMainForm::FormActivate);
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activated_) {
    FormActivate();
  }
}

void TMainForm::FormActivate() {
  if (activated_) return;
  activated_ = true;
  // On X11 the frames are known only once the window manager has reported them; placing the
  // windows before would put title bars off the screen or under other windows.
  if (QGuiApplication::platformName() == QStringLiteral("xcb") && FrameMargins(*this).isNull()) {
    placeTimer_ = new QTimer(this);
    connect(placeTimer_, &QTimer::timeout, this, &TMainForm::PlaceWhenFramed);
    placeTimer_->start(FramePollMs);
  } else {
    PlaceWindows();
  }
  console_.FirstActivation(arguments_);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Closing the panel ends the program; the other windows go with it.
  event->accept();
  QCoreApplication::quit();
}

// ---- Console view ----------------------------------------------------------------------------

void TMainForm::StatusChanged() {
  LAStatus->setText(Q(console_.StatusText()));
  LAStatus->setStyleSheet(
      QString::fromLatin1(console_.StatusIsMachineCheck() ? MachineCheckStyle : StatusStyle));
  PBStart->setEnabled(console_.StartEnabled());
  PBStop->setEnabled(console_.StopEnabled());
  PBResume->setEnabled(console_.ResumeEnabled());
  PBReset->setEnabled(console_.ResetEnabled());
  PBExit->setEnabled(console_.PwrOffEnabled());
  PBScript->setEnabled(console_.ScriptEnabled());
  MIEdit->setEnabled(console_.EditScriptEnabled() && scriptEditor_ != nullptr);
  RBRUN->setChecked(console_.Mode() == TRunMode::Run);
  RBSTEP->setChecked(console_.Mode() == TRunMode::Step);
  bool fields = console_.StopFieldsEnabled();
  for (QLineEdit* e : {EBAdSt, EBCRSt, EBCWSt, EBWVSt, EBOCSt})
    e->setEnabled(fields);
  ShowStopFields();
  CBTurbo->setChecked(console_.TurboBox());
  for (int i = 0; i < 7; ++i)
    CBSR[static_cast<size_t>(i)]->setChecked(console_.SenseSwitchBox(i + 1));
  setWindowTitle(Q(console_.WindowCaption()));
  switch (console_.Focus()) {
    case TPanelFocus::Start:
      PBStart->setFocus();
      break;
    case TPanelFocus::Stop:
      PBStop->setFocus();
      break;
    case TPanelFocus::Reset:
      PBReset->setFocus();
      break;
    case TPanelFocus::None:
      break;
  }
}

void TMainForm::ShowStopFields() {
  const std::pair<QLineEdit*, TStopField> fields[] = {{EBAdSt, SFAddress},
                                                      {EBCRSt, SFCoreRead},
                                                      {EBCWSt, SFCoreWrite},
                                                      {EBWVSt, SFWriteValue},
                                                      {EBOCSt, SFOpcode}};
  for (const auto& [edit, field] : fields) {
    QString text = Q(console_.StopField(field));
    if (edit->text() != text) {
      int cursor = edit->cursorPosition();
      edit->setText(text);
      edit->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
    }
  }
}

void TMainForm::RegistersChanged() {
  // The first report after a quiet spell shows at once; reports in quick succession are shown
  // together when the period is over, so the last values always appear.
  if (registersTimer_->isActive()) return;
  qint64 since = registersShown_.isValid() ? registersShown_.elapsed() : RegisterPaintMs;
  if (since >= RegisterPaintMs) {
    ShowRegisterLabels();
  } else {
    registersTimer_->start(static_cast<int>(RegisterPaintMs - since));
  }
}

void TMainForm::ShowRegisterLabels() {
  registersShown_.start();
  LAIAR->setText(Q(console_.LAIAR()));
  LAAAR->setText(Q(console_.LAAAR()));
  LABAR->setText(Q(console_.LABAR()));
  LAOP->setText(Q(console_.LAOP()));
  LAILen->setText(Q(console_.LAILen()));
}

void TMainForm::ShowError(const std::string& message) {
  QMessageBox::critical(this, windowTitle(), MessageText(message));
}

void TMainForm::CoreCleared() {
  if (coreForm_ != nullptr) coreForm_->CoreChanged();
}

void TMainForm::ProcessEvents() {
  QCoreApplication::processEvents();
}

// ---- Actions ---------------------------------------------------------------------------------

void TMainForm::PBStartClick() {
  console_.PBStartClick();
}

void TMainForm::PBResumeClick() {
  console_.PBResumeClick();
}

void TMainForm::StopFieldEdited(TStopField field, const QString& text) {
  // The one-character fields take what is typed as a display character; the model makes it
  // upper case and reads the settings again.
  bool single = field == SFWriteValue || field == SFOpcode;
  console_.SetStopField(field, single ? text.toLatin1().toStdString() : text.toStdString());
  ShowStopFields();
}

void TMainForm::MIOpenClick() {
  QFileDialog dialog(this, QStringLiteral("Open Script"), QCoreApplication::applicationDirPath());
  dialog.setNameFilters({QStringLiteral("Operator Scripts (*.OCL)"),
                         QStringLiteral("Card Files (*.CDR *.CRD)"),
                         QStringLiteral("Any File (*)")});
  dialog.setDefaultSuffix(QStringLiteral("CDR"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    console_.StartScriptFile(dialog.selectedFiles().front().toStdString());
  }
  console_.UpdateStatus();
}

void TMainForm::MIAssembleClick() {
  const QString source = QFileDialog::getOpenFileName(
      this, QStringLiteral("Assemble and Run"), QString(),
      QStringLiteral("Autocoder Sources (*.S *.s *.AUT *.aut);;Any File (*)"));
  if (!source.isEmpty()) console_.AssembleAndRun(source.toStdString());
  console_.UpdateStatus();
}

void TMainForm::MIEditClick() {
  if (scriptEditor_ && !console_.CurrentScriptName().empty()) {
    scriptEditor_(console_.CurrentScriptName());
  }
}

void TMainForm::MILoadSymbolsClick() {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Load Symbols"), QString(),
      QStringLiteral("Listings and Symbol Files (*.lst *.LST *.txt *.TXT *.sym *.SYM);;"
                     "Any File (*)"));
  if (!path.isEmpty()) LoadSymbols(path);
}

bool TMainForm::LoadSymbols(const QString& path) {
  const std::string error = machine_.Debugger.LoadSymbols(path.toStdString());
  if (!error.empty()) ShowError(error);
  return error.empty();
}

void TMainForm::MIOptionsClick() {
  if (configForm_ != nullptr) configForm_->exec();
}

void TMainForm::MIAboutClick() {
  if (aboutForm_ != nullptr) aboutForm_->exec();
}

}  // namespace kestrel

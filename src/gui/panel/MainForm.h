// The front panel window: a view of the console model.  Each control shows a value of the model
// and forwards its action to it; the model calls back (IConsoleView) when there is something new
// to show.  Closing the panel ends the program.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMargins>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "machine/KestMain.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kestrel {

class TMachine;
class TCoreForm;

// A label that reacts to a click (the stop labels and the window labels).
class TClickLabel : public QLabel {
  Q_OBJECT

 public:
  TClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The windows the Windows group toggles, by the tags of its labels.
enum TWindowTag : int {
  WTTrace = 1,
  WTCore = 2,
  WTReaderPunch = 3,
  WTPrinter = 4,
  WTTape = 5,
  WTCharMaps = 6
};

class TMainForm : public QMainWindow, public IConsoleView {
  Q_OBJECT

 public:
  // `arguments` are the command line's arguments after the program's name.
  TMainForm(TMachine& machine, std::vector<std::string> arguments, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The windows the panel places, shows and hides; a window not (yet) there is skipped.
  void SetWindow(TWindowTag tag, QWidget* window);
  void SetCoreForm(TCoreForm* form);
  // The configuration dialog and the About box, shown modally from the menu.
  void SetDialogs(QDialog* config, QDialog* about) {
    configForm_ = config;
    aboutForm_ = about;
  }
  // The debugger's windows the Debug menu shows.
  void SetDebugWindows(QWidget* breakpoints, QWidget* history) {
    breakpointForm_ = breakpoints;
    historyForm_ = history;
    MIBreakpoints->setEnabled(breakpoints != nullptr);
    MIHistory->setEnabled(history != nullptr);
  }
  // Debug, Load Symbols without its dialog: the error is shown in the error box.
  bool LoadSymbols(const QString& path);
  // File, Edit Script: shows the script editor for the current script.
  void SetScriptEditor(std::function<void(const std::string&)> editor);

  // The first activation, once only: places the windows, then the console's start-up.
  void FormActivate();
  bool Activated() const { return activated_; }
  // The windows stand where the start-up puts them (on X11, once their frames are known).
  bool WindowsPlaced() const { return placed_; }

  // ---- IConsoleView ----
  void StatusChanged() override;
  void RegistersChanged() override;
  void SetWindowVisible(TPanelWindow window, bool visible) override;
  void ShowError(const std::string& message) override;
  void CoreCleared() override;
  void ProcessEvents() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildStatus(QWidget* central);
  QLayout* BuildButtons(QWidget* central);
  QWidget* BuildModeAndStops(QWidget* central);
  QWidget* BuildRegisters(QWidget* central);
  QWidget* BuildSwitches(QWidget* central);
  QWidget* BuildWindowLabels(QWidget* central);
  void BuildMenu();
  void PlaceWindows();
  void PlaceWhenFramed();
  void PBStartClick();
  void PBResumeClick();
  void StopFieldEdited(TStopField field, const QString& text);
  void LAWClick(int tag);
  void MIOpenClick();
  void MIEditClick();
  void MIAssembleClick();
  void MIOptionsClick();
  void MILoadSymbolsClick();
  void MIAboutClick();
  void ShowStopFields();
  void ShowRegisterLabels();

  TMachine& machine_;
  TConsole& console_;
  std::vector<std::string> arguments_;
  bool activated_ = false;
  std::array<QWidget*, 7> windows_{};
  TCoreForm* coreForm_ = nullptr;
  QDialog* configForm_ = nullptr;
  QDialog* aboutForm_ = nullptr;
  QWidget* breakpointForm_ = nullptr;
  QWidget* historyForm_ = nullptr;
  std::function<void(const std::string&)> scriptEditor_;
  // The frames the windows were placed on, and the wait for the window manager's.
  QMargins placedMargins_;
  QTimer* placeTimer_ = nullptr;
  int framePolls_ = 0;
  bool placed_ = false;
  static constexpr int FramePollMs = 50;
  static constexpr int FramePollLimit = 20;
  // The register labels are repainted at most this often: a running processor reports them
  // every 200 instructions, far faster than anyone can read, and each repaint costs the display.
  static constexpr int RegisterPaintMs = 100;
  QElapsedTimer registersShown_;
  QTimer* registersTimer_ = nullptr;

 public:
  // The controls, by the names the panel's definition gives them.
  QLabel* LAStatus = nullptr;
  QPushButton* PBStart = nullptr;
  QPushButton* PBStop = nullptr;
  QPushButton* PBResume = nullptr;
  QPushButton* PBReset = nullptr;
  QPushButton* PBScript = nullptr;
  QPushButton* PBExit = nullptr;
  QCheckBox* CBTurbo = nullptr;
  QRadioButton* RBRUN = nullptr;
  QRadioButton* RBSTEP = nullptr;
  TClickLabel* RBAdSt = nullptr;
  TClickLabel* RBCRSt = nullptr;
  TClickLabel* RBCWSt = nullptr;
  TClickLabel* RBOCSt = nullptr;
  QLineEdit* EBAdSt = nullptr;
  QLineEdit* EBCRSt = nullptr;
  QLineEdit* EBCWSt = nullptr;
  QLineEdit* EBWVSt = nullptr;
  QLineEdit* EBOCSt = nullptr;
  QLabel* LAIAR = nullptr;
  QLabel* LAAAR = nullptr;
  QLabel* LABAR = nullptr;
  QLabel* LAOP = nullptr;
  QLabel* LAILen = nullptr;
  std::array<QCheckBox*, 7> CBSR{};   // CBSRA .. CBSRG
  std::array<TClickLabel*, 7> LAW{};  // by tag 1 .. 6
  QAction* MIOpen = nullptr;
  QAction* MIEdit = nullptr;
  QAction* MIAssemble = nullptr;
  QAction* MIExit = nullptr;
  QMenu* MIView = nullptr;
  QMenu* MIDebug = nullptr;
  QAction* MIBreakpoints = nullptr;
  QAction* MIHistory = nullptr;
  QAction* MILoadSymbols = nullptr;
  QAction* MIOptions = nullptr;
  QAction* MIAbout = nullptr;
  QMenu* MIHelp = nullptr;
};

}  // namespace kestrel

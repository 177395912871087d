// The front panel's model (`TConsole`): the operator's console of the machine.  It runs the
// program's start-up, shows the run state as a status line with the controls' enabled states,
// starts, stops, steps, resumes and resets the machine, keeps the stop fields, sense switches and
// Turbo, starts scripts, and is the receiver of the processor's stop notices and of the script
// thread's panel commands.  The front panel window only displays it; the batch front end drives
// it without a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/KestDefs.h"
#include "core/Messenger.h"

namespace kestrel {

class TMachine;
class IMappingControl;
struct TCharConvention;

// What the command line asks of the start-up beyond a script: a core size, a character
// convention for the card loads, and a deck to boot (loaded, Load, Start) in place of a script.
struct TBootOptions {
  uint16_t CoreSize = 0;  // 0: as the start-up and the configuration leave it
  const TCharConvention* Convention = nullptr;
  std::string Deck;
  std::string CarriageTape;  // a carriage tape file for the printer, over the configuration's
  bool FormFeeds = false;    // form feeds in the print file, whatever the configuration says
  std::string Tape;          // a reel to boot: mounted on drive 1, Tape Load, Start
  char Chain = 0;            // the printer's chain, 'A' or 'H' (0: as the configuration leaves it)
  bool TapeParity = false;   // every drive notes a .tap reel's bad parity bits
  // Reels to mount before the job, drive 1-6 each, over the configuration's for that drive.
  std::vector<std::pair<int, std::string>> Mounts;
};

enum class TRunMode : uint8_t { Run, Step };
enum class TPanelFocus : uint8_t { None, Start, Stop, Reset };

// The five stop fields, in the order their settings are read.
enum TStopField : uint8_t { SFAddress, SFCoreRead, SFCoreWrite, SFWriteValue, SFOpcode };

// What a start-up or a script start came to.
enum class TScriptStart : uint8_t { NoScript, Started, Failed };

// What shows the panel: the Qt window, or nothing in batch mode.  Called on the GUI thread.
class IConsoleView {
 public:
  virtual ~IConsoleView() = default;
  // The status line, the enabled states, the mode, the caption, the check boxes.
  virtual void StatusChanged() {}
  // The register labels.
  virtual void RegistersChanged() {}
  // PanelCommand 20 and 21: show or hide a window (1 core display ... 5 trace).
  virtual void SetWindowVisible(TPanelWindow /*window*/, bool /*visible*/) {}
  // The GUI's error box (a stop field that is not a number, a script that cannot be loaded).
  virtual void ShowError(const std::string& /*message*/) {}
  // Core was cleared: the core display redraws.
  virtual void CoreCleared() {}
  // Lets the GUI process its pending events.
  virtual void ProcessEvents() {}
  // The processor has reported a stop; the status line already shows it.
  virtual void ProcessorStopped() {}
};

class TConsole : public IMessageReceiver {
 public:
  static constexpr const char* Caption = "IBM 1401 Emulator";
  static constexpr uint16_t StartupCoreSize = 8000;

  explicit TConsole(TMachine& machine);
  TConsole(const TConsole&) = delete;
  TConsole& operator=(const TConsole&) = delete;

  void SetView(IConsoleView* view) { view_ = view; }
  void SetMapping(IMappingControl* mapping) { mapping_ = mapping; }
  // Called on the GUI thread after each stop of the processor: the device windows catch up
  // there with what a run in Turbo did not show.
  void SetStopListener(std::function<void()> listener) { stopListener_ = std::move(listener); }

  // ---- Program start and end ----
  // The first activation, once only: core size 8000, UseCmcFile, Run mode, system reset, the
  // configuration, then the start-up script: the first argument, else the configured script if
  // its file exists.  A card file as first argument is also loaded into the reader.
  // The boot options then apply after the configuration; a deck boot takes the script's place.
  TScriptStart FirstActivation(const std::vector<std::string>& arguments);
  void SetBootOptions(TBootOptions options) { boot_ = std::move(options); }
  // File > Assemble and Run: the Autocoder source assembled beside itself (its deck and listing),
  // then, after a reset, its deck booted as --deck boots one.  Errors go to the operator, all of
  // them, and nothing runs; a running processor or script refuses it.
  TScriptStart AssembleAndRun(const std::string& sourceFile);
  // What program exit does for the machine: the printer writes its print file.
  void ProgramExit();
  static constexpr const char* PrintFileName = "Kestrel.PRN";

  // ---- Operator actions ----
  void PBStartClick() { StartResume(false); }
  void PBResumeClick() { StartResume(true); }
  void PBStopClick();
  void PBResetClick();
  void PBScriptClick();
  // A click on a mode button: the stop settings are read again (Step mode switches tracing on).
  void ModeClick(TRunMode mode);
  // Typing into a stop field: the settings are read again.  The one-character fields take
  // the upper case of what is typed.
  void SetStopField(TStopField field, const std::string& text);
  // Reads the five fields into the stop settings; a field that is not a decimal number is
  // reported, and the settings after it keep their values.  False after such an error.
  bool ApplyStopSettings();
  void SetSenseSwitch(int number, bool on);  // 1 = A .. 7 = G
  void SetTurbo(bool on);
  TScriptStart StartScriptFile(const std::string& fileName);
  void SystemReset();
  void UpdateStatus();
  void ShowRegistersNow();

  void HandleMessage(const TMessage& message) override;

  // ---- What the panel shows ----
  const std::string& StatusText() const { return statusText_; }
  bool StatusIsMachineCheck() const { return statusRed_; }
  bool StartEnabled() const { return startEnabled_; }
  bool StopEnabled() const { return stopEnabled_; }
  bool ResumeEnabled() const { return resumeEnabled_; }
  bool ResetEnabled() const { return resetEnabled_; }
  bool PwrOffEnabled() const { return pwrOffEnabled_; }
  bool ScriptEnabled() const { return scriptEnabled_; }
  bool EditScriptEnabled() const { return scriptEnabled_; }
  bool StopFieldsEnabled() const { return stopFieldsEnabled_; }
  TPanelFocus Focus() const { return focus_; }
  TRunMode Mode() const { return mode_; }
  const std::string& WindowCaption() const { return caption_; }
  const std::string& CurrentScriptName() const { return scriptName_; }
  const std::string& StopField(TStopField field) const { return stopFields_[field]; }
  bool SenseSwitchBox(int number) const;
  bool TurboBox() const;
  // The register labels: IAR, AAR, BAR as five digits, the op code character, ILen.
  const std::string& LAIAR() const { return laIAR_; }
  const std::string& LAAAR() const { return laAAR_; }
  const std::string& LABAR() const { return laBAR_; }
  const std::string& LAOP() const { return laOP_; }
  const std::string& LAILen() const { return laILen_; }
  // The last error reported to the operator.
  const std::string& LastError() const { return lastError_; }

  // True when no run or step that was started has reported its stop.
  bool ProcessorIdle() const { return runsOutstanding_ == 0; }

 private:
  void StartResume(bool resume);
  TScriptStart BootDeck();
  TScriptStart BootTape();
  // A mode selected by the program: as the operator's click when the selection changes.
  void SelectMode(TRunMode mode);
  void ReportError(const std::string& message);
  void SendDeviceReset(TReceiver receiver, uint16_t operation);
  void CpuStopped();
  void PanelCommand(uint16_t code, uintptr_t argument);

  TMachine& machine_;
  IConsoleView* view_ = nullptr;
  IMappingControl* mapping_ = nullptr;
  bool activated_ = false;
  void LoadStartupCarriageTape();
  void MountStartupTapes();
  TBootOptions boot_;
  std::function<void()> stopListener_;

  std::string statusText_;
  bool statusRed_ = false;
  bool startEnabled_ = false;
  bool stopEnabled_ = false;
  bool resumeEnabled_ = false;
  bool resetEnabled_ = false;
  bool pwrOffEnabled_ = false;
  bool scriptEnabled_ = true;
  bool stopFieldsEnabled_ = true;
  TPanelFocus focus_ = TPanelFocus::None;
  TRunMode mode_ = TRunMode::Run;
  std::string caption_ = Caption;
  std::string scriptName_;
  std::string stopFields_[5] = {"00000", "00000", "00000", "", ""};
  std::string laIAR_ = "00000", laAAR_ = "00000", laBAR_ = "00000", laOP_ = "X", laILen_ = "X";
  std::string lastError_;
  std::atomic<int> runsOutstanding_{0};
};

}  // namespace kestrel

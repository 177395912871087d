#include "machine/KestMain.h"

#include <algorithm>
#include <filesystem>

#include "assembler/Autocoder.h"
#include "machine/Machine.h"

namespace kestrel {

namespace {

// A stop field's decimal number as a 16-bit value.
bool ParseStopNumber(const std::string& text, uint16_t& value) {
  size_t first = text.find_first_not_of(' ');
  size_t last = text.find_last_not_of(' ');
  if (first == std::string::npos) return false;
  uint32_t v = 0;
  for (size_t i = first; i <= last; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
    if (v > 0xFFFF) return false;
  }
  value = static_cast<uint16_t>(v);
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

TConsole::TConsole(TMachine& machine) : machine_(machine) {}

// ---- Program start and end ------------------------------------------------------------------

TScriptStart TConsole::FirstActivation(const std::vector<std::string>& arguments) {
  if (activated_) return TScriptStart::NoScript;
  activated_ = true;
  machine_.Core.SetCoreSize(StartupCoreSize);
  if (mapping_ != nullptr) mapping_->SetUseCmcFile(true);
  mode_ = TRunMode::Run;
  SystemReset();
  machine_.Config.LoadConfiguration();
  if (boot_.CoreSize != 0) machine_.Core.SetCoreSize(boot_.CoreSize);
  if (boot_.Convention != nullptr) machine_.CharMap.SetConvention(boot_.Convention);
  LoadStartupCarriageTape();
  MountStartupTapes();
  machine_.Printer.SetChain(machine_.Config.PrintChain());
  if (boot_.Chain != 0) machine_.Printer.SetChain(boot_.Chain);
  if (!boot_.Deck.empty()) return BootDeck();
  if (!boot_.Tape.empty()) return BootTape();
  if (!arguments.empty()) {
    const std::string& first = arguments.front();
    // A card file named on the command line also goes into the reader.  It is loaded after the
    // reset above, which would otherwise empty the hopper again.
    try {
      machine_.ReaderPunch.CommandLineDeck(arguments);
    } catch (const std::exception& e) {
      ReportError(e.what());
    }
    return StartScriptFile(first);
  }
  const std::string& configured = machine_.Config.StartupScript();
  std::error_code ec;
  if (!configured.empty() && std::filesystem::is_regular_file(configured, ec)) {
    return StartScriptFile(configured);
  }
  return TScriptStart::NoScript;
}

// The carriage tape the command line or the configuration names; a bad one is reported and the
// printer goes on without a tape.
void TConsole::LoadStartupCarriageTape() {
  machine_.Printer.SetFormFeeds(boot_.FormFeeds || machine_.Config.FormFeeds());
  const std::string& name =
      !boot_.CarriageTape.empty() ? boot_.CarriageTape : machine_.Config.CarriageTapeFile();
  if (name.empty()) return;
  try {
    machine_.Printer.LoadCarriageTape(name);
  } catch (const std::exception& e) {
    ReportError(e.what());
  }
}

// The reels the command line and the configuration name, each on its drive, and the parity setting
// of every drive.  A reel that cannot be mounted is reported and its drive stays empty; the others
// are mounted.
void TConsole::MountStartupTapes() {
  const bool parity = boot_.TapeParity || machine_.Config.CheckTapeParity();
  for (int unit = 1; unit <= TTapeUnits::DriveCount; ++unit) {
    TTapeDrive& drive = machine_.TapeUnits.Drive(unit);
    drive.SetCheckParity(parity);
    std::string name = machine_.Config.TapeFile(unit);
    for (const auto& [mountUnit, file] : boot_.Mounts) {
      if (mountUnit == unit) name = file;
    }
    if (name.empty() || (unit == 1 && !boot_.Tape.empty())) continue;  // --tape takes drive 1
    try {
      drive.MountTape(name);
    } catch (const std::exception& e) {
      ReportError(e.what());
    }
  }
}

// The deck into the hopper, Load, Start: what an operator does to run an object deck.
TScriptStart TConsole::BootDeck() {
  try {
    machine_.ReaderPunch.Open(boot_.Deck);
    machine_.ReaderPunch.LoadButton();
  } catch (const std::exception& e) {
    std::string message = e.what();
    if (boot_.Convention != nullptr) {
      message += "\rThe deck was read in the character convention " +
                 std::string(boot_.Convention->Name) + ".";
    }
    ReportError(message);
    UpdateStatus();
    return TScriptStart::Failed;
  }
  ShowRegistersNow();
  if (machine_.Registers.State != CpuState::CardLoaded) {  // an empty deck: the reader's stop
    UpdateStatus();
    return TScriptStart::Failed;
  }
  PBStartClick();
  return TScriptStart::Started;
}

TScriptStart TConsole::AssembleAndRun(const std::string& sourceFile) {
  if (machine_.Registers.State == CpuState::Running ||
      static_cast<TRunState>(machine_.Script.ScriptState()) == TRunState::Running) {
    ReportError("Stop the processor and the script before assembling and running a program");
    return TScriptStart::Failed;
  }
  TAsmOptions options;
  if (const TCharConvention* current = machine_.CharMap.Convention(); current != nullptr) {
    options.Convention = current;
  }
  options.CoreSize = machine_.Core.Size();
  std::string deck;
  TAssembly assembly;
  const std::string error = AssembleFile(sourceFile, options, deck, assembly);
  if (!error.empty()) {
    std::string message = error;
    while (!message.empty() && message.back() == '\n')
      message.pop_back();
    std::replace(message.begin(), message.end(), '\n', '\r');
    ReportError(message);
    UpdateStatus();
    return TScriptStart::Failed;
  }
  // The listing's labels, for the debugger's address fields, trace and history.
  if (std::string symbolError = machine_.Debugger.LoadSymbolText(assembly.Listing);
      !symbolError.empty()) {
    ReportError(symbolError);
  }
  // The deck is punched in this convention: the reader reads it back in the same.
  machine_.CharMap.SetConvention(options.Convention);
  SystemReset();
  boot_.Deck = deck;
  boot_.Convention = options.Convention;
  return BootDeck();
}

// The reel on drive 1, Tape Load, Start: what an operator does to run a tape.
TScriptStart TConsole::BootTape() {
  try {
    machine_.TapeUnits.MountTape(1, boot_.Tape);
    machine_.TapeUnits.Drive(1).PBLoadClick();
  } catch (const std::exception& e) {
    ReportError(e.what());
    UpdateStatus();
    return TScriptStart::Failed;
  }
  ShowRegistersNow();
  PBStartClick();
  return TScriptStart::Started;
}

void TConsole::ProgramExit() {
  std::string name = PrintFileName;
  DeviceCommand save;
  save.Operation = PrnSave;
  save.Text = &name;
  TMessage m;
  m.Id = EmulatorMessage::DeviceRequest;
  m.Ref = &save;
  machine_.Messenger.Send(TReceiver::Printer, m);
}

// ---- Status ---------------------------------------------------------------------------------

void TConsole::UpdateStatus() {
  CpuState state = machine_.Registers.State;
  auto scriptState = static_cast<TRunState>(machine_.Script.ScriptState());
  scriptEnabled_ =
      !scriptName_.empty() && scriptState != TRunState::Running && state != CpuState::Running;
  statusRed_ = false;
  auto stopLine = [&] {
    return machine_.Registers.StopMessage.Get() + " " + Addr5(machine_.Registers.InstrAddr);
  };
  switch (state) {
    case CpuState::ReaderEmpty:
      statusText_ = "System Reset";
      startEnabled_ = false;
      stopEnabled_ = false;
      resetEnabled_ = true;
      pwrOffEnabled_ = true;
      break;
    case CpuState::CardLoaded:
      statusText_ = "Card Loaded";
      startEnabled_ = true;
      focus_ = TPanelFocus::Start;
      break;
    case CpuState::TapeRecordLoaded:
      statusText_ = "Tape record Loaded";
      startEnabled_ = true;
      focus_ = TPanelFocus::Start;
      break;
    case CpuState::ProgramHalt:
    case CpuState::OperatorHalt:
      statusText_ = stopLine();
      startEnabled_ = true;
      stopEnabled_ = false;
      resetEnabled_ = true;
      pwrOffEnabled_ = true;
      focus_ = TPanelFocus::Start;
      break;
    case CpuState::StopCondition:
    case CpuState::SingleStep:
      // A debugger stop says which breakpoint or watchpoint fired, with its labels.
      statusText_ = machine_.Debugger.CurrentStop();
      if (statusText_.empty()) statusText_ = stopLine();
      startEnabled_ = true;
      stopEnabled_ = false;
      resetEnabled_ = true;
      pwrOffEnabled_ = true;
      resumeEnabled_ = true;  // once enabled, it stays so
      focus_ = TPanelFocus::Start;
      break;
    case CpuState::Running:
      statusText_ = "Running";
      startEnabled_ = false;
      stopEnabled_ = true;
      resetEnabled_ = false;
      pwrOffEnabled_ = false;
      focus_ = TPanelFocus::Stop;
      break;
    case CpuState::MachineCheck:
      statusText_ = machine_.Registers.StopMessage.Get();
      statusRed_ = true;
      stopEnabled_ = false;
      resetEnabled_ = true;
      pwrOffEnabled_ = true;
      focus_ = TPanelFocus::Reset;
      break;
  }
  stopFieldsEnabled_ = state != CpuState::Running;
  if (view_ != nullptr) view_->StatusChanged();
  TMessage show;
  show.Id = EmulatorMessage::ShowRegisters;
  machine_.Messenger.Post(TReceiver::MainWindow, show);
  if (view_ != nullptr) view_->ProcessEvents();
}

void TConsole::ShowRegistersNow() {
  const TRegisters& r = machine_.Registers;
  laILen_ = std::to_string(r.ILen.Get());
  laIAR_ = Addr5(r.IAR);
  laAAR_ = Addr5(r.AAR);
  laBAR_ = Addr5(r.BAR);
  laOP_ = std::string(1, BcdToChar(r.Opcode));
  if (view_ != nullptr) view_->RegistersChanged();
}

// ---- Run control ----------------------------------------------------------------------------

void TConsole::StartResume(bool resume) {
  if (resume) {
    SelectMode(TRunMode::Run);
    machine_.Registers.ResumePending = true;
  }
  machine_.Registers.State = mode_ == TRunMode::Run ? CpuState::Running : CpuState::SingleStep;
  ++runsOutstanding_;
  machine_.Cpu.Wake();
  UpdateStatus();
}

void TConsole::PBStopClick() {
  machine_.Registers.StopMessage.Set("Operator Halt at");
  machine_.Registers.State = CpuState::OperatorHalt;
  UpdateStatus();
}

void TConsole::PBResetClick() {
  machine_.Script.ClearScripts();
  machine_.TraceLog.Clear();
  TMessage reset;
  reset.Id = EmulatorMessage::PanelCommand;
  reset.WParam = PCSystemReset;
  machine_.Messenger.Post(TReceiver::MainWindow, reset);
}

void TConsole::PBScriptClick() {
  StartScriptFile(scriptName_);
}

void TConsole::SendDeviceReset(TReceiver receiver, uint16_t operation) {
  DeviceCommand command;
  command.Operation = operation;
  TMessage m;
  m.Id = EmulatorMessage::DeviceRequest;
  m.Ref = &command;
  machine_.Messenger.Send(receiver, m);
}

void TConsole::SystemReset() {
  machine_.Core.ClearCore();
  if (view_ != nullptr) view_->CoreCleared();
  SendDeviceReset(TReceiver::ReaderPunch, RdrReset);
  SendDeviceReset(TReceiver::Printer, PrnReset);
  SendDeviceReset(TReceiver::TapeUnits, Operation(TTapeOp::TapeResetAll));
  machine_.Cpu.ResetProcessor();
  SelectMode(TRunMode::Run);
  UpdateStatus();
}

TScriptStart TConsole::StartScriptFile(const std::string& fileName) {
  scriptName_ = fileName;
  caption_ = std::string(Caption) + " - " + BaseName(fileName);
  machine_.Script.ClearScripts();
  TScriptStart result = TScriptStart::Started;
  try {
    std::array<std::string, 10> params;
    params[0] = fileName;
    machine_.Script.ExecScript(fileName, params);
  } catch (const std::exception& e) {
    ReportError(e.what());
    result = TScriptStart::Failed;
  }
  UpdateStatus();
  return result;
}

// ---- Mode and stop settings -----------------------------------------------------------------

void TConsole::SelectMode(TRunMode mode) {
  if (mode_ == mode) return;
  mode_ = mode;
  ApplyStopSettings();
}

void TConsole::ModeClick(TRunMode mode) {
  mode_ = mode;
  ApplyStopSettings();
  if (view_ != nullptr) view_->StatusChanged();
}

void TConsole::SetStopField(TStopField field, const std::string& text) {
  stopFields_[field] =
      field == SFWriteValue || field == SFOpcode ? Upper(text.substr(0, 1)) : text.substr(0, 5);
  ApplyStopSettings();
}

bool TConsole::ApplyStopSettings() {
  TRegisters& r = machine_.Registers;
  TCoreStorage& core = machine_.Core;
  uint16_t value = 0;
  const TStopField numeric[3] = {SFAddress, SFCoreRead, SFCoreWrite};
  for (TStopField field : numeric) {
    if (!ParseStopNumber(stopFields_[field], value)) {
      ReportError("'" + stopFields_[field] + "' is not a valid integer value");
      return false;
    }
    if (field == SFAddress) r.AddressStop = value;
    if (field == SFCoreRead) core.ReadStopAddress = value;
    if (field == SFCoreWrite) core.WriteStopAddress = value;
  }
  auto code = [](const std::string& text) {
    return text.empty() ? uint8_t{0} : CharToBcd(text[0]);
  };
  core.WriteStopValue = code(stopFields_[SFWriteValue]);
  r.OpcodeStop = code(stopFields_[SFOpcode]);
  if (mode_ == TRunMode::Step) machine_.TraceFlags.TraceInstructions = true;
  return true;
}

void TConsole::SetSenseSwitch(int number, bool on) {
  if (number < 1 || number > 7) return;
  machine_.Registers.SetSenseSwitch(number - 1, on);
  if (view_ != nullptr) view_->StatusChanged();
}

bool TConsole::SenseSwitchBox(int number) const {
  return number >= 1 && number <= 7 && machine_.Registers.SenseSwitch(number - 1);
}

void TConsole::SetTurbo(bool on) {
  machine_.Registers.TurboMode = on;
  if (view_ != nullptr) view_->StatusChanged();
}

bool TConsole::TurboBox() const {
  return machine_.Registers.TurboMode;
}

void TConsole::ReportError(const std::string& message) {
  lastError_ = message;
  if (view_ != nullptr) view_->ShowError(message);
}

// ---- Messages -------------------------------------------------------------------------------

void TConsole::CpuStopped() {
  if (runsOutstanding_ > 0) --runsOutstanding_;
  if (stopListener_) stopListener_();
  // A stop condition selects Step mode.  Only the state the run ended in counts: while it runs,
  // an instruction may pass through a stop condition (a read stop in its fetch) on its way to a
  // check, and a status update that saw that would change what the next Start does.
  const CpuState state = machine_.Registers.State;
  if (state == CpuState::StopCondition || state == CpuState::SingleStep) SelectMode(TRunMode::Step);
  UpdateStatus();
  if (view_ != nullptr) view_->ProcessorStopped();
  if (machine_.Registers.State != CpuState::OperatorHalt &&
      static_cast<TRunState>(machine_.Script.ScriptState()) == TRunState::Waiting) {
    machine_.Script.ResumeScript();
  }
}

void TConsole::PanelCommand(uint16_t code, uintptr_t argument) {
  switch (code) {
    case PCStatusUpdate:
      UpdateStatus();
      break;
    case PCSystemReset:
      SystemReset();
      break;
    case PCStart:
      StartResume(false);
      break;  // even while the Start button is disabled
    case PCShowWindow:
    case PCHideWindow:
      if (view_ != nullptr && argument >= PWCoreDisplay && argument <= PWTrace) {
        view_->SetWindowVisible(static_cast<TPanelWindow>(argument), code == PCShowWindow);
      }
      break;
    case PCSwitchOn:
    case PCSwitchOff:
      SetSenseSwitch(static_cast<int>(argument), code == PCSwitchOn);
      break;
    case PCTurboOn:
      SetTurbo(true);
      break;
    case PCTurboOff:
      SetTurbo(false);
      break;
    case PCCoreSize:
      if (argument <= TCoreStorage::MaxSize) {
        machine_.Core.SetCoreSize(static_cast<uint16_t>(argument));
        if (view_ != nullptr) view_->CoreCleared();
      }
      break;
    default:
      break;
  }
  if (view_ != nullptr) view_->ProcessEvents();
}

void TConsole::HandleMessage(const TMessage& message) {
  switch (message.Id) {
    case EmulatorMessage::CpuStopped:
      CpuStopped();
      break;
    case EmulatorMessage::ShowRegisters:
      ShowRegistersNow();
      machine_.Cpu.AcknowledgeShowRegisters();
      break;
    case EmulatorMessage::PanelCommand:
      PanelCommand(static_cast<uint16_t>(message.WParam), message.LParam);
      break;
    default:
      break;
  }
}

}  // namespace kestrel

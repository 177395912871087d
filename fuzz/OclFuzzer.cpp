// OCL scripts: the input is a script, run from start-up as the operator would run it from the
// command line, against a headless machine: the front panel's model, the real devices, the
// processor and the script thread, with this thread playing the GUI thread and the operator.
// The operator answers every message window (Continue, an option, or Cancel, chosen from the
// input), presses Reset once the scripts have run 1,000 traced statements, and presses Stop once
// the processor has run 2,000 instructions.  Every script error must be a plain error that ends
// the script; nothing may crash, hang, leak or reach the operator as a library's own message.
//
// The script runs in a directory of its own, made afresh for each input, holding the demonstration
// decks (HELLO.CRD, THREE.CRD, LISTING.CRD, URJOB.CRD), the character-map control file, two
// tape images (TAPE.BCD, TAPE.MT), a script to EXEC (SUB.OCL) and one that does not load
// (BAD.OCL).  Files a script saves go there too; a name with a directory in a save request is
// kept inside it.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "machine/Machine.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

constexpr size_t MaxStatements = 1000;  // traced script lines before the operator's Reset
constexpr int StopAfterShows = 10;      // x 200 instructions before the operator's Stop
constexpr int MaxRounds = 400;          // turns of the GUI loop

namespace fs = std::filesystem;

std::string ReadSourceFile(const std::string& relative) {
  std::ifstream in(std::string(KESTREL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  if (!in) Fail("cannot read " + relative + " from the source tree");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The files every input finds in its directory.
struct TFixtures {
  std::vector<std::pair<std::string, std::string>> Files;
  TFixtures() {
    Files = {
        {"HELLO.CRD", ReadSourceFile("demo/hello/HELLO.CRD")},
        {"THREE.CRD", ReadSourceFile("demo/three/THREE.CRD")},
        {"LISTING.CRD", ReadSourceFile("demo/listing/LISTING.CRD")},
        {"URJOB.CRD", ReadSourceFile("demo/urjob/URJOB.CRD")},
        {"kestrel.CMC", ReadSourceFile("data/kestrel.CMC")},
        // A record "HELLO" (the H with a word mark), a record "12", a tape mark; the MT image
        // without the word mark.
        {"TAPE.BCD", std::string("\x9d\x78\x35\x63\x63\x66\xc1\x42\x8f", 9)},
        {"TAPE.MT", std::string("\x05\x00\x00\x00\x38\x35\x23\x23\x26\x00\x05\x00\x00\x00"
                                "\x02\x00\x00\x00\x01\x02\x02\x00\x00\x00\x00\x00\x00\x00",
                                28)},
        {"SUB.OCL",
         "* Called by EXEC with parameters\r\n"
         "DISPLAY 'SUB ' + &0 + ' ' + &1 + CRLF + OPTION('ONE') + OPTION('TWO')\r\n"
         "IF OPTNUM = 2 GOTO TWO\r\nEXIT\r\n:TWO CORE CHAR [500] = 17 RETURN\r\n"},
        {"BAD.OCL", "#BAD\r\n"},
    };
  }
};

const std::string& WorkDir() {
  static const std::string dir = [] {
    std::string path = ScratchDir() + "/work";
    fs::create_directories(path);
    return path;
  }();
  return dir;
}

// The script's directory is the current directory while the input runs; libFuzzer's own paths
// are relative to the one it was started in.
class TInWorkDir {
 public:
  TInWorkDir() : previous_(fs::current_path()) { fs::current_path(WorkDir()); }
  ~TInWorkDir() {
    std::error_code error;
    fs::current_path(previous_, error);
  }
  TInWorkDir(const TInWorkDir&) = delete;
  TInWorkDir& operator=(const TInWorkDir&) = delete;

 private:
  fs::path previous_;
};

void PrepareWorkDir() {
  static const TFixtures fixtures;
  const std::string& dir = WorkDir();
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error))
    fs::remove_all(entry.path(), error);
  for (const auto& [name, text] : fixtures.Files)
    WriteScratch("work/" + name, text);
}

// The messages a script error may carry: the lexer's and the statements' own (a description,
// then the token between double quotes), a script that cannot be loaded, a character map
// refused, and the core checks of CORE CHAR and CORE MARK.
bool IsScriptErrorText(const std::string& text) {
  static const char* const expected[] = {
      "Address value",
      "CORE Command option",
      "Character convention name",
      "Character mapping string",
      "Colour constant or value",
      "File name string",
      "Label identifier",
      "Literal string, Variable identifier, \"OPTION\" or \"CRLF\"",
      "Numeric character value",
      "ON or OFF",
      "SET command option",
      "Script file name",
      "Stacker ID or File name string",
      "String expression",
      "String literal",
      "Switch identifier",
      "Tape Unit identifier",
      "Tape file name",
      "Value",
      "Variable identifier",
      "ZAP target",
      "\"(\"",
      "\")\"",
      "\"=\" or \"<>\"",
      "\"CARD\" or \"TAPE1-TAPE6\"",
      "\"HIGH\" or \"LOW\"",
      "\"ON\" or \"OFF\"",
      "\"WAIT\"",
      "\"PRINT\" or \"PUNCH\"",
      "\"PRINT\", \"PUNCH\" or \"TAPE1-TAPE6\"",
      "Print chain 'A' or 'H'",
      "Carriage tape file name",
      "\"[\"",
      "\"]\""};
  for (const char* description : expected) {
    if (text.starts_with(std::string(description) + " expected, found: \"")) return true;
  }
  if (text.starts_with("Unknown character convention (known: ")) return true;
  if (text.starts_with("Unknown print chain (known: ")) return true;
  // DEBUG 'COMMAND': the debugger's own messages begin in lower case, or with the word of the
  // command they are about.
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') return true;
  for (const char* prefix : {"COUNT needs", "DELETE needs", "DUMP needs", "HISTORY needs",
                             "IF needs", "OP needs", "SHOW HISTORY takes", "SYMBOLS needs",
                             "DEBUG needs a command in quotes", "No debugger is installed"}) {
    if (text.starts_with(prefix)) return true;
  }
  for (const char* prefix :
       {"Invalid number: \"", "Invalid Hexadecimal number: \"", "Invalid Parameter specifier: &",
        "Unterminated string: \"", "Invalid character: \"", "Label not found: ", "No previous CALL",
        "No character mapping is installed", "Cannot open file \"", "Script file \"",
        "Unknown script command: \"", "Unknown window ID: \"",
        "Character mapping string must be 64 chars long.\r: \"",
        "CALL Parameter must be a string literal: \"", "Invalid EXEC parameter \"",
        "Too many parameters on Exec call: \"", "Value to large: ", "Invalid numeric value: \"",
        "Duplicate character: \""}) {
    if (text.starts_with(prefix)) return true;
  }
  return IsProcessCheckText(text);
}

// The GUI thread's queue: posts wait for Drain.  What the processor posts while it runs is
// watched: after StopAfterShows register displays the operator presses Stop.
class TOclMessenger : public TFuzzMessenger {
 public:
  void Send(TReceiver receiver, const TMessage& message) override {
    if (receiver == TReceiver::Printer || receiver == TReceiver::ReaderPunch) KeepInside(message);
    TFuzzMessenger::Send(receiver, message);
  }
  void Post(TReceiver receiver, const TMessage& message) override {
    if (CpuRunning && message.Id == EmulatorMessage::ShowRegisters && watched_ != nullptr) {
      watched_->Cpu.AcknowledgeShowRegisters();
      if (++cpuShows_ >= StopAfterShows) {
        watched_->Registers.StopMessage.Set("Operator Halt at");
        watched_->Registers.State = CpuState::OperatorHalt;
      }
    }
    posts_.emplace_back(receiver, message);
  }
  // Delivers the queued posts (and those they cause); returns how many.
  int Drain() {
    int count = 0;
    while (!posts_.empty()) {
      auto [receiver, message] = posts_.front();
      posts_.pop_front();
      // The front panel wakes a waiting script when the processor stops, unless the operator
      // stopped it.
      if (receiver == TReceiver::MainWindow && message.Id == EmulatorMessage::CpuStopped &&
          watched_->Registers.State != CpuState::OperatorHalt &&
          static_cast<TRunState>(watched_->Script.ScriptState()) == TRunState::Waiting) {
        ScriptWake = true;
      }
      Deliver(receiver, message);
      ++count;
    }
    return count;
  }
  void Machine(TMachine& machine) { watched_ = &machine; }

  bool CpuRunning = false;
  bool ScriptWake = false;

 private:
  // A save request names a file: one with a directory is kept inside the script's directory.
  void KeepInside(const TMessage& message) {
    if (message.Id != EmulatorMessage::DeviceRequest || message.Ref == nullptr) return;
    auto* command = static_cast<DeviceCommand*>(message.Ref);
    const bool save = command->Operation == RdrSaveStacker || command->Operation == PrnSave;
    if (!save || command->Text == nullptr) return;
    const std::string& name = *command->Text;
    if (name.find_first_of("/\\") == std::string::npos && name != "..") return;
    keptInside_.push_back("saved-" + std::to_string(keptInside_.size()));
    command->Text = &keptInside_.back();
  }

  TMachine* watched_ = nullptr;
  int cpuShows_ = 0;
  std::deque<std::pair<TReceiver, TMessage>> posts_;
  std::deque<std::string> keptInside_;
};

// The trace window: checks each line; once the scripts have traced MaxStatements lines the
// operator presses Reset, which discards every script.
class TScriptTrace : public TTraceChecker {
 public:
  explicit TScriptTrace(TMachine& machine) : machine_(machine) {}
  void HandleMessage(const TMessage& message) override {
    TTraceChecker::HandleMessage(message);
    if (message.Id != EmulatorMessage::AddTraceLine || message.Ref == nullptr) return;
    const std::string& line = *static_cast<const std::string*>(message.Ref);
    if (line[0] == 'E') Errors.push_back(line.substr(1));
    if (line[0] == 'S' && ++statements_ == MaxStatements) {
      ResetPressed = true;
      machine_.Console.PBResetClick();
    }
    // Reset discards every script: whatever runs on after it is a script that escaped.
    Require(statements_ < 2 * MaxStatements, "scripts ran on after the operator's Reset");
  }
  std::vector<std::string> Errors;
  bool ResetPressed = false;

 private:
  TMachine& machine_;
  size_t statements_ = 0;
};

uint64_t Hash(const uint8_t* data, size_t size) {
  uint64_t h = 1469598103934665603ULL;
  for (size_t i = 0; i < size; ++i)
    h = (h ^ data[i]) * 1099511628211ULL;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PrepareWorkDir();
  TInWorkDir inWorkDir;
  WriteScratch("work/MAIN.OCL", std::string_view(reinterpret_cast<const char*>(data), size));

  TOclMessenger messenger;
  TMachine m(messenger);
  messenger.Machine(m);
  TScriptTrace trace(m);
  messenger.Attach(TReceiver::TraceWindow, &trace);
  m.CharMap.SetCmcPath(WorkDir() + "/kestrel.CMC");
  m.TapeUnits.SetSaveDirectory(WorkDir());
  m.TraceFlags.TraceScripts = true;
  m.TraceFlags.TraceThreads = (size & 1) != 0;
  std::vector<std::string> errorBoxes;
  m.Script.SetErrorBox([&](const std::string& text) { errorBoxes.push_back(text); });

  // Start-up with the script named on the command line.
  TScriptStart started = m.Console.FirstActivation({"MAIN.OCL"});
  messenger.ScriptWake = started == TScriptStart::Started;

  // The GUI loop: the script thread's and the processor's wake-ups, the queued messages, and the
  // operator's answers, until nothing is left to do.
  uint64_t answers = Hash(data, size);
  int round = 0;
  for (; round < MaxRounds; ++round) {
    bool busy = false;
    if (messenger.ScriptWake) {
      messenger.ScriptWake = false;
      m.Script.RunWakeup();
      busy = true;
    }
    busy = messenger.Drain() > 0 || busy;
    if (!m.Console.ProcessorIdle()) {
      m.Registers.TurboMode = false;  // the register display is the operator's clock
      messenger.CpuRunning = true;
      m.Cpu.RunWakeup();
      messenger.CpuRunning = false;
      busy = true;
    }
    busy = messenger.Drain() > 0 || busy;
    if (!busy && m.ScriptDisplay.Visible()) {
      // The operator answers: Continue (when shown), an option, or Cancel.
      int options = m.ScriptDisplay.OptionCount();
      int choice = static_cast<int>(answers % static_cast<uint64_t>(options + 2));
      answers = answers * 6364136223846793005ULL + 1442695040888963407ULL;
      if (choice == 0 && m.ScriptDisplay.ContinueVisible()) {
        m.ScriptDisplay.Continue();
        messenger.ScriptWake = true;
      } else if (choice >= 1 && choice <= options) {
        m.ScriptDisplay.ChooseOption(choice);
        messenger.ScriptWake = true;
      } else {
        m.ScriptDisplay.Cancel();
      }
      busy = true;
    }
    if (!busy) break;
  }

  if (Verbose()) {
    Report("rounds " + std::to_string(round) + "; trace lines " + std::to_string(trace.Lines()) +
           (trace.ResetPressed ? "; Reset pressed" : "") + "; processor " +
           StateText(m.Registers.State) + " \"" + m.Registers.StopMessage.Get() + "\" IAR " +
           std::to_string(m.Registers.IAR) + "; print lines " +
           std::to_string(m.Printer.LineCount()) + "; status \"" + m.Console.StatusText() + "\"");
    for (const std::string& error : trace.Errors)
      Report("script: " + error);
    for (const std::string& error : messenger.Errors())
      Report("shown: " + error);
    if (!m.Console.LastError().empty()) Report("panel: " + m.Console.LastError());
  }

  // Script errors are logged, then shown; each is a message of the machine's own, as are the
  // errors the devices show and the processor's stop.
  Require(trace.Errors.size() == errorBoxes.size(), "a script error logged but not shown");
  for (size_t i = 0; i < errorBoxes.size(); ++i) {
    Require(trace.Errors[i] == "Error: " + errorBoxes[i], "logged and shown errors differ");
    Require(IsScriptErrorText(errorBoxes[i]), "unknown script error: " + errorBoxes[i]);
  }
  for (const std::string& error : messenger.Errors()) {
    Require(IsIOCheckText(error) || IsProcessCheckText(error) || IsCardFileErrorText(error) ||
                IsDriveErrorText(error),
            "unknown device error: " + error);
  }
  const std::string& panel = m.Console.LastError();
  Require(panel.empty() || IsScriptErrorText(panel), "unknown panel error: " + panel);
  const std::string stop = m.Registers.StopMessage.Get();
  if (m.Registers.State == CpuState::MachineCheck) {
    Require(IsProcessCheckText(stop) || IsDriveErrorText(stop) || stop == "Card reader empty",
            "machine check with an unknown stop message: " + stop);
  }
  CheckMachine(m);
  return 0;
}

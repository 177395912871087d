#include "machine/Machine.h"

#include <algorithm>

namespace kestrel {

TMachine::TMachine(TMessenger& messenger) : Messenger(messenger) {
  Messenger.Attach(TReceiver::TraceWindow, &TraceLog);
  // The unit-record devices lock their own state: the processor's requests run on its thread and
  // never wait for the GUI thread.
  Messenger.Attach(TReceiver::ReaderPunch, &ReaderPunch, true);
  Messenger.Attach(TReceiver::Printer, &Printer, true);
  Messenger.Attach(TReceiver::TapeUnits, &TapeUnits);
  Messenger.Attach(TReceiver::MainWindow, &Console);
  Messenger.Attach(TReceiver::ScriptDisplay, &ScriptDisplay);
  ScriptDisplay.SetScriptControl(&Script);
  Script.SetMapping(&MappingControl);
  Console.SetMapping(&MappingControl);
  Cpu.SetDebugHook(&Debugger);
  Script.SetDebugCommand([this](const std::string& text) { return Debugger.Command(text); });
}

void TMachine::Start(const std::string& iniFile) {
  Config.Open(iniFile);
  const int32_t history = TProfileFile(iniFile).ReadInteger(
      "Debugger", "History", static_cast<int32_t>(TDebugger::DefaultHistory));
  ConfiguredHistory = static_cast<size_t>(std::clamp(history, 0, 1000000));
  Cpu.StartThread();
  Script.StartThread();
}

void TMachine::Stop() {
  Console.ProgramExit();
  Messenger.Shutdown();
  Script.EndThread();
  Cpu.EndThread();
  // Only now: a script ending in an error may still have been showing its box.
  Script.SetErrorBox(nullptr);
}

TMachine::~TMachine() {
  Script.EndThread();
  Cpu.EndThread();
  Messenger.Attach(TReceiver::TraceWindow, nullptr);
  Messenger.Attach(TReceiver::ReaderPunch, nullptr);
  Messenger.Attach(TReceiver::Printer, nullptr);
  Messenger.Attach(TReceiver::TapeUnits, nullptr);
  Messenger.Attach(TReceiver::MainWindow, nullptr);
  Messenger.Attach(TReceiver::ScriptDisplay, nullptr);
}

}  // namespace kestrel

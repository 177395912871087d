#include "support/TestMachine.h"

namespace kestrel::test {

std::string Addr(unsigned value) {
  std::string text(3, ' ');
  unsigned low = value % 1000;
  uint8_t hundreds = CharToBcd(static_cast<char>('0' + low / 100));
  uint8_t tens = CharToBcd(static_cast<char>('0' + low / 10 % 10));
  uint8_t units = CharToBcd(static_cast<char>('0' + low % 10));
  text[0] = BcdToChar(static_cast<uint8_t>(hundreds + 16 * (value % 4000 / 1000)));
  text[1] = BcdToChar(tens);
  text[2] = BcdToChar(static_cast<uint8_t>(units + 16 * (value / 4000)));
  return text;
}

void TMainWindowStub::HandleMessage(const TMessage& message) {
  if (message.Id == EmulatorMessage::CpuStopped) ++CpuStopped;
  if (message.Id == EmulatorMessage::ShowRegisters) {
    ++ShowRegisters;
    cpu_.AcknowledgeShowRegisters();
  }
}

TTestMachine::TTestMachine() {
  Messenger.Attach(TReceiver::MainWindow, &MainWindow);
  Core.ClearCore();
}

TTestMachine::~TTestMachine() {
  Messenger.Attach(TReceiver::MainWindow, nullptr);
}

uint16_t TTestMachine::Instructions(uint16_t address, std::initializer_list<std::string> list) {
  for (const std::string& instruction : list) {
    for (size_t i = 0; i < instruction.size(); ++i) {
      Core.StoreCharWM(address++, i == 0, CharToBcd(instruction[i]));
    }
  }
  Core.StoreCharWM(address, true, 0);
  return static_cast<uint16_t>(address + 1);
}

void TTestMachine::Field(uint16_t units, const std::string& text, bool wordMark) {
  uint16_t address = static_cast<uint16_t>(units - text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    Core.StoreCharWM(address++, wordMark && i == 0, CharToBcd(text[i]));
  }
}

std::string TTestMachine::Text(uint16_t units, int count) {
  std::string text;
  for (int i = count - 1; i >= 0; --i)
    text += BcdToChar(Core.Word(units - i) & 63);
  return text;
}

bool TTestMachine::WordMarkAt(uint16_t address) {
  return (Core.Word(address) & CoreChar::WordMark) != 0;
}

void TTestMachine::Run(uint16_t start) {
  if (start != 0) R.IAR = start;
  R.State = CpuState::Running;
  M.Cpu.RunWakeup();
  Messenger.DrainPosts();
}

void TTestMachine::Step() {
  R.State = CpuState::SingleStep;
  M.Cpu.RunWakeup();
  Messenger.DrainPosts();
}

void TTestMachine::Resume() {
  R.ResumePending = true;
  Run();
}

void TTestMachine::TraceAll(bool on) {
  M.TraceFlags.TraceInstructions = on;
  M.TraceFlags.TraceDetails = on;
  M.TraceFlags.TraceRegisters = on;
}

}  // namespace kestrel::test

#include "support/ScriptFixture.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace kestrel::test {

void TRecorder::HandleMessage(const TMessage& message) {
  TRecorded r;
  r.Id = message.Id;
  r.WParam = message.WParam;
  r.LParam = message.LParam;
  if (message.Id == EmulatorMessage::DeviceRequest && message.Ref != nullptr) {
    const auto& c = *static_cast<const DeviceCommand*>(message.Ref);
    r.Operation = c.Operation;
    r.Selector = c.Selector;
    r.Flag = c.Flag;
    r.HasText = c.Text != nullptr;
    if (c.Text != nullptr) r.Text = *c.Text;
    if (OnRequest) OnRequest(r);
  }
  if (message.Id == EmulatorMessage::TapeZapRequest && message.Ref != nullptr) {
    r.Zap = *static_cast<const TapeZapRecord*>(message.Ref);
  }
  Got.push_back(r);
}

void TMappingStub::SetMappingString(const std::string& text) {
  Mapping = text;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != ' ' && text.find(text[i], i + 1) != std::string::npos) {
      throw EKestrelError("Duplicate character: \"" + std::string(1, text[i]) + "\"");
    }
  }
}

TWorkDir::TWorkDir() {
  static std::atomic<int> counter{0};
  previous_ = std::filesystem::current_path();
  dir_ = std::filesystem::temp_directory_path() /
         ("kestrel-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
  std::filesystem::create_directories(dir_);
  std::filesystem::current_path(dir_);
}

TWorkDir::~TWorkDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(dir_, ec);
}

void TWorkDir::Write(const std::string& name, const std::string& text) const {
  std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string TWorkDir::Read(const std::string& name) const {
  std::ifstream in(dir_ / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TWorkDir::Exists(const std::string& name) const {
  return std::filesystem::exists(dir_ / name);
}

TScriptFixture::TScriptFixture(bool realPanel) {
  if (!realPanel) Messenger.Attach(TReceiver::MainWindow, &Panel);
  Messenger.Attach(TReceiver::ReaderPunch, &Reader);
  Messenger.Attach(TReceiver::Printer, &Printer);
  Messenger.Attach(TReceiver::TapeUnits, &Tapes);
  Messenger.SetErrorReporter([this](const std::string& m) { DeviceErrors.push_back(m); });
  M.Script.SetMapping(&Mapping);
  M.Console.SetMapping(&Mapping);
  M.Script.SetErrorBox([this](const std::string& m) { ErrorBoxes.push_back(m); });
  M.TraceFlags.TraceScripts = true;
  M.Core.ClearCore();
}

TScriptFixture::~TScriptFixture() {
  Messenger.Attach(TReceiver::ReaderPunch, nullptr);
  Messenger.Attach(TReceiver::Printer, nullptr);
  Messenger.Attach(TReceiver::TapeUnits, nullptr);
}

void TScriptFixture::Start(const std::string& script) {
  Dir.Write("MAIN.OCL", script);
  std::array<std::string, 10> params;
  params[0] = "MAIN.OCL";
  M.Script.ExecScript("MAIN.OCL", params);
  Wake();
}

void TScriptFixture::Wake() {
  M.Script.RunWakeup();
  Messenger.DrainPosts();
}

bool TScriptFixture::Traced(const std::string& line) const {
  for (const std::string& l : M.TraceLog.Lines()) {
    if (l == line) return true;
  }
  return false;
}

std::vector<std::string> TScriptFixture::ErrorLines() const {
  std::vector<std::string> errors;
  for (const std::string& l : M.TraceLog.Lines()) {
    if (!l.empty() && l[0] == 'E') errors.push_back(l.substr(1));
  }
  return errors;
}

std::vector<std::string> TScriptFixture::PanelCodes() const {
  std::vector<std::string> codes;
  for (const TRecorded& r : Panel.Got) {
    if (r.Id == EmulatorMessage::PanelCommand) {
      codes.push_back(std::to_string(r.WParam) + ":" + std::to_string(r.LParam));
    }
  }
  return codes;
}

}  // namespace kestrel::test

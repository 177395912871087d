// A machine for script tests: an inline messenger, stand-ins that record what reaches the front
// panel, the devices and the character mapping, and a scratch directory that is the current
// directory while the test runs (scripts, decks and "$TEMP$" live there).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/Messenger.h"
#include "machine/Machine.h"

namespace kestrel::test {

struct TRecorded {
  EmulatorMessage Id{};
  uintptr_t WParam = 0;
  uintptr_t LParam = 0;
  // A DeviceRequest's record, copied.
  uint16_t Operation = 0;
  uint16_t Selector = 0;
  uint8_t Flag = 0;
  std::string Text;
  bool HasText = false;
  // A TapeZapRequest's record.
  TapeZapRecord Zap;
};

class TRecorder : public IMessageReceiver {
 public:
  void HandleMessage(const TMessage& message) override;
  std::vector<TRecorded> Got;
  // Runs during a DeviceRequest (to check what a file holds at that moment, say).
  std::function<void(const TRecorded&)> OnRequest;
};

class TMappingStub : public IMappingControl {
 public:
  void SetMappingString(const std::string& text) override;
  void SetUseCmcFile(bool on) override { UseCmcFile = on; }
  void SetConvention(const TCharConvention* convention) override { Convention = convention; }
  const TCharConvention* Convention = nullptr;
  std::string Mapping;
  bool UseCmcFile = false;
};

class TWorkDir {
 public:
  TWorkDir();
  ~TWorkDir();
  void Write(const std::string& name, const std::string& text) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  const std::filesystem::path& Path() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

class TScriptFixture {
 public:
  // With `realPanel` the machine's own console receives the panel messages; otherwise a
  // recorder does.
  explicit TScriptFixture(bool realPanel = false);
  ~TScriptFixture();

  // Writes MAIN.OCL, starts it as the operator would, and runs the script thread once.
  void Start(const std::string& script);
  // One wake-up of the script thread, then the posts are delivered.
  void Wake();
  // Posts delivered (the script thread's panel and display posts among them).
  void Drain() { Messenger.DrainPosts(); }
  std::vector<std::string> Trace() const { return M.TraceLog.Lines(); }
  bool Traced(const std::string& line) const;
  // The script-error lines ("E..."), without the kind letter.
  std::vector<std::string> ErrorLines() const;
  // Panel commands received, as "code:argument".
  std::vector<std::string> PanelCodes() const;

  TWorkDir Dir;
  TInlineMessenger Messenger;
  TMachine M{Messenger};
  TRecorder Panel, Reader, Printer, Tapes;
  TMappingStub Mapping;
  std::vector<std::string> ErrorBoxes;
  std::vector<std::string> DeviceErrors;
};

}  // namespace kestrel::test

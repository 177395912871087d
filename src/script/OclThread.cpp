// The script thread: the current script and the scripts waiting for it (the EXEC chain), the
// thread body that runs them and sleeps while one waits, and the GUI thread's operations on them.
#include "script/OclThread.h"
#include "script/KestDOCL.h"
#include "script/KestIOCL.h"

namespace kestrel {

TOCLThread::TOCLThread(TRegisters& registers, TCoreStorage& core, TTraceFlags& flags,
                       TMessenger& messenger, TScriptDisplay& display)
    : registers_(registers),
      core_(core),
      messenger_(messenger),
      display_(display),
      tracer_(flags, messenger) {}

TOCLThread::~TOCLThread() {
  EndThread();
}

// ---- Thread ---------------------------------------------------------------------------------

void TOCLThread::StartThread() {
  if (thread_.joinable()) return;
  ending_ = false;
  thread_ = std::thread([this] { ThreadBody(); });
}

void TOCLThread::EndThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(wakeMutex_);
    ending_ = true;
    wakeSignal_.notify_one();
  }
  thread_.join();
}

void TOCLThread::Wake() {
  std::lock_guard lock(wakeMutex_);
  signalled_ = true;
  resume_ = true;
  wakeSignal_.notify_one();
}

void TOCLThread::WakeToRun() {
  std::lock_guard lock(wakeMutex_);
  signalled_ = true;
  wakeSignal_.notify_one();
}

bool TOCLThread::Sleeping() const {
  std::lock_guard lock(wakeMutex_);
  return sleeping_ && !signalled_;
}

// The wake-up is an event that stays signalled: one that arrives while the thread is still
// running (the processor may halt before the thread has gone to sleep after START) ends the next
// sleep at once.
bool TOCLThread::WaitForWake() {
  std::unique_lock lock(wakeMutex_);
  sleeping_ = true;
  wakeSignal_.wait(lock, [this] { return signalled_ || ending_; });
  sleeping_ = false;
  return !ending_;
}

void TOCLThread::ThreadBody() {
  while (WaitForWake())
    RunWakeup();
}

void TOCLThread::RunWakeup() {
  bool resume = false;
  {
    std::lock_guard lock(wakeMutex_);
    resume = resume_;
    signalled_ = resume_ = false;
  }
  if (begun_) {
    tracer_.TraceThread("Script Resume");
    // Only a resume (the halt after START, the operator's answer) ends a wait; the wake-up that
    // brings a newly started script does not end the wait of a script it finds waiting.
    if (TScripterPtr s = Current(); resume && s && s->RunState == TRunState::Waiting) {
      s->RunState = TRunState::Running;
    }
  }
  begun_ = true;
  RunScripts();
  if (ending_) return;
  SendPanel(PCStatusUpdate, 0);
  tracer_.TraceThread("Script Suspend");
  if (startPending_.exchange(false)) PostPanel(PCStart, 0);
}

void TOCLThread::RunScripts() {
  while (!ending_) {
    TScripterPtr s = Current();
    if (!s) return;
    if (s->RunState == TRunState::Running) {
      try {
        RunScript(*s);
      } catch (const E1401Exception& e) {
        ReportError(e.FullText());
        s->RunState = TRunState::Finished;
      } catch (const std::exception& e) {
        ReportError(e.what());
        s->RunState = TRunState::Finished;
      }
    }
    if (s->Disposed) {
      // The operator discarded the script while its statement ran: it starts nothing more.
      startPending_ = false;
      continue;
    }
    if (s->RunState == TRunState::Finished) {
      EndScript(s);
      continue;
    }
    if (s->RunState != TRunState::Waiting) continue;  // after EXEC: the called script runs next
    if (Current() == s) return;
  }
}

void TOCLThread::ReportError(const std::string& message) {
  ++ScriptErrors;
  tracer_.TraceError("Error: " + message);
  if (errorBox_) errorBox_(message);
}

// ---- Scripts --------------------------------------------------------------------------------

std::shared_ptr<TOCLScripter> TOCLThread::Current() const {
  std::lock_guard lock(scriptsMutex_);
  return current_;
}

uint8_t TOCLThread::ScriptState() const {
  std::lock_guard lock(scriptsMutex_);
  return current_ ? static_cast<uint8_t>(current_->RunState.load()) : 0;
}

bool TOCLThread::HasCurrentScript() const {
  std::lock_guard lock(scriptsMutex_);
  return current_ != nullptr;
}

std::string TOCLThread::CurrentFileName() const {
  std::lock_guard lock(scriptsMutex_);
  return current_ ? current_->FileName() : std::string();
}

void TOCLThread::Dispose(const TScripterPtr& s) {
  if (!s) return;
  s->Disposed = true;
  PostDisplay(1);
}

std::shared_ptr<TOCLScripter> TOCLThread::LoadScripter(const std::string& fileName,
                                                       const std::array<std::string, 10>& params) {
  auto s = std::make_shared<TOCLScripter>();
  tracer_.TraceScript("Script Load " + fileName);
  if (mapping_ != nullptr) mapping_->SetUseCmcFile(true);
  try {
    s->LoadScript(fileName);
  } catch (...) {
    Dispose(s);
    throw;
  }
  s->ScriptParams = params;
  return s;
}

void TOCLThread::ExecScript(const std::string& fileName,
                            const std::array<std::string, 10>& params) {
  PushScript(LoadScripter(fileName, params));
  WakeToRun();
}

void TOCLThread::PushScript(const TScripterPtr& s) {
  std::lock_guard lock(scriptsMutex_);
  callers_.push_back(current_);
  current_ = s;
}

bool TOCLThread::PushCalled(const TOCLScripter& caller, const TScripterPtr& called) {
  std::lock_guard lock(scriptsMutex_);
  if (current_.get() != &caller) return false;
  callers_.push_back(current_);
  current_ = called;
  return true;
}

void TOCLThread::EndScript(const TScripterPtr& s) {
  TScripterPtr ended;
  {
    std::lock_guard lock(scriptsMutex_);
    if (current_ != s) return;
    ended = current_;
    current_.reset();
    if (!callers_.empty()) {
      current_ = callers_.back();
      callers_.pop_back();
    }
  }
  Dispose(ended);
}

void TOCLThread::EndCurrentScript() {
  TScripterPtr s = Current();
  if (s) EndScript(s);
}

void TOCLThread::ClearScripts() {
  std::vector<TScripterPtr> ended;
  {
    std::lock_guard lock(scriptsMutex_);
    // The current script first, then its callers from the most recent down.
    if (current_) ended.push_back(current_);
    for (auto it = callers_.rbegin(); it != callers_.rend(); ++it) {
      if (*it) ended.push_back(*it);
    }
    current_.reset();
    callers_.clear();
  }
  for (const TScripterPtr& s : ended)
    Dispose(s);
  startPending_ = false;
  {
    std::lock_guard lock(wakeMutex_);
    resume_ = false;  // an answer meant for a discarded script resumes nothing
  }
  display_.ResetColours();
}

// ---- Messages -------------------------------------------------------------------------------

void TOCLThread::SendPanel(uint16_t code, uintptr_t argument) {
  TMessage m;
  m.Id = EmulatorMessage::PanelCommand;
  m.WParam = code;
  m.LParam = argument;
  messenger_.Send(TReceiver::MainWindow, m);
}

void TOCLThread::PostPanel(uint16_t code, uintptr_t argument) {
  TMessage m;
  m.Id = EmulatorMessage::PanelCommand;
  m.WParam = code;
  m.LParam = argument;
  messenger_.Post(TReceiver::MainWindow, m);
}

void TOCLThread::PostDisplay(uintptr_t hide) {
  TMessage m;
  m.Id = EmulatorMessage::ScriptDisplayShow;
  m.WParam = hide;
  messenger_.Post(TReceiver::ScriptDisplay, m);
}

void TOCLThread::SendDevice(TReceiver receiver, uint16_t operation, uint16_t selector,
                            const std::string& text, uint8_t flag) {
  DeviceCommand command;
  command.Operation = operation;
  command.Selector = selector;
  command.Flag = flag;
  command.Text = text.empty() ? nullptr : &text;
  TMessage m;
  m.Id = EmulatorMessage::DeviceRequest;
  m.Ref = &command;
  messenger_.Send(receiver, m);
}

}  // namespace kestrel

#include "gui/QtMessenger.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <cstdio>
#include <exception>

namespace kestrel {

TQtMessenger::TQtMessenger(QObject* parent) : QObject(parent) {
  SetErrorReporter([](const std::string& text) { ShowErrorBox(text); });
}

TQtMessenger::~TQtMessenger() {
  Shutdown();
}

void TQtMessenger::ShowErrorBox(const std::string& text) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  // Titled as the front panel is: the machine's own name.
  QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("IBM 1401 Emulator"),
                        QString::fromStdString(text));
}

bool TQtMessenger::OnGuiThread() const {
  return QThread::currentThread() == thread();
}

bool TQtMessenger::IsShutDown() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

template <typename TDeliver>
void TQtMessenger::SendAndWait(TDeliver&& deliver) {
  TWait wait;
  std::unique_lock lock(mutex_);
  if (closed_) return;
  // Queued while the lock is held, so a shutdown cannot slip in between the check and the wait.
  QMetaObject::invokeMethod(
      this, [this, deliver, w = &wait] { RunSent(deliver, w); }, Qt::QueuedConnection);
  delivered_.wait(lock, [&] { return wait.Done || closed_; });
}

void TQtMessenger::Send(TReceiver receiver, const TMessage& message) {
  if (OnGuiThread()) {
    if (!IsShutDown()) DeliverGuarded(receiver, message);
    return;
  }
  SendAndWait([this, receiver, message] { DeliverGuarded(receiver, message); });
}

void TQtMessenger::Call(const std::function<void()>& work) {
  auto guarded = [&work] {
    try {
      work();
    } catch (const std::exception& e) {
      ShowErrorBox(e.what());
    } catch (...) {
      ShowErrorBox("Unknown error");
    }
  };
  if (OnGuiThread()) {
    if (!IsShutDown()) guarded();
    return;
  }
  // `work` lives on the caller's stack, which stays while the caller waits.
  SendAndWait(guarded);
}

void TQtMessenger::ReportError(const std::string& error) {
  if (OnGuiThread()) {
    TMessenger::ReportError(error);
    return;
  }
  SendAndWait([this, error] { TMessenger::ReportError(error); });
}

void TQtMessenger::Post(TReceiver receiver, const TMessage& message) {
  if (IsShutDown()) return;
  QMetaObject::invokeMethod(
      this, [this, receiver, message] { DeliverPosted(receiver, message); }, Qt::QueuedConnection);
}

void TQtMessenger::RunSent(const std::function<void()>& deliver, TWait* wait) {
  {
    // After a shutdown the sender has gone on and its record may be gone: do not run.
    std::lock_guard lock(mutex_);
    if (closed_) return;
  }
  deliver();
  std::lock_guard lock(mutex_);
  if (closed_) return;  // released already, and `wait` with it
  wait->Done = true;
  delivered_.notify_all();
}

void TQtMessenger::DeliverPosted(TReceiver receiver, const TMessage& message) {
  if (IsShutDown()) return;
  DeliverGuarded(receiver, message);
}

void TQtMessenger::DeliverGuarded(TReceiver receiver, const TMessage& message) {
  // Deliver reports a handler's error itself (the error box, while the sender stays blocked);
  // this guard is for a failure of the report, which must not reach the event loop either.
  try {
    Deliver(receiver, message);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown error\n");
  }
}

void TQtMessenger::Shutdown() {
  TMessenger::Shutdown();
  std::lock_guard lock(mutex_);
  closed_ = true;
  delivered_.notify_all();
}

}  // namespace kestrel

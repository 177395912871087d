// The GUI's messenger.  A send from a worker thread is queued to the GUI thread, and the sender
// waits on its own condition until the handler has returned (a send made on the GUI thread runs
// at once); a post is queued and the sender goes on.  The GUI thread never waits for a worker:
// at exit `Shutdown` releases every waiting sender, so the worker threads can be joined.
#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "core/Messenger.h"

namespace kestrel {

class TQtMessenger : public QObject, public TMessenger {
  Q_OBJECT

 public:
  // Must be created on the GUI thread, which it serves from then on.  Errors escaping a handler
  // are shown in a modal error box unless another reporter is set.
  explicit TQtMessenger(QObject* parent = nullptr);
  ~TQtMessenger() override;

  void Send(TReceiver receiver, const TMessage& message) override;
  void Post(TReceiver receiver, const TMessage& message) override;
  // Runs `work` on the GUI thread while the caller waits, as a send does (at once when called
  // there); for what is no receiver's message, such as a script error's box.  An error escaping
  // `work` is shown in the error box.
  void Call(const std::function<void()>& work);

  // Stops delivering: waiting and later sends return at once, queued and later posts are
  // dropped.  Called on the GUI thread when its loop has ended, before the workers are joined.
  void Shutdown() override;
  bool IsShutDown() const;

  // The error box: a modal message box over the active window.
  static void ShowErrorBox(const std::string& text);

 protected:
  // A request run on a worker's thread reports its error here: the box on the GUI thread while
  // the worker waits.
  void ReportError(const std::string& error) override;

 private:
  // A sender's wait, on the sender's stack.  `Done` is written under the messenger's lock.
  struct TWait {
    bool Done = false;
  };
  bool OnGuiThread() const;
  // Runs on the GUI thread for a queued send; `wait` is untouched once the messenger is shut.
  void RunSent(const std::function<void()>& deliver, TWait* wait);
  void DeliverPosted(TReceiver receiver, const TMessage& message);
  // Queues `deliver` to the GUI thread and waits until it has run or the messenger is shut.
  template <typename TDeliver>
  void SendAndWait(TDeliver&& deliver);
  // Runs a handler with every error caught: nothing may escape into Qt's event loop.
  void DeliverGuarded(TReceiver receiver, const TMessage& message);

  mutable std::mutex mutex_;
  std::condition_variable delivered_;
  bool closed_ = false;
};

}  // namespace kestrel

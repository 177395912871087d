// The one way worker threads reach the windows (and, headless, the device models): `Send` runs a
// receiver's handler on the GUI thread while the sender waits; `Post` queues it and returns;
// `Request` runs a device's handler on the caller's own thread when the device takes requests
// there (it locks its own state), else it is a send.  Three implementations share this
// interface: inline (tests), threaded (batch) and Qt (GUI).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/KestDefs.h"

namespace kestrel {

// The receivers that publish a handle at start-up.
enum class TReceiver : uint8_t {
  MainWindow,
  TraceWindow,
  ReaderPunch,
  Printer,
  TapeUnits,
  ScriptDisplay,
  Count
};

// One message.  A sent message may carry a reference (`Ref`) into the sender's memory, used in
// place while the sender waits; a posted one carries numbers only.
struct TMessage {
  EmulatorMessage Id{};
  uintptr_t WParam = 0;
  uintptr_t LParam = 0;
  void* Ref = nullptr;
};

class IMessageReceiver {
 public:
  virtual ~IMessageReceiver() = default;
  virtual void HandleMessage(const TMessage& message) = 0;
};

class TMessenger {
 public:
  TMessenger();
  virtual ~TMessenger() = default;
  TMessenger(const TMessenger&) = delete;
  TMessenger& operator=(const TMessenger&) = delete;

  // Publishes a receiver's handle.  A message to a receiver that has none is dropped.  A
  // receiver attached `onCallersThread` guards its own state and takes a `Request` on the
  // sender's thread.
  void Attach(TReceiver receiver, IMessageReceiver* handler, bool onCallersThread = false);

  virtual void Send(TReceiver receiver, const TMessage& message) = 0;
  virtual void Post(TReceiver receiver, const TMessage& message) = 0;
  // A device request: run at once on this thread by a receiver that takes it there (an error
  // escaping it is reported as a send's is, the sender waiting for the report), else sent.
  // After the shutdown it is dropped, as a send is.
  void Request(TReceiver receiver, const TMessage& message);
  // At the program's end: no sender stays blocked from now on, so the workers can be joined.
  virtual void Shutdown() { shut_.store(true); }

  // Where an error escaping a handler is shown (the GUI's error box).  The sender of the request
  // stays blocked until this returns.  Without one, it goes to standard error.
  void SetErrorReporter(std::function<void(const std::string&)> reporter);

 protected:
  // Runs the handler, turning any error that escapes it into a report.
  void Deliver(TReceiver receiver, const TMessage& message);
  // Shows an error escaping a handler; the threaded messengers do it on the GUI thread while a
  // sender on another thread waits.
  virtual void ReportError(const std::string& error);

 private:
  std::array<std::atomic<IMessageReceiver*>, static_cast<size_t>(TReceiver::Count)> handlers_;
  std::array<std::atomic<bool>, static_cast<size_t>(TReceiver::Count)> callersThread_;
  std::atomic<bool> shut_{false};
  std::function<void(const std::string&)> reporter_;
};

// Unit tests: a send runs at once on the caller's thread; posts wait until the test drains them.
class TInlineMessenger : public TMessenger {
 public:
  void Send(TReceiver receiver, const TMessage& message) override;
  void Post(TReceiver receiver, const TMessage& message) override;
  // Delivers the queued posts (and any they cause) in order; returns how many were delivered.
  int DrainPosts();
  size_t PendingPosts() const { return posts_.size(); }

 private:
  std::deque<std::pair<TReceiver, TMessage>> posts_;
};

// One thread (the one that calls `Run`, `ProcessPending` or `ProcessUntil`) plays the GUI
// thread.  Sends from other threads wait until that thread has run the handler; sends from it run
// at once.  Order from one sender to one receiver is kept: there is one queue.
class TThreadedMessenger : public TMessenger {
 public:
  TThreadedMessenger();
  ~TThreadedMessenger() override;

  void Send(TReceiver receiver, const TMessage& message) override;
  void Post(TReceiver receiver, const TMessage& message) override;

  // Makes the calling thread the GUI thread.
  void BecomeGuiThread();
  // Delivers everything queued now, without waiting; returns how many were delivered.
  int ProcessPending();
  // Delivers messages as they come until `done` returns true (tested after each message and
  // after each wait of at most `pollMs` milliseconds).
  void ProcessUntil(const std::function<bool()>& done, int pollMs = 20);
  // Stops accepting messages: pending and later sends return at once without being delivered,
  // so no worker thread stays blocked once the GUI thread has stopped.
  void Shutdown() override;

 protected:
  void ReportError(const std::string& error) override;

 private:
  struct TItem {
    TReceiver Receiver;
    TMessage Message;
    bool* Done;                                   // null for a post
    const std::function<void()>* Work = nullptr;  // run in place of a handler (an error's report)
  };
  bool OnGuiThread() const;
  bool DeliverOne(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable delivered_;
  std::deque<TItem> queue_;
  std::atomic<std::thread::id> guiThread_;
  bool closed_ = false;
};

}  // namespace kestrel

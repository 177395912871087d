#include "core/Messenger.h"

#include <chrono>
#include <cstdio>
#include <exception>

namespace kestrel {

TMessenger::TMessenger() {
  for (auto& h : handlers_)
    h.store(nullptr, std::memory_order_relaxed);
  for (auto& c : callersThread_)
    c.store(false, std::memory_order_relaxed);
}

void TMessenger::Attach(TReceiver receiver, IMessageReceiver* handler, bool onCallersThread) {
  callersThread_[static_cast<size_t>(receiver)].store(onCallersThread, std::memory_order_relaxed);
  handlers_[static_cast<size_t>(receiver)].store(handler, std::memory_order_release);
}

void TMessenger::Request(TReceiver receiver, const TMessage& message) {
  if (!callersThread_[static_cast<size_t>(receiver)].load(std::memory_order_relaxed)) {
    Send(receiver, message);
    return;
  }
  if (shut_.load(std::memory_order_relaxed)) return;
  Deliver(receiver, message);
}

void TMessenger::SetErrorReporter(std::function<void(const std::string&)> reporter) {
  reporter_ = std::move(reporter);
}

void TMessenger::Deliver(TReceiver receiver, const TMessage& message) {
  IMessageReceiver* handler =
      handlers_[static_cast<size_t>(receiver)].load(std::memory_order_acquire);
  if (handler == nullptr) return;
  std::string error;
  try {
    handler->HandleMessage(message);
    return;
  } catch (const EProcessCheck& e) {
    // A core check inside a device operation (a punch of never-written core): its message is
    // completed by the address, as on the status line.
    error = e.FullText();
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "Unknown error";
  }
  ReportError(error);
}

void TMessenger::ReportError(const std::string& error) {
  if (reporter_) {
    reporter_(error);
  } else {
    std::fprintf(stderr, "%s\n", error.c_str());
  }
}

// ---- Inline ---------------------------------------------------------------------------------

void TInlineMessenger::Send(TReceiver receiver, const TMessage& message) {
  Deliver(receiver, message);
}

void TInlineMessenger::Post(TReceiver receiver, const TMessage& message) {
  posts_.emplace_back(receiver, message);
}

int TInlineMessenger::DrainPosts() {
  int count = 0;
  while (!posts_.empty()) {
    auto [receiver, message] = posts_.front();
    posts_.pop_front();
    Deliver(receiver, message);
    ++count;
  }
  return count;
}

// ---- Threaded -------------------------------------------------------------------------------

TThreadedMessenger::TThreadedMessenger() : guiThread_(std::this_thread::get_id()) {}

TThreadedMessenger::~TThreadedMessenger() {
  Shutdown();
}

void TThreadedMessenger::BecomeGuiThread() {
  guiThread_ = std::this_thread::get_id();
}

bool TThreadedMessenger::OnGuiThread() const {
  return guiThread_.load() == std::this_thread::get_id();
}

void TThreadedMessenger::Send(TReceiver receiver, const TMessage& message) {
  if (OnGuiThread()) {
    Deliver(receiver, message);
    return;
  }
  bool done = false;
  std::unique_lock lock(mutex_);
  if (closed_) return;
  queue_.push_back({receiver, message, &done});
  queued_.notify_one();
  delivered_.wait(lock, [&] { return done || closed_; });
}

void TThreadedMessenger::ReportError(const std::string& error) {
  if (OnGuiThread()) {
    TMessenger::ReportError(error);
    return;
  }
  // Queued behind what this sender sent and posted before, as the request's own send was.
  const std::function<void()> work = [this, &error] { TMessenger::ReportError(error); };
  bool done = false;
  std::unique_lock lock(mutex_);
  if (closed_) return;
  queue_.push_back({TReceiver::Count, TMessage{}, &done, &work});
  queued_.notify_one();
  delivered_.wait(lock, [&] { return done || closed_; });
}

void TThreadedMessenger::Post(TReceiver receiver, const TMessage& message) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  queue_.push_back({receiver, message, nullptr});
  queued_.notify_one();
}

// Delivers the first queued item with the lock released during the handler.
bool TThreadedMessenger::DeliverOne(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  TItem item = queue_.front();
  queue_.pop_front();
  lock.unlock();
  if (item.Work != nullptr) {
    (*item.Work)();
  } else {
    Deliver(item.Receiver, item.Message);
  }
  lock.lock();
  // After a shutdown the sender has already returned and its flag is gone.
  if (item.Done != nullptr && !closed_) {
    *item.Done = true;
    delivered_.notify_all();
  }
  return true;
}

int TThreadedMessenger::ProcessPending() {
  std::unique_lock lock(mutex_);
  int count = 0;
  size_t now = queue_.size();  // what is queued now; later arrivals wait for the next call
  while (now-- > 0 && DeliverOne(lock))
    ++count;
  return count;
}

void TThreadedMessenger::ProcessUntil(const std::function<bool()>& done, int pollMs) {
  std::unique_lock lock(mutex_);
  while (true) {
    lock.unlock();
    bool finished = done();
    lock.lock();
    if (finished || closed_) return;
    if (!DeliverOne(lock)) {
      queued_.wait_for(lock, std::chrono::milliseconds(pollMs));
    }
  }
}

void TThreadedMessenger::Shutdown() {
  TMessenger::Shutdown();
  std::lock_guard lock(mutex_);
  closed_ = true;
  queue_.clear();  // the items' senders are released below; posts carry no references
  delivered_.notify_all();
  queued_.notify_all();
}

}  // namespace kestrel

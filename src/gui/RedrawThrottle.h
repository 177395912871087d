// A window's redraw paced by the redraw pacer: while the processor runs, Request() redraws at
// once or lets a single-shot timer do it when the interval is up, so the run's device requests
// never redraw a window more than 30 times a second and return at once; otherwise it redraws now.
// A request made on another thread (the processor's own requests run there) only marks the
// window changed, and a timer on the GUI thread redraws it, at most 30 times a second: the
// processor never waits for the GUI thread.
#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <utility>

#include "machine/RedrawPacer.h"

namespace kestrel {

class TRedrawThrottle {
 public:
  // `paced` says whether a request now is paced (the processor runs) or redrawn at once (an
  // operator's action, a script's request while stopped).
  TRedrawThrottle(std::function<void()> redraw, std::function<bool()> paced)
      : redraw_(std::move(redraw)), paced_(std::move(paced)) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (pacer_.Fire(std::chrono::steady_clock::now())) redraw_();
    });
    watch_.setInterval(static_cast<int>(TRedrawPacer::DefaultInterval.count()));
    QObject::connect(&watch_, &QTimer::timeout, [this] {
      if (changed_.exchange(false, std::memory_order_acquire)) redraw_();
    });
    watch_.start();
  }

  // From any thread: on the GUI thread, Request(); on another, the window is marked changed.
  void RequestFromAnyThread() {
    if (QThread::currentThread() == watch_.thread()) {
      Request();
    } else {
      changed_.store(true, std::memory_order_release);
    }
  }

  // Not paced, `now` is done at once (a paced redraw still waiting is drawn by its timer too).
  void Request(const std::function<void()>& now) {
    if (!paced_()) {
      now();
      return;
    }
    Request();
  }
  void Request() {
    const auto now = std::chrono::steady_clock::now();
    if (!paced_()) {
      redraw_();
    } else if (pacer_.Ask(now)) {
      redraw_();
    } else if (pacer_.Waiting() && !timer_.isActive()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(pacer_.Due() - now);
      timer_.start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
    }
  }

 private:
  std::function<void()> redraw_;
  std::function<bool()> paced_;
  TRedrawPacer pacer_;
  QTimer timer_;
  // Polls the mark another thread's requests leave.
  QTimer watch_;
  std::atomic<bool> changed_{false};
};

}  // namespace kestrel

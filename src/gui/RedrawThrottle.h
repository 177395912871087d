// A window's redraw paced by the redraw pacer: while the processor runs, Request() redraws at
// once or lets a single-shot timer do it when the interval is up, so the run's device requests
// never redraw a window more than 30 times a second and return at once; otherwise it redraws now.
#pragma once

#include <QObject>
#include <QTimer>
#include <algorithm>
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
};

}  // namespace kestrel

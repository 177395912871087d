// The redraw pacer: how often a window redraws while events keep coming.  A redraw asked for
// an interval or more after the last one is done at once; one asked for sooner waits until the
// interval is up, and every request meanwhile is the same waiting redraw.  So a burst of device
// events costs one redraw per interval (30 a second by default), and the last state is always
// drawn.  Times are given by the caller, so the rule is tested without a clock.
#pragma once

#include <chrono>

namespace kestrel {

class TRedrawPacer {
 public:
  using TTime = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds DefaultInterval{33};

  explicit TRedrawPacer(std::chrono::milliseconds interval = DefaultInterval)
      : interval_(interval) {}

  // A redraw is asked for at `now`: true when it is to be done now (and counts as done).
  bool Ask(TTime now) {
    if (waiting_) return false;
    if (drawn_ && now - last_ < interval_) {
      waiting_ = true;
      return false;
    }
    drawn_ = true;
    last_ = now;
    return true;
  }
  // The time the waiting redraw is due (meaningful while Waiting()).
  TTime Due() const { return last_ + interval_; }
  bool Waiting() const { return waiting_; }
  // The wait is over at `now`: true when a redraw waited and is to be done now.
  bool Fire(TTime now) {
    if (!waiting_) return false;
    waiting_ = false;
    last_ = now;
    return true;
  }

 private:
  std::chrono::milliseconds interval_;
  TTime last_{};
  bool drawn_ = false;
  bool waiting_ = false;
};

}  // namespace kestrel

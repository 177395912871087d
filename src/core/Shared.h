// A value read by one thread while another writes it.  Every value the machine shares across
// threads is at most 16 bits wide and written whole, so a relaxed atomic is exactly enough:
// no ordering is implied, only that a reader sees some whole value that was written.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrel {

template <typename T>
class TShared {
 public:
  constexpr TShared() noexcept : value_{} {}
  constexpr TShared(T value) noexcept : value_{value} {}  // NOLINT: implicit by design
  TShared(const TShared&) = delete;
  TShared& operator=(const TShared&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }  // NOLINT
  T Get() const noexcept { return value_.load(std::memory_order_relaxed); }
  TShared& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  T Exchange(T value) noexcept { return value_.exchange(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

// The run loop's one word of attention: while it is 0, nothing the loop would have to look at has
// changed and no stop, trace or other reason asks for the careful way, so the common instruction
// tests this one value.  Each reason is a bit, set and cleared by whoever owns it.  `Look` is set
// by every write of a value the loop watches (run state, resume, the stop fields, instruction
// tracing, the end of the thread); the loop clears it before it reads those values again, so a
// write that comes after the clear leaves the bit set for the next instruction.
class TAttention {
 public:
  enum TReason : uint32_t {
    ARLook = 1,      // a watched value was written: the loop looks at them all
    ARStops = 2,     // an address or op code stop is set
    ARTrace = 4,     // instructions are traced
    ARDebugger = 8,  // reserved for a debugger's own reason
    ARBusy = 16,     // the printer is busy: each instruction counts down its time
  };
  bool Any() const noexcept { return word_.load(std::memory_order_acquire) != 0; }
  bool Has(TReason reason) const noexcept {
    return (word_.load(std::memory_order_acquire) & reason) != 0;
  }
  void Set(TReason reason) noexcept {
    if (!(word_.load(std::memory_order_relaxed) & reason)) {
      word_.fetch_or(reason, std::memory_order_acq_rel);
    }
  }
  void Clear(TReason reason) noexcept {
    if (word_.load(std::memory_order_relaxed) & reason) {
      word_.fetch_and(~static_cast<uint32_t>(reason), std::memory_order_acq_rel);
    }
  }
  void Assign(TReason reason, bool on) noexcept { on ? Set(reason) : Clear(reason); }

 private:
  std::atomic<uint32_t> word_{0};
};

// A shared value the run loop watches: written like a TShared, each write tells the attention
// word to look (a write of `Quiet`, the value the loop itself writes when it has seen the change,
// does not).
template <typename T>
class TWatched {
 public:
  constexpr explicit TWatched(TAttention* attention, T value = T{}) noexcept
      : value_{value}, attention_(attention) {}
  TWatched(const TWatched&) = delete;
  TWatched& operator=(const TWatched&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }  // NOLINT
  T Get() const noexcept { return value_.load(std::memory_order_relaxed); }
  TWatched& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    if (attention_ != nullptr) attention_->Set(TAttention::ARLook);
    return *this;
  }
  T Exchange(T value) noexcept {
    T before = value_.exchange(value, std::memory_order_relaxed);
    if (attention_ != nullptr) attention_->Set(TAttention::ARLook);
    return before;
  }
  // Written by the one who has seen the change already: no look asked for.
  void SetQuietly(T value) noexcept { value_.store(value, std::memory_order_relaxed); }
  // The attention word to tell (set once, before the threads run).
  void Watch(TAttention* attention) noexcept { attention_ = attention; }

 private:
  std::atomic<T> value_;
  TAttention* attention_;
};

}  // namespace kestrel

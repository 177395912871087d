// A value read by one thread while another writes it.  Every value the machine shares across
// threads is at most 16 bits wide and written whole, so a relaxed atomic is exactly enough:
// no ordering is implied, only that a reader sees some whole value that was written.
#pragma once

#include <atomic>

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

}  // namespace kestrel

// What the fuzzers share: a messenger that plays the operator (it presses Stop once a run has
// gone on long enough), a scratch directory for the files an input becomes, the catalogue of
// messages the machine may stop or fail with, and the check that ends a run on a broken promise.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Messenger.h"
#include "machine/Machine.h"

namespace kestrel::fuzz {

// A broken promise of the machine: reported on standard error, then abort(), which libFuzzer
// records as a crash with the input that caused it.
[[noreturn]] void Fail(const std::string& what);
inline void Require(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

// With KESTREL_FUZZ_VERBOSE set, each input's outcome is written to standard error (to see what a
// seed or a crash input does: run the fuzzer on that file alone).
bool Verbose();
void Report(const std::string& line);

// Sends run at once on the caller's thread.  Of the posts, ShowRegisters (one every 200
// instructions of a run) is acknowledged at once and counted: once `StopAfter` of them have
// come, the operator presses Stop.  Everything else posted is only counted.  An error escaping a
// handler (an I/O check) is kept, as the error box would show it.
class TFuzzMessenger : public TMessenger {
 public:
  TFuzzMessenger();
  void Send(TReceiver receiver, const TMessage& message) override;
  void Post(TReceiver receiver, const TMessage& message) override;

  // The machine whose processor the operator stops; set before the run.
  void Watch(TMachine& machine, int stopAfter);
  int ShowRegisters() const { return showRegisters_; }
  int CpuStopped() const { return cpuStopped_; }
  const std::vector<std::string>& Errors() const { return errors_; }

 private:
  TMachine* machine_ = nullptr;
  int stopAfter_ = 0;
  int showRegisters_ = 0;
  int cpuStopped_ = 0;
  std::vector<std::string> errors_;
};

// Stands in for the trace window: checks each line as it comes (a kind letter first, or the
// blank of the arithmetic and edit details) and keeps only the count, so a long traced run
// costs no memory.  Attach it in place of the machine's trace log.
class TTraceChecker : public IMessageReceiver {
 public:
  void HandleMessage(const TMessage& message) override;
  size_t Lines() const { return lines_; }

 private:
  size_t lines_ = 0;
};

// A directory of this process's own for the files the inputs become, removed at exit.
const std::string& ScratchDir();
// Writes `bytes` to ScratchDir()/name (replacing it) and returns the path.
std::string WriteScratch(const std::string& name, std::string_view bytes);

// Whether a text is one the machine stops or fails with.  Each catalogue entry is a message as
// raised: a process check's text is followed by its address in decimal.
bool IsProcessCheckText(const std::string& text);  // "Invalid Address: 4000 used by 500"
bool IsIOCheckText(const std::string& text);       // "Card reader empty"
bool IsDriveErrorText(const std::string& text);    // "Tape Parity Error"
// A card file load or a pile saved: "Unmapped character: ...", "Cannot write file:-" ...
bool IsCardFileErrorText(const std::string& text);
// Lines of a message are separated by a single carriage return: no other control character.
bool IsMessageText(const std::string& text);

// Checks that hold after anything the machine did: every core word is a code, a word mark and
// the changed and written bits, nothing else; trace lines begin with a kind letter (or the
// blank of the arithmetic and edit details); print lines
// are 132 characters (or empty, for spacing); cards in the piles are 80 columns of the internal
// set.
void CheckMachine(TMachine& machine);

// Reads the bytes of an input in turn; past the end it gives zeros.
class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() {
    uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  // The next `n` bytes (fewer at the end) as text.
  std::string_view Take(size_t n) {
    n = std::min(n, size_ - at_);
    std::string_view text(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return text;
  }
  // Everything not read yet.
  std::string_view Rest() { return Take(size_ - at_); }
  size_t Left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace kestrel::fuzz

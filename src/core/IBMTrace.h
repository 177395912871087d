// The trace log: the five trace flags, the line list the trace window shows (with its
// 30000-line rule), and the hand-over of thread, error and script lines to it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/Messenger.h"
#include "core/Shared.h"

namespace kestrel {

// The five flags, written by the trace window's check boxes (and by the processor and the front
// panel for instruction tracing), read by every thread.
struct TTraceFlags {
  // Watched by the processor's run loop (it hands its attention word over when it is built).
  TWatched<bool> TraceInstructions{nullptr};
  TShared<bool> TraceDetails;
  TShared<bool> TraceRegisters;
  TShared<bool> TraceScripts;
  TShared<bool> TraceThreads;
  // Details and registers need instruction tracing: all processor output goes through it.
  bool Details() const { return TraceInstructions && TraceDetails; }
};

// Colour of a line, chosen by its first character (the kind letter).
struct TTraceColour {
  unsigned char Red, Green, Blue;
};
TTraceColour TraceKindColour(char kind);

// The trace window's model: the line list.  It receives AddTraceLine on the GUI thread.
class TTraceLog : public IMessageReceiver {
 public:
  static constexpr size_t MaxLines = 30000;
  static constexpr const char* LogFileName = "Kestrel.LOG";

  // Appends a line (an empty one is ignored); past 30000 lines the list is cleared completely,
  // the new line included.
  void AddLine(std::string line);
  void Clear();
  // Writes every line, kind letter included, replacing the file.  Throws EKestrelError when the
  // file cannot be written.
  void Save(const std::string& path = LogFileName) const;

  size_t Count() const;
  std::string Line(size_t index) const;
  std::vector<std::string> Lines() const;
  // Bumped on every change, so a view can tell whether to redraw.
  uint64_t Version() const;

  void HandleMessage(const TMessage& message) override;

 private:
  mutable std::mutex mutex_;  // a view may read the list from another thread
  std::vector<std::string> lines_;
  uint64_t version_ = 0;
};

// What the worker threads use to hand lines to the trace window.
class TTracer {
 public:
  TTracer(TTraceFlags& flags, TMessenger& messenger) : flags_(flags), messenger_(messenger) {}
  // "T" + text when thread tracing is on.
  void TraceThread(std::string_view text);
  // "E" + text, always.
  void TraceError(std::string_view text);
  // "S" + text when script tracing is on.
  void TraceScript(std::string_view text);
  // Hands over one whole line (kind letter included), synchronously.
  void AddLine(std::string& line);

 private:
  TTraceFlags& flags_;
  TMessenger& messenger_;
};

}  // namespace kestrel

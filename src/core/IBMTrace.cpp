#include "core/IBMTrace.h"

#include <fstream>

#include "core/KestDefs.h"

namespace kestrel {

TTraceColour TraceKindColour(char kind) {
  switch (kind) {
    case 'I':
      return {0, 0, 0};
    case 'D':
      return {128, 128, 128};
    case 'R':
      return {0, 0, 255};
    case 'E':
      return {255, 0, 0};
    case 'T':
      return {0, 128, 0};
    case 'S':
      return {101, 202, 0};
    default:
      return {255, 128, 64};
  }
}

void TTraceLog::AddLine(std::string line) {
  if (line.empty()) return;
  std::lock_guard lock(mutex_);
  lines_.push_back(std::move(line));
  if (lines_.size() > MaxLines) lines_.clear();
  ++version_;
}

void TTraceLog::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  ++version_;
}

void TTraceLog::Save(const std::string& path) const {
  std::vector<std::string> lines = Lines();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines)
    out << line << '\n';
  out.flush();
  if (!out) throw EKestrelError("Cannot write the trace log to " + path);
}

size_t TTraceLog::Count() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

std::string TTraceLog::Line(size_t index) const {
  std::lock_guard lock(mutex_);
  return index < lines_.size() ? lines_[index] : std::string();
}

std::vector<std::string> TTraceLog::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

uint64_t TTraceLog::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

void TTraceLog::HandleMessage(const TMessage& message) {
  if (message.Id == EmulatorMessage::AddTraceLine && message.Ref != nullptr) {
    AddLine(*static_cast<const std::string*>(message.Ref));
  }
}

void TTracer::AddLine(std::string& line) {
  TMessage message;
  message.Id = EmulatorMessage::AddTraceLine;
  message.Ref = &line;
  messenger_.Send(TReceiver::TraceWindow, message);
}

void TTracer::TraceThread(std::string_view text) {
  if (!flags_.TraceThreads) return;
  std::string line(1, 'T');
  line += text;
  AddLine(line);
}

void TTracer::TraceError(std::string_view text) {
  std::string line(1, 'E');
  line += text;
  AddLine(line);
}

void TTracer::TraceScript(std::string_view text) {
  if (!flags_.TraceScripts) return;
  std::string line(1, 'S');
  line += text;
  AddLine(line);
}

}  // namespace kestrel

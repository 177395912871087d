#include "devices/IBM1403.h"

#include <cstdio>
#include <exception>

#include "charset/IBMDefs.h"

namespace kestrel {

TPrinter::TPrinter(TRegisters& registers, TCoreStorage& core, const TCharMap& charMap)
    : registers_(registers), core_(core), charMap_(charMap) {}

TPrinter::~TPrinter() {
  if (printList_.FileName().empty()) return;
  printList_.Flush(true);
  std::string error = printList_.TakeError();
  // The program is ending: there is no window left to show it in.
  if (!error.empty()) std::fprintf(stderr, "%s\n", TextOfError(error).c_str());
}

void TPrinter::KeepPrintFile(const std::string& fileName) {
  auto lock = Lock();
  printList_.KeepInFile(fileName);
}

std::string TPrinter::TextOfError(const std::string& error) {
  return error + "\rThe printed lines are kept in memory.";
}

void TPrinter::ReportFileError() {
  std::string error = printList_.TakeError();
  if (!error.empty()) throw EKestrelError(TextOfError(error));
}

// ---- Device requests ------------------------------------------------------------------------

void TPrinter::HandleMessage(const TMessage& message) {
  if (message.Id != EmulatorMessage::DeviceRequest || message.Ref == nullptr) return;
  Request(*static_cast<const DeviceCommand*>(message.Ref));
}

void TPrinter::Request(const DeviceCommand& command) {
  auto lock = Lock();
  switch (command.Operation) {
    case PrnReset:
      Reset();
      break;
    case PrnSave:
      Save(command.Text != nullptr ? *command.Text : std::string());
      break;
    case PrnPrint:
      PrintLine(command.Selector == 1);
      break;
    case PrnCarriage:
      CarriageControl(command.Selector);
      break;
    case PrnLineCount:
      StoreLineCount();
      break;
    case PrnLoadCarriage:
      LoadCarriageTape(command.Text != nullptr ? *command.Text : std::string());
      break;
    case PrnChain:
      SetChain(static_cast<char>(command.Selector));
      break;
    default:
      RaiseIOCheck("Invalid I/O Op for PRN: " + std::to_string(command.Operation), 0);
  }
  if (!registers_.TurboMode) Refresh();
  ReportFileError();
}

// ---- Operations -----------------------------------------------------------------------------

void TPrinter::Reset() {
  printList_.clear();
  if (tapeLoaded_) {
    carriage_.Restore();
    formBase_ = 0;
    PublishCarriage();
  }
}

void TPrinter::LoadCarriageTape(const std::string& fileName) {
  TCarriageTape tape;
  if (!fileName.empty()) tape.LoadFile(fileName);
  auto lock = Lock();
  carriage_ = tape;
  carriageName_ = fileName;
  tapeLoaded_ = true;
  formBase_ = printList_.size();
  pendingSpace_ = 0;
  PublishCarriage();
}

bool TPrinter::StartsPage(size_t index) const {
  if (!tapeLoaded_ || index < formBase_) return false;
  return carriage_.Punched(static_cast<int>((index - formBase_) % carriage_.Length()), 1);
}

void TPrinter::PublishCarriage() {
  uint8_t state = tapeLoaded_ ? TapeLoaded : 0;
  if (carriage_.Channel9()) state |= Latch9;
  if (carriage_.Channel12()) state |= Latch12;
  registers_.CarriageState = state;
}

void TPrinter::AppendLines(size_t count) {
  if (!formFeeds_) {
    printList_.AppendEmpty(count);
    return;
  }
  for (size_t i = 0; i < count; ++i)
    printList_.push_back(FeedAt(printList_.size()) ? std::string(1, FormFeed) : std::string());
}

int TPrinter::MoveCarriage(uint16_t selector, bool immediate) {
  if (selector > Skip) {
    int channel = selector - Skip;
    int moved = carriage_.Skip(channel, immediate);
    if (moved < 0) registers_.RunawayChannel = static_cast<uint8_t>(channel);
    return moved;
  }
  return carriage_.Space(selector);
}

void TPrinter::Save(const std::string& fileName) {
  auto lock = Lock();
  printList_.Save(fileName);
}

void TPrinter::PrintLine(bool wordMarks) {
  // One mapping for the whole line, even if a script installs another meanwhile.
  TMappingPtr mapping = charMap_.Mapping();
  std::string line;
  line.reserve(LineWidth);
  for (uint16_t a = PrintArea; a < PrintArea + LineWidth; ++a) {
    registers_.BAR = a;
    TCharWM c = core_.ReadCharWM(a);
    uint8_t code = wordMarks ? (c.WordMark ? 1 : 0) : c.Code;
    line += ChainPrintChar(chain_, code, mapping->PrintChar(code));
  }
  if (FeedAt(printList_.size())) line.insert(line.begin(), FormFeed);
  printList_.push_back(std::move(line));
  if (tapeLoaded_) {
    // The carriage spaces a line after the print unless told otherwise.
    int moved = MoveCarriage(pendingSpace_ != 0 ? pendingSpace_ : 1, false);
    if (moved > 1) AppendLines(static_cast<size_t>(moved - 1));
    PublishCarriage();
  } else {
    printList_.AppendEmpty(pendingSpace_);
  }
  pendingSpace_ = 0;
  if (!registers_.TurboMode && scroll_) scroll_();
}

void TPrinter::CarriageControl(uint16_t selector) {
  if (tapeLoaded_) {
    // Ordering a skip turns the channel 9 and 12 latches off, also when the skip waits for the
    // next print: a program that has seen the overflow and asked for the new page does not see it
    // again on this one.
    if (selector % Immediate > Skip) carriage_.ClearLatches();
    if (selector >= Immediate) {
      int moved = MoveCarriage(selector - Immediate, true);
      if (moved > 0) AppendLines(static_cast<size_t>(moved));
      pendingSpace_ = 0;
    } else {
      pendingSpace_ = selector;
    }
    PublishCarriage();
    return;
  }
  if (selector >= Immediate) {
    printList_.AppendEmpty(selector - Immediate);
    pendingSpace_ = 0;
  } else {
    pendingSpace_ = selector;
  }
}

void TPrinter::StoreLineCount() {
  registers_.PrinterLineCount = static_cast<uint16_t>(printList_.size() % LineCountCycle);
}

void TPrinter::Refresh() {
  ++refreshes_;
  if (refresh_) refresh_();
}

}  // namespace kestrel

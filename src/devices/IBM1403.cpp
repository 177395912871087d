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
}

void TPrinter::Save(const std::string& fileName) {
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
  printList_.push_back(std::move(line));
  printList_.AppendEmpty(pendingSpace_);
  pendingSpace_ = 0;
  if (!registers_.TurboMode && scroll_) scroll_();
}

void TPrinter::CarriageControl(uint16_t selector) {
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

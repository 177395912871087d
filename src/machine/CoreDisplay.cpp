#include "machine/CoreDisplay.h"

#include <algorithm>

#include "debug/Debugger.h"

namespace kestrel {

std::string TCoreDisplay::Ruler() {
  std::string ruler(Columns, '.');
  ruler[0] = '0';
  for (int tens = 1; tens <= 9; ++tens) {
    ruler[static_cast<size_t>(tens * 10)] = '0';
    ruler[static_cast<size_t>(tens * 10 - 1)] = static_cast<char>('0' + tens);
  }
  for (int column = 5; column < Columns; column += 10)
    ruler[static_cast<size_t>(column)] = '^';
  return ruler;
}

std::string TCoreDisplay::PopupText(uint32_t address) const {
  if (address >= TCoreStorage::MaxSize) return {};
  uint16_t word = core_.Word(static_cast<uint16_t>(address));
  uint8_t code = static_cast<uint8_t>(word & CoreChar::CodeMask);
  std::string text = " " + std::to_string(address) + "=\"" + BcdToChar(code) + "\"";
  if (word & CoreChar::WordMark) text += "+WM";
  text += " ($" + Hex2(code) + ") ";
  return text;
}

int TCoreDisplay::ScrollMaximum() const {
  return std::max(core_.Size() / Columns - visibleRows_, 5);
}

int TCoreDisplay::DrawnRows() const {
  int rows = 0;
  uint32_t size = core_.Size();
  while (rows < visibleRows_ && base_ + static_cast<uint32_t>(rows) * Columns < size)
    ++rows;
  return rows;
}

int32_t TCoreDisplay::AddressAt(int row, int column) const {
  if (row < 0 || column < 0 || column >= Columns || row >= DrawnRows()) return -1;
  uint32_t address = base_ + static_cast<uint32_t>(row) * Columns + static_cast<uint32_t>(column);
  return address < TCoreStorage::MaxSize ? static_cast<int32_t>(address) : -1;
}

void TCoreDisplay::SetDebugger(TDebugger* debugger) {
  debugger_ = debugger;
  marksVersion_ = UINT64_MAX;
  marks_.clear();
  SyncMarks();
}

bool TCoreDisplay::SyncMarks() {
  if (debugger_ == nullptr || debugger_->Version() == marksVersion_) return false;
  marksVersion_ = debugger_->Version();
  std::vector<uint16_t> marks = debugger_->BreakAddresses();
  if (marks == marks_) return false;
  marks_ = std::move(marks);
  return true;
}

bool TCoreDisplay::Marked(uint32_t address) const {
  return !marks_.empty() && std::binary_search(marks_.begin(), marks_.end(), address);
}

std::string TCoreDisplay::LabelText(uint32_t address) const {
  if (debugger_ == nullptr || address >= TCoreStorage::MaxSize) return {};
  const std::string label = debugger_->LabelOf(static_cast<uint16_t>(address));
  return label.empty() ? label : Addr5(address) + " " + label;
}

std::string TCoreDisplay::ToggleBreak(uint32_t address) {
  if (debugger_ == nullptr || address >= TCoreStorage::MaxSize) return "no debugger here";
  std::string error = debugger_->ToggleBreakAt(static_cast<uint16_t>(address));
  SyncMarks();
  return error;
}

std::string TCoreDisplay::WatchWrites(uint32_t address) {
  if (debugger_ == nullptr || address >= TCoreStorage::MaxSize) return "no debugger here";
  std::string error;
  debugger_->AddWatchpoint(Addr5(address), error);
  return error;
}

}  // namespace kestrel

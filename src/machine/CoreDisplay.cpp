#include "machine/CoreDisplay.h"

#include <algorithm>

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

}  // namespace kestrel

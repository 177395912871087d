// Definitions shared by the whole machine: the machine checks, plain errors, the window message
// catalogue, the device request records and the front panel command codes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrel {

// ---- Machine checks --------------------------------------------------------------------------

// A failure of the emulated machine: a message written so that the address, appended in decimal,
// completes it ("Invalid Address: 4000 used by " + 500).
class E1401Exception : public std::runtime_error {
 public:
  E1401Exception(const std::string& message, uint16_t address)
      : std::runtime_error(message), Address(address) {}
  // The message followed by the address in decimal, as the stop line shows it.
  std::string FullText() const { return what() + std::to_string(Address); }
  uint16_t Address;
};

// The program did something the processor refuses.
class EProcessCheck : public E1401Exception {
 public:
  using E1401Exception::E1401Exception;
};

// A device cannot do what was asked.
class EIOCheck : public E1401Exception {
 public:
  using E1401Exception::E1401Exception;
};

[[noreturn]] void RaiseProcessCheck(const std::string& message, uint16_t address);
[[noreturn]] void RaiseIOCheck(const std::string& message, uint16_t address);

// A plain error of a script, a card translation, a character-map file or a drive: one message,
// lines separated by a single carriage return.
class EKestrelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Window messages ------------------------------------------------------------------------

// The message numbers: offsets from the first application message number (0x8000).
enum class EmulatorMessage : uint16_t {
  AddTraceLine = 0x8064,
  DisplayResized = 0x812C,
  ShowRegisters = 0x812D,
  PanelCommand = 0x812E,
  ScriptDisplayShow = 0x812F,
  DeviceRequest = 0x8130,
  CpuStopped = 0x8131,
  TapeZapRequest = 0x8132,
};

// ---- Device requests ------------------------------------------------------------------------
// The processor, the scripts and the console send these; each device decodes its own operations
// and raises an I/O check on any other.

// The record a DeviceRequest carries; it lives in the sender's memory while the request runs.
struct DeviceCommand {
  uint16_t Operation = 0;
  uint16_t Selector = 0;
  uint8_t Flag = 0;
  const std::string* Text = nullptr;  // null when the text is empty
};

// Operations of the reader/punch.
enum TReaderOp : uint16_t {
  RdrReset = 1,
  RdrClearStacker = 2,  // selector: a stacker code
  RdrLoadDeck = 3,      // text: the file name; flag 1: upper case
  RdrLoadCard = 4,
  RdrSaveStacker = 5,  // selector: a stacker code; text: the file name
  RdrRead = 6,         // selector RdrColumnBinary: the column binary image
  RdrPunch = 7,        // selector RdrColumnBinary: the column binary image
  RdrSelectStacker = 20,
  RdrDummyCard = 21,       // text: the card
  RdrPocketToHopper = 22,  // selector: a stacker code; its cards go behind the hopper's
  RdrWaitWhenEmpty = 23,   // selector 1: an empty hopper makes the reader not ready; 0: off
  RdrCheckReady = 24,      // the processor asks before a read, while the wait is on
};

// The selector of a read or punch in column binary (the column binary feature).
inline constexpr uint16_t RdrColumnBinary = 1;

// The stackers that operations 2 and 5 of the reader/punch name by their selector.
enum TStackerCode : uint16_t {
  StackerReadN = 1,
  StackerRead1 = 2,
  Stacker82 = 3,
  StackerPunch4 = 4,
  StackerPunchN = 5,
};

// Operations of the printer.
enum TPrinterOp : uint16_t {
  PrnReset = 1,
  PrnSave = 5,   // text: the file name
  PrnPrint = 7,  // selector 1: the word marks
  PrnCarriage = 8,
  PrnLineCount = 9,
  PrnLoadCarriage = 10,  // text: the carriage tape file (empty: the usual tape)
  PrnChain = 20,         // selector: the print chain, 'A' or 'H'
};

// Operations of the tape units; the selector is the unit, 1 to 6.
enum class TTapeOp : uint16_t {
  TapeResetAll = 1,  // selector 0: every drive
  TapeMount = 3,     // text: the file name
  TapeLoad = 4,
  TapeRead = 6,
  TapeWrite = 7,
  TapeClearIndicate = 30,
  TapeProtectOn = 31,
  TapeProtectOff = 32,
  TapeRewind = 33,
  TapeUnload = 34,
  TapeWriteMark = 35,
  TapeBackspace = 42,
  TapeSkipBlank = 43,
  TapeSave = 40,          // text: the file name, whose extension chooses the layout
  TapeMountScratch = 41,  // a new empty reel that may be written
  TapeDensityHigh = 44,
  TapeDensityLow = 45,
  TapeParityOn = 46,   // a .tap reel's bad parity bits set the tape error indicator
  TapeParityOff = 47,  // a .tap reel's bit 6 is ignored (the start)
};
constexpr uint16_t Operation(TTapeOp op) {
  return static_cast<uint16_t>(op);
}

// The mode byte (flag) of a TapeRead or TapeWrite request.
namespace TapeMode {
inline constexpr uint8_t WordMarks = 2;   // load mode (op code L): word separators on tape
inline constexpr uint8_t EvenParity = 4;  // unit type U
inline constexpr uint8_t OddParity = 8;   // unit type B: the binary mode
}  // namespace TapeMode

// The record a TapeZapRequest carries: overwrite one byte of a mounted tape image.
struct TapeZapRecord {
  uint16_t Unit = 0;
  uint32_t Offset = 0;
  uint16_t Value = 0;  // the low 8 bits are used
};

// PanelCommand codes (wParam), handled by the main window.
enum TPanelCode : uint16_t {
  PCStatusUpdate = 1,
  PCSystemReset = 5,
  PCStart = 15,
  PCShowWindow = 20,
  PCHideWindow = 21,
  PCSwitchOn = 22,
  PCSwitchOff = 23,
  PCTurboOn = 24,
  PCTurboOff = 25,
  PCCoreSize = 30,
};

// Windows a PanelCommand 20 or 21 shows or hides (lParam).
enum TPanelWindow : uint16_t {
  PWCoreDisplay = 1,
  PWReaderPunch = 2,
  PWPrinter = 3,
  PWTapeUnits = 4,
  PWTrace = 5,
};

}  // namespace kestrel

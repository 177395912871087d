// Tape images, both layouts: the decoder on its own, then the image mounted on a drive and
// driven by the requests the processor and the scripts send (read records into core, load,
// rewind, clear the indicator, write records and tape marks, zap bytes, unload and mount again).
// A bad image must give a drive error and a Machine Check, never a crash, a hang or a record
// stored outside core; the decoder must always move on.
//
// Input: a header, then the image.
//   0      options: bits 0-1 the layout (BCD, MT, .tap, .p7b); 4 the file name carries no layout
//          (".DAT"), so the drive's previous layout stays; 8 the drives check a .tap reel's
//          parity bits
//   1      the number of requests (low 4 bits), two bytes each, next
//   ...    request bytes: the request (low 4 bits) and its argument
//   rest   the tape image
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "devices/TapeDisp.h"
#include "devices/TapeFormats.h"
#include "machine/Machine.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

enum : uint8_t { OptLayout = 3, OptNoLayout = 4, OptParity = 8 };

constexpr TImageFormat Layouts[] = {IFBCD, IFMT, IFTAP, IFP7B};
constexpr const char* LayoutNames[] = {"tape.bcd", "tape.mt", "tape.tap", "tape.p7b"};

// Whatever reel the bytes are, its records written as a .tap reel read back the same; a bad
// reel is refused with its name and an offset inside the file.
void RecordsAlone(std::string_view text, TImageFormat format) {
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  std::vector<TTapeRecord> records;
  try {
    records = DecodeImage(bytes, format, "R");
  } catch (const EKestrelError& e) {
    const std::string what = e.what();
    Report("records: " + what);
    if (!IsCheckedFormat(format) && what.rfind("Tape image R: $0D", 0) == 0) return;
    Require(IsDriveErrorText(what), "unexpected reel error: " + what);
    const size_t at = what.rfind(' ');
    Require(std::stoull(what.substr(at + 1)) <= bytes.size(), "offset past the end: " + what);
    return;
  }
  for (const TTapeRecord& r : records)
    Require(r.Codes.size() <= MaxTapeRecord, "a record longer than the drive's limit");
  if (records.empty()) return;  // an empty .tap reel is refused
  Require(DecodeImage(EncodeImage(records, IFTAP), IFTAP, "R") == records,
          "the records written as .tap read back differently");
}

// Every call of NextFrame moves the decoder on or ends a record, so an image is read to its end
// (where it fails) within a number of calls bounded by its size.
void DecodeAlone(std::string_view bytes, TImageFormat format) {
  TTapeImage image;
  image.SetFormat(format);
  image.Assign(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  const size_t bound = 2 * bytes.size() + 8;
  size_t calls = 0;
  size_t endsInARow = 0;
  try {
    while (true) {
      int frame = image.NextFrame();
      Require((frame >= 0 && frame <= 63) || frame == EndOfRecord || frame == EndOfTape,
              "NextFrame returned " + std::to_string(frame));
      Require(image.Position() <= image.Size(), "decoder position past the end of the image");
      Require(++calls <= bound, "the decoder does not come to the end of the image");
      // An MT image read on at its end keeps answering End of Tape; so does a run of tape marks,
      // but each of those moves on four bytes.
      endsInARow = frame == EndOfTape && image.Position() >= image.Size() ? endsInARow + 1 : 0;
      if (endsInARow > 2) break;
    }
    Report("decoder: end of tape after " + std::to_string(calls) + " frames");
  } catch (const EKestrelError& e) {
    Report("decoder: " + std::string(e.what()) + " at byte " + std::to_string(image.Position()) +
           " after " + std::to_string(calls) + " frames");
    Require(IsDriveErrorText(e.what()), std::string("unexpected decoder error: ") + e.what());
  }
}

void CheckRequest(TMachine& m, uint16_t unit, uint16_t barBefore, uint16_t operation) {
  TRegisters& r = m.Registers;
  if (Verbose()) {
    const TTapeDrive& drive = m.TapeUnits.Drive(unit);
    Report("unit " + std::to_string(unit) + " op " + std::to_string(operation) + ": " +
           StateText(r.State) + " \"" + r.StopMessage.Get() + "\" count " +
           std::to_string(r.TapeTransferCount) + " BAR " + std::to_string(barBefore) + "->" +
           std::to_string(r.BAR) + " position " + std::to_string(drive.Image().Position()) + "/" +
           std::to_string(drive.Image().Size()) + (drive.TapeIndicate() ? " indicate" : "") +
           " core \"" + m.Core.FieldText(static_cast<uint16_t>(barBefore + 4), 5) + "\"");
  }
  if (r.State == CpuState::MachineCheck) {
    std::string stop = r.StopMessage.Get();
    Require(IsDriveErrorText(stop) || IsProcessCheckText(stop),
            "tape request stopped with an unknown message: " + stop);
    Require(IsMessageText(stop), "stop message with a control character");
    // A failed request leaves BAR where it was.
    if (operation == 6 || operation == 7) Require(r.BAR == barBefore, "BAR moved by a failure");
    r.State = CpuState::Running;  // the operator resets the check and carries on
    r.StopMessage.Set("");
  } else if (operation == 6 || operation == 7) {
    // A read to the record's end has also passed the group mark it stored behind the record.
    const bool endMark = operation == 6 && m.TapeUnits.Drive(unit).EndMarkStored();
    Require(r.BAR == static_cast<uint16_t>(barBefore + r.TapeTransferCount + (endMark ? 1 : 0)),
            "BAR did not move by the count");
  }
  for (int u = 1; u <= TTapeUnits::DriveCount; ++u) {
    const TTapeImage& image = m.TapeUnits.Drive(u).Image();
    Require(image.Position() <= image.Size(), "drive position past the end of its image");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const uint8_t options = in.Byte();
  const int requests = in.Byte() & 15;
  std::string_view script = in.Take(static_cast<size_t>(2 * requests));
  const std::string_view bytes = in.Rest();
  const TImageFormat format = Layouts[options & OptLayout];

  DecodeAlone(bytes, format);
  RecordsAlone(bytes, format);

  TFuzzMessenger messenger;
  TMachine m(messenger);
  m.Core.SetCoreSize(TCoreStorage::MaxSize);
  m.TapeUnits.SetSaveDirectory(ScratchDir());
  // Unit 1 holds the image under a name with its layout; unit 2 and the mount request use a
  // name without one when the input asks for it.
  const std::string named = WriteScratch(LayoutNames[options & OptLayout], bytes);
  std::string path = (options & OptNoLayout) ? WriteScratch("tape.dat", bytes) : named;
  for (int unit = 1; unit <= 2; ++unit) {
    m.TapeUnits.Drive(unit).SetCheckParity((options & OptParity) != 0);
    try {
      m.TapeUnits.MountTape(unit, unit == 1 ? named : path);
    } catch (const EKestrelError& e) {
      // Only a checked reel is refused, and the drive stays empty.
      Require(IsCheckedFormat(format) && IsDriveErrorText(e.what()),
              std::string("unexpected mount error: ") + e.what());
      Require(m.TapeUnits.Drive(unit).Image().Empty(), "a refused reel changed the drive");
    }
  }
  m.Registers.State = CpuState::Running;

  auto send = [&](uint16_t operation, uint16_t unit) {
    DeviceCommand command;
    command.Operation = operation;
    command.Selector = unit;
    command.Text = &path;
    uint16_t bar = m.Registers.BAR;
    m.TapeUnits.HandleRequest(command);
    CheckRequest(m, unit, bar, operation);
  };

  // Without requests of its own an input is read record by record on both units.
  static constexpr char ReadOn[] = "\x00\x00\x00\x00\x00\x00\x00\x00\x10\x10\x10\x10";
  if (requests == 0) script = std::string_view(ReadOn, sizeof ReadOn - 1);
  for (size_t i = 0; i + 1 < script.size(); i += 2) {
    const auto op = static_cast<uint8_t>(script[i]);
    const auto arg = static_cast<uint8_t>(script[i + 1]);
    const uint16_t unit = (op & 0x10) ? 2 : 1;
    switch (op & 15) {
      case 0:  // a record read into core at BAR
      case 1:
        m.Registers.BAR = static_cast<uint16_t>(1 + arg * 60);
        send(6, unit);
        break;
      case 2:  // the Load request: a record into 1 on
        send(4, unit);
        m.Registers.State = CpuState::Running;
        break;
      case 3:
        send(33, unit);  // rewind
        break;
      case 4:
        send(30, unit);  // clear the indicator
        break;
      case 5: {  // a record written from core at BAR, up to a group mark with word mark
        m.Registers.BAR = static_cast<uint16_t>(1 + arg * 60);
        m.Core.StoreCharWM(static_cast<uint16_t>(m.Registers.BAR + (arg & 15)), true, 63);
        send(32, unit);  // write protect off
        send(7, unit);
        break;
      }
      case 6:
        send(32, unit);
        send(35, unit);  // a tape mark
        break;
      case 7: {  // ZAP, as a script sends it, anywhere in or past the image
        TapeZapRecord zap;
        zap.Unit = unit;
        zap.Offset = arg * 3u;
        zap.Value = arg;
        try {
          m.TapeUnits.HandleZap(zap);
        } catch (const EKestrelError& e) {
          Require(IsDriveErrorText(e.what()), std::string("unexpected ZAP error: ") + e.what());
        }
        break;
      }
      case 8:
        send(34, unit);  // unload, saving a tape with a tape mark written
        break;
      case 9:
        send(3, unit);  // mount the file again
        break;
      case 10:
        send(arg, unit);  // any operation code
        break;
      default:
        send(6, unit);
        break;
    }
  }
  CheckMachine(m);
  Require(messenger.Errors().empty(), "an error box for a request to a valid unit");
  return 0;
}

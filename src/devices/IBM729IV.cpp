#include "devices/IBM729IV.h"

#include <exception>

namespace kestrel {

TTapeUnits::TTapeUnits(TRegisters& registers, TCoreStorage& core, TMessenger& messenger)
    : registers_(registers), core_(core), messenger_(messenger) {
  for (int i = 0; i < DriveCount; ++i) {
    auto drive = std::make_unique<TTapeDrive>(static_cast<uint8_t>(i + 1));
    drive->OnCoreRead = [this](uint16_t address) { return core_.ReadCharWM(address); };
    drive->OnCoreLook = [this](uint16_t address) {
      const uint16_t word = core_.Word(address);
      return TCharWM{static_cast<uint8_t>(word & CoreChar::CodeMask),
                     (word & CoreChar::WordMark) != 0};
    };
    drive->OnCoreWrite = [this](uint16_t address, bool wordMark, uint8_t code) {
      core_.StoreCharWM(address, wordMark, code);
    };
    drive->OnCoreSize = [this] { return core_.Size(); };
    TTapeDrive* self = drive.get();
    drive->OnLoadClick = [this, self] { TapeDriveLoadClick(*self); };
    drive->OnPanelChanged = [this](const TTapeDrive& changed) { DrivePanelChanged(changed); };
    drives_[static_cast<size_t>(i)] = std::move(drive);
  }
}

void TTapeUnits::SetSaveDirectory(const std::string& directory) {
  for (auto& drive : drives_)
    drive->SaveDirectory = directory;
}

void TTapeUnits::HandleMessage(const TMessage& message) {
  if (message.Ref == nullptr) return;
  if (message.Id == EmulatorMessage::DeviceRequest) {
    HandleRequest(*static_cast<const DeviceCommand*>(message.Ref));
  } else if (message.Id == EmulatorMessage::TapeZapRequest) {
    HandleZap(*static_cast<const TapeZapRecord*>(message.Ref));
  }
}

void TTapeUnits::HandleRequest(const DeviceCommand& command) {
  if (command.Selector == 0) {
    if (command.Operation != static_cast<uint16_t>(TTapeOp::TapeResetAll)) {
      RaiseIOCheck("Invalid I/O Op for All Tape Units: " + std::to_string(command.Operation), 0);
    }
    ResetAll();
    return;
  }
  if (command.Selector > DriveCount) {
    RaiseIOCheck("Invalid tape unit: " + std::to_string(command.Selector), 0);
  }
  // Any failure of the operation itself stops the processor; nothing is shown in a dialog.
  try {
    Perform(Drive(command.Selector), command);
  } catch (const E1401Exception& e) {
    registers_.StopMessage.Set(e.FullText());
    registers_.State = CpuState::MachineCheck;
  } catch (const std::exception& e) {
    registers_.StopMessage.Set(e.what());
    registers_.State = CpuState::MachineCheck;
  }
  RefreshFrontPanel();
}

void TTapeUnits::Perform(TTapeDrive& drive, const DeviceCommand& command) {
  TRegisters& r = registers_;
  switch (static_cast<TTapeOp>(command.Operation)) {
    case TTapeOp::TapeMount:
      drive.MountTape(command.Text != nullptr ? *command.Text : "");
      break;
    case TTapeOp::TapeSave:
      drive.SaveTape(command.Text != nullptr ? *command.Text : "");
      break;
    case TTapeOp::TapeMountScratch:
      drive.MountScratch();
      break;
    case TTapeOp::TapeParityOn:
    case TTapeOp::TapeParityOff:
      drive.SetCheckParity(command.Operation == Operation(TTapeOp::TapeParityOn));
      break;
    case TTapeOp::TapeLoad: {
      UseUnit(drive);
      uint32_t count = 0;
      try {
        drive.ReadRecord(1, count);
      } catch (...) {
        r.TapeTransferCount = count;
        if (drive.ReadError()) r.TapeErrorIndicator = true;
        throw;
      }
      r.TapeTransferCount = count;
      if (drive.ReadError()) r.TapeErrorIndicator = true;
      r.IAR = 0;  // the loaded record is the program: the next Start begins at 1
      r.State = CpuState::TapeRecordLoaded;  // the front panel refresh follows the request
      break;
    }
    case TTapeOp::TapeRead:
    case TTapeOp::TapeWrite: {
      UseUnit(drive);
      // The count is the shared one from the first character on, so a failure leaves the
      // characters already moved in it; BAR moves only when the record is complete.
      uint32_t count = 0;
      const bool reading = command.Operation == static_cast<uint16_t>(TTapeOp::TapeRead);
      try {
        TTransferMode mode =
            (command.Flag & TapeMode::WordMarks) ? TTransferMode::Load : TTransferMode::Move;
        const bool odd = (command.Flag & TapeMode::OddParity) != 0;
        if (reading) {
          drive.ReadRecord(r.BAR, count, mode, odd);
        } else {
          drive.WriteRecord(r.BAR, count, mode, odd);
        }
      } catch (...) {
        r.TapeTransferCount = count;
        if (reading && drive.ReadError()) r.TapeErrorIndicator = true;
        throw;
      }
      r.TapeTransferCount = count;
      // A parity error or a record too long for core is the program's to test (B with L).
      if (reading && drive.ReadError()) r.TapeErrorIndicator = true;
      // After a record read to its end the B-address register has also passed the group mark
      // stored behind it, as the 1401's does: a program that puts its own group mark at BAR
      // keeps the record whole.
      r.BAR = static_cast<uint16_t>(r.BAR + count + (reading && drive.EndMarkStored() ? 1 : 0));
      break;
    }
    case TTapeOp::TapeClearIndicate:
      drive.ClearIndicate();
      break;
    case TTapeOp::TapeProtectOn:
      drive.SetWriteProtect(true);
      break;
    case TTapeOp::TapeProtectOff:
      drive.SetWriteProtect(false);
      break;
    case TTapeOp::TapeDensityHigh:
    case TTapeOp::TapeDensityLow:
      drive.SetLowDensity(command.Operation == Operation(TTapeOp::TapeDensityLow));
      break;
    case TTapeOp::TapeRewind:
      drive.RewindTape();
      break;
    case TTapeOp::TapeUnload:
      drive.UnloadTape();
      break;
    case TTapeOp::TapeWriteMark:
      UseUnit(drive);
      drive.WriteTapeMark();
      // The tape mark is an even-parity character: written in odd parity it fails the check
      // read behind the write head.
      if (command.Flag & TapeMode::OddParity) r.TapeErrorIndicator = true;
      break;
    case TTapeOp::TapeBackspace:
      UseUnit(drive);
      drive.BackspaceRecord();
      break;
    case TTapeOp::TapeSkipBlank:
      UseUnit(drive);
      drive.SkipAndBlank();
      break;
    default:
      throw EKestrelError("Invalid I/O Op for Tape: " + std::to_string(command.Operation));
  }
}

void TTapeUnits::HandleZap(const TapeZapRecord& zap) {
  if (zap.Unit < 1 || zap.Unit > DriveCount) {
    RaiseIOCheck("Invalid tape unit: " + std::to_string(zap.Unit), 0);
  }
  Drive(zap.Unit).ZapFrame(zap.Offset, static_cast<uint8_t>(zap.Value & 0xFF));
}

void TTapeUnits::ResetAll() {
  registers_.LastTapeUnit = 0;
  for (auto& drive : drives_)
    drive->ResetDrive();
  registers_.EndOfReelIndicator = false;
  registers_.TapeErrorIndicator = false;
}

void TTapeUnits::UseUnit(const TTapeDrive& drive) {
  registers_.LastTapeUnit = drive.UnitNumber();
  registers_.EndOfReelIndicator = drive.TapeIndicate();
}

void TTapeUnits::DrivePanelChanged(const TTapeDrive& drive) {
  // Every change of a drive's Tape Indicate ends in a panel update, so this keeps End of Reel
  // in step with the unit last read or written.
  if (drive.UnitNumber() == registers_.LastTapeUnit) {
    registers_.EndOfReelIndicator = drive.TapeIndicate();
  }
  if (OnPanelChanged) OnPanelChanged(drive);
}

void TTapeUnits::TapeDriveLoadClick(const TTapeDrive& drive) {
  UseUnit(drive);
  registers_.IAR = 0;  // the loaded record is the program: the next Start begins at 1
  registers_.State = CpuState::TapeRecordLoaded;
  RefreshFrontPanel();
}

void TTapeUnits::RefreshFrontPanel() {
  TMessage refresh;
  refresh.Id = EmulatorMessage::PanelCommand;
  refresh.WParam = PCStatusUpdate;
  messenger_.Post(TReceiver::MainWindow, refresh);
}

}  // namespace kestrel

// The six IBM 729 IV tape units: the drives, the DeviceRequest and TapeZapRequest messages of the
// processor and script threads turned into drive operations, and the guarded block that turns a
// drive's error into a Machine Check.  The tape units window shows this model.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/KestCore.h"
#include "core/KestDefs.h"
#include "core/Messenger.h"
#include "core/Registers.h"
#include "devices/TapeDisp.h"

namespace kestrel {

class TTapeUnits : public IMessageReceiver {
 public:
  static constexpr int DriveCount = 6;
  static constexpr const char* Caption = "IBM Emulation - 729IV Tape Units";

  TTapeUnits(TRegisters& registers, TCoreStorage& core, TMessenger& messenger);
  TTapeUnits(const TTapeUnits&) = delete;
  TTapeUnits& operator=(const TTapeUnits&) = delete;

  // DeviceRequest and TapeZapRequest; EIOCheck for a request no unit can take.
  void HandleMessage(const TMessage& message) override;
  void HandleRequest(const DeviceCommand& command);
  void HandleZap(const TapeZapRecord& zap);

  // Drive 1 to 6, for the window and the front ends; its operations raise drive errors to the
  // caller (the window shows them, the processor state is not changed).
  TTapeDrive& Drive(int unit) { return *drives_.at(static_cast<size_t>(unit - 1)); }

  // The operations a front end calls directly, each the same as the request of that name but
  // with its drive error raised to the caller.
  void ResetAll();
  void MountTape(int unit, const std::string& name) { Drive(unit).MountTape(name); }
  void UnloadTape(int unit) { Drive(unit).UnloadTape(); }
  void RewindTape(int unit) { Drive(unit).RewindTape(); }
  void SetWriteProtect(int unit, bool on) { Drive(unit).SetWriteProtect(on); }

  // Where unloads save written tapes; empty means the current working directory.
  void SetSaveDirectory(const std::string& directory);

  // Called after any drive's panel changed, with the drive; the window redraws that panel.
  std::function<void(const TTapeDrive&)> OnPanelChanged;

 private:
  void Perform(TTapeDrive& drive, const DeviceCommand& command);
  // A record read or written: that unit's Tape Indicate now feeds the End of Reel indicator.
  void UseUnit(const TTapeDrive& drive);
  void DrivePanelChanged(const TTapeDrive& drive);
  void TapeDriveLoadClick(const TTapeDrive& drive);
  void RefreshFrontPanel();

  TRegisters& registers_;
  TCoreStorage& core_;
  TMessenger& messenger_;
  std::array<std::unique_ptr<TTapeDrive>, DriveCount> drives_;
};

}  // namespace kestrel

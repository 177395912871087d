// The tape commands against the real tape units.
#include <gtest/gtest.h>

#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

class OclTape : public ::testing::Test {
 protected:
  OclTape() : f(true) { f.Messenger.Attach(TReceiver::TapeUnits, &f.M.TapeUnits); }
  TScriptFixture f;
};

TEST_F(OclTape, MountProtectAndZap) {
  f.Dir.Write("T.BCD", std::string("\x01\x02\x03\x04", 4));
  f.Start("MOUNT TAPE2 'T' + '.BCD' SET PROT TAPE2 OFF ZAP TAPE2 [1] = 9");
  EXPECT_TRUE(f.ErrorBoxes.empty());
  const TTapeDrive& drive = f.M.TapeUnits.Drive(2);
  EXPECT_EQ(drive.Image().Size(), 4u);
  EXPECT_FALSE(drive.WriteProtect());
  EXPECT_EQ(drive.Image().Bytes()[1], 9);
  EXPECT_EQ(drive.Image().Position(), 0u);
  f.Start("SET PROT TAPE2 ON");
  EXPECT_TRUE(f.M.TapeUnits.Drive(2).WriteProtect());
}

TEST_F(OclTape, MountOfAMissingFileStopsTheMachineAndTheScriptGoesOn) {
  f.Start("MOUNT TAPE1 'NONE.BCD'\nTURBO ON");
  EXPECT_EQ(f.M.Registers.State, CpuState::MachineCheck);
  EXPECT_EQ(f.M.Registers.StopMessage.Get(), "Tape file not found: NONE.BCD");
  EXPECT_TRUE(f.M.Registers.TurboMode);
}

TEST_F(OclTape, ZapPastTheEndChangesNothing) {
  f.Dir.Write("T.BCD", std::string("\x01\x02", 2));
  f.Start("MOUNT TAPE3 'T.BCD' ZAP TAPE3 [5] = 9 TURBO ON");
  EXPECT_EQ(f.M.TapeUnits.Drive(3).Image().Size(), 2u);
  EXPECT_EQ(f.DeviceErrors.size(), 1u);
  EXPECT_TRUE(f.M.Registers.TurboMode);
}

}  // namespace
}  // namespace kestrel::test

// The unit-record demonstration job, end to end: the self-loading deck in demo/urjob is loaded
// through the shipped character-map control file, booted with Load, and run to its halt; the
// print list and the punched cards are compared with the expected files beside the deck.
#include <gtest/gtest.h>

#include "support/ScratchDir.h"
#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

const std::string Demo = std::string(KESTREL_SOURCE_DIR) + "/demo/urjob/";

struct TJob {
  TJob() {
    T.Messenger.SetErrorReporter([this](const std::string& e) { Errors.push_back(e); });
    T.M.CharMap.SetCmcPath(std::string(KESTREL_SOURCE_DIR) + "/data/kestrel.CMC");
    T.M.CharMap.UseCmcFile = true;
  }
  void Run() {
    T.M.ReaderPunch.LoadDeck(Demo + "URJOB.CRD", false);
    T.M.Cpu.ResetProcessor();
    T.M.ReaderPunch.LoadButton();
    ASSERT_EQ(T.State(), CpuState::CardLoaded);
    T.Run();
  }
  TTestMachine T;
  std::vector<std::string> Errors;
  TScratchDir Dir;
};

TEST(UnitRecordJob, BootsPrintsPunchesSelectsStackersAndHalts) {
  TJob job;
  job.Run();
  ASSERT_EQ(job.T.State(), CpuState::ProgramHalt) << job.T.StopMessage();
  EXPECT_TRUE(job.Errors.empty());
  EXPECT_EQ(job.T.R.InstrAddr, 629);
  // The deck uses the Pierce A convention, and the print keeps it.
  EXPECT_EQ(job.T.M.CharMap.BcdToPrintChar(Bcd::Lozenge), ')');

  TReaderPunch& reader = job.T.M.ReaderPunch;
  job.T.M.Printer.Save(job.Dir.Path("URJOB.PRN"));
  reader.SaveStacker(5, job.Dir.Path("URJOB.PUN"));
  reader.SaveStacker(4, job.Dir.Path("URJOB.P4"));
  EXPECT_EQ(TScratchDir::Read(job.Dir.Path("URJOB.PRN")), TScratchDir::Read(Demo + "URJOB.PRN"));
  EXPECT_EQ(TScratchDir::Read(job.Dir.Path("URJOB.PUN")), TScratchDir::Read(Demo + "URJOB.PUN"));
  EXPECT_EQ(TScratchDir::Read(job.Dir.Path("URJOB.P4")), TScratchDir::Read(Demo + "URJOB.P4"));

  // The cards read: every card of the deck, less the two selected to Read 1 and 8/2.
  ASSERT_EQ(reader.Pile(PLRead1).size(), 1u);
  EXPECT_EQ(reader.Pile(PLRead1)[0].substr(0, 12), "10002NUT, HE");
  ASSERT_EQ(reader.Pile(PL82).size(), 1u);
  EXPECT_EQ(reader.Pile(PL82)[0].substr(0, 12), "10005SAW, HA");
  EXPECT_TRUE(reader.Pile(PLHopper).empty());
  // The bootstrap card, 55 loader cards, six data cards and the END card.
  EXPECT_EQ(reader.Pile(PLReadN).size(), 1u + 55u + 6u + 1u - 2u);
  EXPECT_EQ(reader.Pile(PLReadN).back().substr(0, 4), "END ");
}

TEST(UnitRecordJob, TheDeckNeedsItsConvention) {
  TJob job;
  job.T.M.CharMap.UseCmcFile = false;  // the basic set has no ) for the lozenge
  EXPECT_THROW(job.T.M.ReaderPunch.LoadDeck(Demo + "URJOB.CRD", false), EKestrelError);
  EXPECT_TRUE(job.T.M.CharMap.Shown());
  EXPECT_EQ(job.T.M.ReaderPunch.Pile(PLHopper).size(), 1u);  // the bootstrap card only
}

}  // namespace
}  // namespace kestrel::test

// The initialisation file and the configuration rules.
#include "machine/KestCnfg.h"

#include <gtest/gtest.h>

#include "support/ScriptFixture.h"

namespace kestrel::test {
namespace {

class Configuration : public ::testing::Test {
 protected:
  Configuration() { config.Open(Path()); }
  std::string Path() const { return (dir.Path() / "Kestrel.INI").string(); }
  TWorkDir dir;
  TRegisters registers;
  TCoreStorage core{registers};
  TConfiguration config{core, &registers};
};

TEST(ProfileFile, FileNameBesideTheProgram) {
  EXPECT_EQ(IniFileName("/opt/k/build/kestrel"), "/opt/k/build/kestrel.INI");
  EXPECT_EQ(IniFileName("/opt/k/Kestrel.exe"), "/opt/k/Kestrel.INI");
  EXPECT_EQ(IniFileName("/a.b/Kestrel.v2.exe"), "/a.b/Kestrel.INI");
  EXPECT_EQ(IniFileName("kestrel"), "kestrel.INI");
}

TEST_F(Configuration, DefaultsWithoutAFile) {
  config.LoadConfiguration();
  EXPECT_EQ(config.EBPOSName, "PowerOn.OCL");
  EXPECT_EQ(config.StartupScript(), "PowerOn.OCL");
  EXPECT_FALSE(config.CBCoreInitCheck);
  EXPECT_EQ(config.PrintChain(), 'A');
  EXPECT_EQ(config.SelectedCoreSize(), 1400);
  EXPECT_EQ(core.Size(), 8000);  // loading never changes the machine's size
}

TEST_F(Configuration, ReadsValuesCaseInsensitivelyWithHexAndBadNumbers) {
  dir.Write("Kestrel.INI",
            "; settings\r\n[operation]\r\n  startupscript = JOB.OCL \r\nCoreInitCheck=0x1\r\n"
            "[Core Storage]\r\nSize=lots\r\n[printer]\r\nchain = h\r\n");
  config.LoadConfiguration();
  EXPECT_EQ(config.PrintChain(), 'H');
  EXPECT_EQ(config.StartupScript(), "JOB.OCL");
  EXPECT_TRUE(config.CBCoreInitCheck);
  EXPECT_TRUE(core.UninitializedCheck);
  EXPECT_EQ(config.SelectedCoreSize(), 1400);  // an unreadable number is the default
}

TEST_F(Configuration, ACarriageReturnAloneEndsALine) {
  dir.Write("Kestrel.INI", "[Core Storage]\r\nSize=4000\r");
  config.LoadConfiguration();
  EXPECT_EQ(config.SelectedCoreSize(), 4000);
  dir.Write("Kestrel.INI", "[Operation]\rStartupScript=JOB.OCL\r\r; note\r");
  config.LoadConfiguration();
  EXPECT_EQ(config.EBPOSName, "JOB.OCL");
  // Saving leaves no stray carriage return behind, and saving again changes nothing.
  ASSERT_TRUE(config.SaveConfiguration());
  const std::string saved =
      "[Operation]\nStartupScript=JOB.OCL\nCoreInitCheck=0\n\n; note\n\n[Core Storage]\n"
      "Size=1400\n\n[Features]\nMultiplyDivide=0\nMoveRecord=0\nBitTest=0\n"
      "ExpandedPrintEdit=0\nBinaryCode=0\nPrintStorage=0\n";
  EXPECT_EQ(dir.Read("Kestrel.INI"), saved);
  ASSERT_TRUE(config.SaveConfiguration());
  EXPECT_EQ(dir.Read("Kestrel.INI"), saved);
}

TEST_F(Configuration, SizeThatIsNotOneOfTheSixIsNeverWrittenOrApplied) {
  dir.Write("Kestrel.INI", "[Core Storage]\nSize=5000\n");
  config.LoadConfiguration();
  EXPECT_EQ(config.SelectedCoreSize(), 0);
  EXPECT_TRUE(config.SaveConfiguration());
  EXPECT_EQ(core.Size(), 8000);
  EXPECT_NE(dir.Read("Kestrel.INI").find("Size=5000"), std::string::npos);
  EXPECT_EQ(dir.Read("Kestrel.INI").find("Size=0"), std::string::npos);
}

TEST_F(Configuration, SaveTrimsAndGivesTheExtension) {
  config.LoadConfiguration();
  config.EBPOSName = "  JOB.TXT  ";
  EXPECT_TRUE(config.SaveConfiguration());
  TConfiguration again(core);
  again.Open(Path());
  again.LoadConfiguration();
  EXPECT_EQ(again.StartupScript(), "JOB.OCL");
  config.EBPOSName = "dir.v/JOB";
  config.SaveConfiguration();
  again.LoadConfiguration();
  EXPECT_EQ(again.StartupScript(), "dir.v/JOB.OCL");
}

TEST_F(Configuration, EmptyNameIsStoredEmpty) {
  config.LoadConfiguration();
  config.EBPOSName = "   ";
  config.SaveConfiguration();
  config.LoadConfiguration();
  EXPECT_EQ(config.StartupScript(), "");
}

TEST_F(Configuration, SaveAppliesTheSizeAndTheCheck) {
  config.LoadConfiguration();
  core.StoreCharWM(10, false, 5);
  config.SelectCoreSize(8000);
  config.SaveConfiguration();
  EXPECT_EQ(core.Word(10) & 63, 5);  // the same size leaves core as it is
  config.SelectCoreSize(4000);
  config.CBCoreInitCheck = true;
  config.SaveConfiguration();
  EXPECT_EQ(core.Size(), 4000);
  EXPECT_EQ(core.Word(10), CoreChar::Cleared);
  EXPECT_TRUE(core.UninitializedCheck);
  EXPECT_THROW(core.ReadChar(10), EProcessCheck);
}

TEST_F(Configuration, SaveKeepsOtherLinesAndDeletesPowerOn) {
  dir.Write("Kestrel.INI",
            "; my notes\n[Operation]\nPowerOn=1\nStartupScript=A.OCL\nOther=keep\n\n"
            "[Mine]\nx=1\n");
  config.LoadConfiguration();
  config.EBPOSName = "B";
  config.SelectCoreSize(2000);
  config.SaveConfiguration();
  EXPECT_EQ(dir.Read("Kestrel.INI"),
            "; my notes\n[Operation]\nStartupScript=B.OCL\nOther=keep\nCoreInitCheck=0\n\n"
            "[Mine]\nx=1\n\n[Core Storage]\nSize=2000\n\n[Features]\nMultiplyDivide=0\n"
            "MoveRecord=0\nBitTest=0\nExpandedPrintEdit=0\nBinaryCode=0\nPrintStorage=0\n");
}

// The "Features" keys: 1 or 0, each off when missing or unreadable; what is loaded or saved is
// what the machine has, unless the command line chose the features for this run.
TEST_F(Configuration, FeaturesAreReadSavedAndApplied) {
  dir.Write("Kestrel.INI", "[features]\nmultiplydivide=1\nMoveRecord=0\nBitTest=x\nBinaryCode=2\n");
  config.LoadConfiguration();
  EXPECT_EQ(config.CBFeatures, FEMultiplyDivide | FEBinaryCode);
  EXPECT_EQ(registers.Features, FEMultiplyDivide | FEBinaryCode);

  config.CBFeatures = FEBitTest | FEExpandedPrintEdit;
  ASSERT_TRUE(config.SaveConfiguration());
  EXPECT_EQ(registers.Features, FEBitTest | FEExpandedPrintEdit);
  const std::string text = dir.Read("Kestrel.INI");
  for (const char* line : {"MultiplyDivide=0\n", "MoveRecord=0\n", "BitTest=1\n", "BinaryCode=0\n",
                           "ExpandedPrintEdit=1\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
  }

  config.OverrideFeatures(AllFeatures);
  EXPECT_EQ(registers.Features, AllFeatures);
  config.LoadConfiguration();  // the file still shows in the dialog; the run keeps its choice
  EXPECT_EQ(config.CBFeatures, FEBitTest | FEExpandedPrintEdit);
  EXPECT_EQ(registers.Features, AllFeatures);

  dir.Write("Kestrel.INI", "");
  TConfiguration fresh{core, &registers};
  fresh.Open(Path());
  fresh.LoadConfiguration();
  EXPECT_EQ(registers.Features, 0);  // none without the keys: the basic machine
}

TEST_F(Configuration, UnwritableFileIsReported) {
  config.Open((dir.Path() / "no-such-dir" / "K.INI").string());
  config.LoadConfiguration();
  EXPECT_FALSE(config.SaveConfiguration());
}

TEST_F(Configuration, BinaryFileReadsAsDefaults) {
  std::string junk;
  for (int i = 0; i < 4096; ++i)
    junk += static_cast<char>((i * 37) & 255);
  dir.Write("Kestrel.INI", junk);
  config.LoadConfiguration();
  EXPECT_EQ(config.StartupScript(), "PowerOn.OCL");
}

TEST_F(Configuration, AFileTooLargeToBeSettingsIsNeverWrittenOver) {
  std::string huge = "[Operation]\nStartupScript=KEEP.OCL\n" + std::string(5u << 20, 'x');
  dir.Write("Kestrel.INI", huge);
  config.LoadConfiguration();
  EXPECT_EQ(config.StartupScript(), "PowerOn.OCL");  // read as empty
  config.SelectCoreSize(4000);
  EXPECT_FALSE(config.SaveConfiguration());  // not saved: the file is kept as it was
  EXPECT_EQ(dir.Read("Kestrel.INI"), huge);
  EXPECT_EQ(core.Size(), 4000);  // the settings are applied all the same
}

}  // namespace
}  // namespace kestrel::test

// The op codes of the special features: invalid on the basic machine, exactly as any other code
// outside the table, and instructions once their feature is installed.
#include <gtest/gtest.h>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

TEST(OpTable, FeatureOpCodesAreInvalidUntilTheirFeatureIsOn) {
  struct TCase {
    TFeature Feature;
    std::string Instruction;
    const char* Invalid;
  } cases[] = {
      {FEMultiplyDivide, "@" + Addr(300) + Addr(405), "Invalid Opcode: \"@\" ($0C) at 500"},
      {FEMultiplyDivide, "%" + Addr(300) + Addr(404), "Invalid Opcode: \"%\" ($1C) at 500"},
      {FEMoveRecord, "P" + Addr(300) + Addr(405), "Invalid Opcode: \"P\" ($27) at 500"},
      {FEBitTest, "W" + Addr(600) + Addr(300) + "1", "Invalid Opcode: \"W\" ($16) at 500"},
  };
  for (const TCase& c : cases) {
    for (TFeatureSet features : {TFeatureSet{0}, TFeatureSet(AllFeatures & ~c.Feature),
                                 TFeatureSet{c.Feature}, AllFeatures}) {
      TTestMachine t;
      t.R.Features = features;
      t.Instructions(500, {c.Instruction, "."});
      t.Instructions(600, {"."});
      t.Field(300, "r");     // a record mark: MCM moves one character
      t.Field(405, "1XXX");  // a product field
      t.Field(404, "001?");  // a dividend field
      t.TraceAll();          // the trace phase looks the op code up as well
      t.Run(500);
      const bool installed = (features & c.Feature) != 0;
      EXPECT_EQ(t.State(), installed ? CpuState::ProgramHalt : CpuState::MachineCheck)
          << c.Instruction << " with features " << int{features};
      if (!installed) {
        EXPECT_EQ(t.StopMessage(), c.Invalid);
      }
    }
  }
}

}  // namespace
}  // namespace kestrel::test

#include "core/IBMTrace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/TestMachine.h"

namespace kestrel::test {
namespace {

TEST(TraceLog, ThirtyThousandLineRule) {
  TTraceLog log;
  log.AddLine("");  // ignored
  EXPECT_EQ(log.Count(), 0u);
  for (size_t i = 0; i < TTraceLog::MaxLines; ++i)
    log.AddLine("I" + std::to_string(i));
  EXPECT_EQ(log.Count(), 30000u);
  log.AddLine("Ilast");  // the 30001st empties the list, itself included
  EXPECT_EQ(log.Count(), 0u);
  log.AddLine("Inew");
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"Inew"});
}

TEST(TraceLog, SaveKeepsKindLetters) {
  TTraceLog log;
  log.AddLine("I00500 . 1 H   HALT");
  log.AddLine("Tthread");
  std::filesystem::path path = std::filesystem::temp_directory_path() / "kestrel-trace-test.LOG";
  log.Save(path.string());
  std::ifstream in(path);
  std::string first, second;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first, "I00500 . 1 H   HALT");
  EXPECT_EQ(second, "Tthread");
  std::filesystem::remove(path);
  EXPECT_THROW(log.Save("/nonexistent-dir/x/Kestrel.LOG"), EKestrelError);
  log.Clear();
  EXPECT_EQ(log.Count(), 0u);
}

TEST(TraceLog, KindColours) {
  EXPECT_EQ(TraceKindColour('D').Red, 128);
  EXPECT_EQ(TraceKindColour('S').Green, 202);
  EXPECT_EQ(TraceKindColour(' ').Blue, 64);
}

TEST(Tracer, FlagsSelectTheLines) {
  TTestMachine t;
  TTracer& tracer = t.M.Cpu.Tracer;
  tracer.TraceThread("CPU Begin");
  tracer.TraceScript("x");
  tracer.TraceError("bad");  // errors always
  EXPECT_EQ(t.Trace(), std::vector<std::string>{"Ebad"});
  t.M.TraceFlags.TraceThreads = true;
  t.M.TraceFlags.TraceScripts = true;
  tracer.TraceThread("CPU Begin");
  tracer.TraceScript("x");
  EXPECT_EQ(t.Trace(), (std::vector<std::string>{"Ebad", "TCPU Begin", "Sx"}));
}

TEST(Tracer, DetailsAndRegistersFollowInstructionTracing) {
  TTestMachine t;
  t.M.TraceFlags.TraceDetails = true;
  EXPECT_FALSE(t.M.TraceFlags.Details());
  t.M.TraceFlags.TraceInstructions = true;
  EXPECT_TRUE(t.M.TraceFlags.Details());
}

TEST(Tracer, ACheckFlushesThePendingLine) {
  TTestMachine t;
  t.TraceAll();
  t.Field(300, "1R3", false);  // MA's trace handler meets the bad address mid-line
  t.Instructions(500, {"#" + Addr(300)});
  t.Run(500);
  EXPECT_EQ(t.StopMessage(), "Bad address (1R3) read from 300 by 500");
  EXPECT_EQ(t.Trace(), std::vector<std::string>{"I00500 # 4 MA  Modify Address at "});
}

}  // namespace
}  // namespace kestrel::test

// A headless job run as `kestrel` runs it from its command line, in the work directory: the
// arguments parsed, a --run source assembled, then the batch front end with a fresh print file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "batch/KestBatch.h"
#include "support/ScriptFixture.h"

namespace kestrel::test {

inline int RunBatchJob(const std::vector<std::string>& args, const TWorkDir& dir,
                       std::ostringstream& out, std::ostringstream& err) {
  TCommandLine line;
  EXPECT_EQ(ParseCommandLine(args, line), "");
  out.str("");
  err.str("");
  std::remove("Kestrel.PRN");
  if (!line.RunSource.empty() && !PrepareRun(line, err)) return -1;
  return RunBatch(line, (dir.Path() / "kestrel").string(), out, err);
}

}  // namespace kestrel::test

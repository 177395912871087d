// The start-up placement on the screens operators have, with the windows' real frame sizes
// (title bar and borders as a common window manager draws them).
#include "machine/WindowLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::test {
namespace {

constexpr int TitleBar = 21;

TStartupSizes MeasuredSizes(int printerHeight) {
  TStartupSizes s;
  s.Panel = {640, 299, 640, 299};  // fixed
  s.Core = {777, 325, 777, 120};
  s.Reader = {510, 286, 510, 200};
  s.Printer = {822, printerHeight, 822, 200};
  s.Tapes = {320, 369, 320, 369};  // fixed
  s.Trace = {642, 326, 600, 131};
  return s;
}

TEST(WindowLayout, EveryTitleBarOnScreenAndNoWindowOverAnother) {
  struct TCase {
    int Width, Height, PrinterHeight;
    bool PanelOverPrinter;  // too narrow for the two side by side
  };
  const TCase cases[] = {{1920, 1200, 346, false}, {1920, 1200, 500, false},
                         {1600, 1000, 346, false}, {1366, 768, 346, true},
                         {1280, 1024, 346, true},  {1440, 900, 346, true}};
  for (const TCase& c : cases) {
    const std::string where = std::to_string(c.Width) + "x" + std::to_string(c.Height) +
                              ", printer " + std::to_string(c.PrinterHeight);
    const TFrame screen{0, 0, c.Width, c.Height};
    const TStartupSizes sizes = MeasuredSizes(c.PrinterHeight);
    const TStartupLayout l = LayOutStartupWindows(screen, sizes);
    const std::vector<std::pair<const char*, TFrame>> frames = {
        {"panel", l.Panel},     {"core", l.Core},   {"reader", l.Reader},
        {"printer", l.Printer}, {"tapes", l.Tapes}, {"trace", l.Trace}};
    for (const auto& [name, f] : frames) {
      EXPECT_GE(f.X, 0) << name << " " << where;
      EXPECT_GE(f.Y, 0) << name << " " << where;
      EXPECT_LE(f.Right(), c.Width) << name << " " << where;
      EXPECT_LE(f.Bottom(), c.Height) << name << " " << where;
      EXPECT_GE(f.H, TitleBar) << name << " " << where;
    }
    for (size_t i = 0; i < frames.size(); ++i) {
      for (size_t j = i + 1; j < frames.size(); ++j) {
        const std::string pair = std::string(frames[i].first) + "+" + frames[j].first;
        const bool mayOverlap =
            c.PanelOverPrinter && (pair == "panel+printer" || pair == "tapes+trace");
        const TFrame& front = frames[i].second;
        const TFrame& behind = frames[j].second;
        if (!mayOverlap) {
          EXPECT_FALSE(front.Overlaps(behind)) << pair << " " << where;
        } else if (front.Overlaps(behind)) {
          // The one behind keeps most of its title bar in sight.
          const TFrame title{behind.X, behind.Y, behind.W, TitleBar};
          const int covered = title.Overlaps(front) ? std::min(title.Right(), front.Right()) -
                                                          std::max(title.X, front.X)
                                                    : 0;
          EXPECT_LT(covered * 4, behind.W) << pair << " " << where;
        }
      }
    }
    // The arrangement: panel top left, core below it, reader at the left edge 30 above the
    // bottom, printer at the top right of the panel, tapes at the right edge below the printer.
    EXPECT_EQ(l.Panel.X, 0);
    EXPECT_EQ(l.Panel.Y, 0);
    EXPECT_EQ(l.Core.Y, l.Panel.Bottom()) << where;
    EXPECT_EQ(l.Core.X, 0);
    EXPECT_EQ(l.Reader.X, 0);
    EXPECT_EQ(l.Reader.Bottom(), c.Height - BottomGap) << where;
    EXPECT_EQ(l.Trace.Bottom(), c.Height - BottomGap) << where;
    EXPECT_EQ(l.Printer.Y, 0);
    EXPECT_GE(l.Printer.X, c.PanelOverPrinter ? 0 : l.Panel.Right()) << where;
    EXPECT_EQ(l.Tapes.Right(), c.Width) << where;
    EXPECT_EQ(l.Tapes.Y, l.Printer.Bottom()) << where;
    // Sizes given up only where needed, never below a window's smallest.
    if (c.Width >= 1920 && c.PrinterHeight == 346) {
      EXPECT_EQ(l.Core.H, sizes.Core.H) << where;
      EXPECT_EQ(l.Printer.H, sizes.Printer.H) << where;
      EXPECT_EQ(l.Trace.W, sizes.Trace.W) << where;
      EXPECT_EQ(l.Trace.H, sizes.Trace.H) << where;
    }
    EXPECT_GE(l.Core.H, sizes.Core.MinH) << where;
    EXPECT_GE(l.Printer.H, sizes.Printer.MinH) << where;
    EXPECT_GE(l.Trace.W, sizes.Trace.MinW) << where;
    EXPECT_GE(l.Trace.H, sizes.Trace.MinH) << where;
  }
}

}  // namespace
}  // namespace kestrel::test

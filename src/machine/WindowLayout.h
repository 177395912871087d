// Where the windows stand at start-up, worked out on their frames (title bar and borders
// included) so that every title bar is on the screen and no window hides another: the front
// panel top left, the core display below it, the card reader/punch at the left edge and the
// trace window at the right, both a little above the bottom of the screen, the printer at the
// top to the right of the panel and the tape units at the right edge below the printer.
// Windows that can be resized give up height (the trace window also width) to make room.  Only
// on a screen too small for them all (narrower than the panel and the printer side by side,
// 1366x768 say) do two pairs overlap, each by a strip at one edge: the printer lies under the
// panel's right edge and the trace window under the tape units' left edge, the panel and the
// tape units in front, and the title bars behind stay visible for most of their width.
#pragma once

namespace kestrel {

struct TFrame {
  int X = 0;
  int Y = 0;
  int W = 0;
  int H = 0;
  int Right() const { return X + W; }   // one past the last column
  int Bottom() const { return Y + H; }  // one past the last row
  bool Overlaps(const TFrame& o) const {
    return X < o.Right() && o.X < Right() && Y < o.Bottom() && o.Y < Bottom();
  }
};

// A window's frame size as it is and the smallest it may be made.
struct TFrameSize {
  int W = 0;
  int H = 0;
  int MinW = 0;
  int MinH = 0;
};

struct TStartupSizes {
  TFrameSize Panel, Core, Reader, Printer, Tapes, Trace;
};

struct TStartupLayout {
  TFrame Panel, Core, Reader, Printer, Tapes, Trace;
};

// The gap the reader/punch and the trace window leave above the bottom of the screen.
inline constexpr int BottomGap = 30;

TStartupLayout LayOutStartupWindows(const TFrame& screen, const TStartupSizes& sizes);

}  // namespace kestrel

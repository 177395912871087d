#include "machine/WindowLayout.h"

#include <algorithm>

namespace kestrel {

namespace {
TFrame At(int x, int y, const TFrameSize& size) {
  return TFrame{x, y, size.W, size.H};
}

// The frame's height cut so that it ends at `bottom`, but never below its smallest.
void EndAbove(TFrame& frame, int bottom, const TFrameSize& size) {
  if (frame.Bottom() > bottom) frame.H = std::max(size.MinH, bottom - frame.Y);
}
}  // namespace

TStartupLayout LayOutStartupWindows(const TFrame& screen, const TStartupSizes& sizes) {
  TStartupLayout l;
  const int bottom = screen.Bottom() - BottomGap;
  l.Panel = At(screen.X, screen.Y, sizes.Panel);
  l.Reader = At(screen.X, std::max(l.Panel.Bottom(), bottom - sizes.Reader.H), sizes.Reader);

  // The core display fills the space between the panel and the reader/punch.
  l.Core = At(screen.X, l.Panel.Bottom(), sizes.Core);
  EndAbove(l.Core, l.Reader.Y, sizes.Core);

  // The printer beside the panel, and clear of the core display below it when there is room.
  const int printerRoom = screen.Right() - sizes.Printer.W;
  int printerX = std::max(l.Panel.Right(), l.Core.Right());
  if (printerX > printerRoom) printerX = std::max(std::min(l.Panel.Right(), printerRoom), screen.X);
  l.Printer = At(printerX, screen.Y, sizes.Printer);
  if (l.Printer.X < l.Core.Right()) EndAbove(l.Printer, l.Core.Y, sizes.Printer);

  l.Tapes = At(screen.Right() - sizes.Tapes.W, l.Printer.Bottom(), sizes.Tapes);

  // The trace window in the bottom right corner, below the tape units; where it would not fit
  // there, between the reader/punch and the tape units.
  l.Trace = At(screen.Right() - sizes.Trace.W, bottom - sizes.Trace.H, sizes.Trace);
  if (l.Trace.Y < l.Tapes.Bottom()) {
    l.Trace.Y = l.Tapes.Bottom();
    l.Trace.H = bottom - l.Trace.Y;
  }
  if (l.Trace.H < sizes.Trace.MinH) {
    const int left = l.Reader.Right();
    const int top = std::max({l.Core.Bottom(), l.Printer.Bottom(), l.Panel.Bottom()});
    l.Trace.X = left;
    l.Trace.W = std::max(sizes.Trace.MinW, std::min(sizes.Trace.W, l.Tapes.X - left));
    l.Trace.Y = std::max(top, bottom - sizes.Trace.H);
    l.Trace.H = bottom - l.Trace.Y;
  }
  l.Trace.H = std::max(l.Trace.H, sizes.Trace.MinH);
  return l;
}

}  // namespace kestrel

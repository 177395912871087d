// The script message window's model: placement rules, options, Continue and Cancel.
#include "script/KestDOCL.h"

#include <gtest/gtest.h>

#include "script/KestIOCL.h"

namespace kestrel::test {
namespace {

class TControlStub : public IScriptControl {
 public:
  void ResumeScript() override { ++Resumed; }
  void EndCurrentScript() override { ++Ended; }
  int Resumed = 0;
  int Ended = 0;
};

TItemSize Fixed(const TDisplayItem& item) {
  return {static_cast<int>(item.Text.size()) * 10, 13};
}

TEST(ScriptDisplay, ThreeLinesGiveTheFixedGeometry) {
  TScriptDisplay d;
  d.Clear();
  d.AddText("one");
  d.EndLine();
  d.AddText(std::string(30, 'x'));
  d.EndLine();
  d.AddText("three");
  TDisplayLayout layout = d.Layout(Fixed);
  EXPECT_EQ(layout.Height, 10 + 2 * 13 + 80);
  EXPECT_EQ(layout.Width, 300 + 25);
  ASSERT_EQ(layout.Items.size(), 3u);
  EXPECT_EQ(layout.Items[0].Left, 10);
  EXPECT_EQ(layout.Items[0].Top, 10);
  EXPECT_EQ(layout.Items[2].Top, 36);
}

TEST(ScriptDisplay, NarrowItemsKeepTheMinimumWidthAndEmptyLinesStep15) {
  TScriptDisplay d;
  d.AddText("a");
  d.EndLine();
  d.EndLine();  // an empty line
  d.AddText("b");
  TDisplayLayout layout = d.Layout(Fixed);
  EXPECT_EQ(layout.Width, 200 + 25);
  EXPECT_EQ(layout.Items[1].Top, 10 + 13 + 15);
}

TEST(ScriptDisplay, ItemsOfOneLineStartAtTheSameSpot) {
  TScriptDisplay d;
  d.AddText("Pick:");
  d.AddOption("One");
  TDisplayLayout layout = d.Layout(Fixed);
  EXPECT_EQ(layout.Items[0].Left, layout.Items[1].Left);
  EXPECT_EQ(layout.Items[0].Top, layout.Items[1].Top);
  EXPECT_EQ(d.TextLines(), std::vector<std::string>{"Pick: [1] One"});
}

TEST(ScriptDisplay, OptionsAreNumberedAndColoured) {
  TScriptDisplay d;
  d.SetOptionColour(0x123456);
  d.AddOption("a");
  d.SetTextColour(0x654321);
  d.AddText("t");
  d.AddOption("b");
  auto items = d.Items();
  EXPECT_EQ(items[0].Number, 1);
  EXPECT_EQ(items[0].Colour, 0x123456u);
  EXPECT_EQ(items[1].Colour, 0x654321u);
  EXPECT_EQ(items[2].Number, 2);
  EXPECT_EQ(d.OptionCount(), 2);
  d.Clear();
  EXPECT_EQ(d.OptionCount(), 0);
  EXPECT_TRUE(d.Items().empty());
}

TEST(ScriptDisplay, ShowAnswersAndCancel) {
  TScriptDisplay d;
  TControlStub control;
  d.SetScriptControl(&control);
  d.SetContinueVisible(false);
  TMessage show;
  show.Id = EmulatorMessage::ScriptDisplayShow;
  d.HandleMessage(show);
  EXPECT_TRUE(d.Visible());
  EXPECT_FALSE(d.ContinueShown());
  d.ChooseOption(2);
  EXPECT_FALSE(d.Visible());
  EXPECT_EQ(d.OptNum(), 2);
  EXPECT_EQ(control.Resumed, 1);
  d.HandleMessage(show);  // a new show forgets the last option
  EXPECT_EQ(d.OptNum(), 0);
  d.Cancel();
  EXPECT_EQ(control.Ended, 1);
  EXPECT_EQ(control.Resumed, 1);
  TMessage hide = show;
  hide.WParam = 1;
  d.HandleMessage(show);
  d.HandleMessage(hide);
  EXPECT_FALSE(d.Visible());
}

TEST(ScriptDisplay, ColoursResetToTheDefaults) {
  TScriptDisplay d;
  d.SetBackground(ColourRed);
  d.SetTextColour(ColourWhite);
  d.SetOptionColour(0);
  d.ResetColours();
  EXPECT_EQ(d.Background(), ColourInfoBk);
  EXPECT_EQ(d.TextColour(), ColourBlack);
  EXPECT_EQ(d.OptionColour(), ColourNavy);
  EXPECT_EQ(ColourRgb(ColourNavy).Blue, 128);
  EXPECT_EQ(ColourRgb(ColourRed).Red, 255);
  EXPECT_EQ(ColourRgb(ColourInfoBk).Red, 255);
}

}  // namespace
}  // namespace kestrel::test

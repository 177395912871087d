// The script message window's model: the items a DISPLAY statement or a failed IARCHECK
// composes, their placement rules, the option numbers and OPTNUM, whether Continue is offered,
// the colours, and what the operator's Continue, option click and Cancel do.  The window only
// shows it; in batch mode a text view prints it and answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/Messenger.h"

namespace kestrel {

class IScriptControl;

enum class TDisplayItemKind : uint8_t { Text, Option };

struct TDisplayItem {
  TDisplayItemKind Kind = TDisplayItemKind::Text;
  std::string Text;
  uint32_t Colour = 0;  // colour value ($00BBGGRR or a system colour)
  int Line = 0;         // the line the item was added on, from 0
  int Number = 0;       // option number 1, 2, ...; 0 for plain text
};

struct TItemSize {
  int Width = 0;
  int Height = 0;
};

struct TPlacedItem {
  TDisplayItem Item;
  int Left = 0;
  int Top = 0;
  TItemSize Size;
};

struct TDisplayLayout {
  std::vector<TPlacedItem> Items;
  int Width = 0;
  int Height = 0;
};

// What shows the window: the Qt form, or the batch front end's text view.  Called on the GUI
// thread.
class IScriptDisplayView {
 public:
  virtual ~IScriptDisplayView() = default;
  virtual void DisplayShown() = 0;
  virtual void DisplayHidden() = 0;
};

class TScriptDisplay : public IMessageReceiver {
 public:
  static constexpr int LeftMargin = 10;
  static constexpr int TopMargin = 10;
  static constexpr int MinWidest = 200;
  static constexpr int EmptyLineStep = 15;
  static constexpr int WidthExtra = 25;
  static constexpr int HeightExtra = 80;

  void SetScriptControl(IScriptControl* control) { control_ = control; }
  void SetView(IScriptDisplayView* view) { view_ = view; }

  // ---- Composition (the script thread, while the window is hidden) ----
  void Clear();
  void AddText(const std::string& text);
  void AddOption(const std::string& text);
  void EndLine();
  void SetContinueVisible(bool visible);
  void SetBackground(uint32_t colour);
  void SetTextColour(uint32_t colour);
  void SetOptionColour(uint32_t colour);
  // Tooltip background, black text, navy options.
  void ResetColours();

  // ---- State ----
  std::vector<TDisplayItem> Items() const;
  int OptionCount() const;
  bool ContinueVisible() const;
  // Whether the Continue button was shown when the window last opened.
  bool ContinueShown() const;
  bool Visible() const;
  int OptNum() const { return optNum_; }
  uint32_t Background() const;
  uint32_t TextColour() const;
  uint32_t OptionColour() const;
  // The lines as text: the items of a line joined by a blank, options as "[n] text".
  std::vector<std::string> TextLines() const;

  // Places the items by the window's rules, with item sizes from `measure` (the platform's
  // font metrics; the batch view uses a fixed-pitch estimate).
  TDisplayLayout Layout(const std::function<TItemSize(const TDisplayItem&)>& measure) const;
  // A fixed-pitch estimate: 7 pixels per character, 15 high.
  static TItemSize EstimateSize(const TDisplayItem& item);

  // ---- Show and hide (ScriptDisplayShow), operator actions (GUI thread) ----
  void Show();
  void Hide();
  void Continue();
  void ChooseOption(int number);
  void Cancel();

  void HandleMessage(const TMessage& message) override;

 private:
  struct TEntry {
    bool LineEnd = false;
    TDisplayItem Item;
  };

  mutable std::mutex mutex_;
  std::vector<TEntry> entries_;
  int optionCount_ = 0;
  int line_ = 0;
  bool continueVisible_ = true;
  bool continueShown_ = true;
  bool visible_ = false;
  uint32_t background_ = 0x80000018u;
  uint32_t textColour_ = 0;
  uint32_t optionColour_ = 0x800000u;
  std::atomic<int> optNum_{0};

  IScriptControl* control_ = nullptr;
  IScriptDisplayView* view_ = nullptr;
};

// The red, green and blue of a colour value; system colours (top bit set) by the usual
// desktop defaults, the tooltip background as a pale yellow.
struct TRgb {
  uint8_t Red, Green, Blue;
};
TRgb ColourRgb(uint32_t colour);

}  // namespace kestrel

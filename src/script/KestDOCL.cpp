#include "script/KestDOCL.h"

#include <algorithm>

#include "script/KestIOCL.h"

namespace kestrel {

// ---- Composition ----------------------------------------------------------------------------

void TScriptDisplay::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  optionCount_ = 0;
  line_ = 0;
}

void TScriptDisplay::AddText(const std::string& text) {
  std::lock_guard lock(mutex_);
  TEntry entry;
  entry.Item = {TDisplayItemKind::Text, text, textColour_, line_, 0};
  entries_.push_back(std::move(entry));
}

void TScriptDisplay::AddOption(const std::string& text) {
  std::lock_guard lock(mutex_);
  TEntry entry;
  entry.Item = {TDisplayItemKind::Option, text, optionColour_, line_, ++optionCount_};
  entries_.push_back(std::move(entry));
}

void TScriptDisplay::EndLine() {
  std::lock_guard lock(mutex_);
  TEntry entry;
  entry.LineEnd = true;
  entries_.push_back(std::move(entry));
  ++line_;
}

void TScriptDisplay::SetContinueVisible(bool visible) {
  std::lock_guard lock(mutex_);
  continueVisible_ = visible;
}

void TScriptDisplay::SetBackground(uint32_t colour) {
  std::lock_guard lock(mutex_);
  background_ = colour;
}

void TScriptDisplay::SetTextColour(uint32_t colour) {
  std::lock_guard lock(mutex_);
  textColour_ = colour;
}

void TScriptDisplay::SetOptionColour(uint32_t colour) {
  std::lock_guard lock(mutex_);
  optionColour_ = colour;
}

void TScriptDisplay::ResetColours() {
  std::lock_guard lock(mutex_);
  background_ = ColourInfoBk;
  textColour_ = ColourBlack;
  optionColour_ = ColourNavy;
}

// ---- State ----------------------------------------------------------------------------------

std::vector<TDisplayItem> TScriptDisplay::Items() const {
  std::lock_guard lock(mutex_);
  std::vector<TDisplayItem> items;
  for (const TEntry& e : entries_) {
    if (!e.LineEnd) items.push_back(e.Item);
  }
  return items;
}

int TScriptDisplay::OptionCount() const {
  std::lock_guard lock(mutex_);
  return optionCount_;
}

bool TScriptDisplay::ContinueVisible() const {
  std::lock_guard lock(mutex_);
  return continueVisible_;
}

bool TScriptDisplay::ContinueShown() const {
  std::lock_guard lock(mutex_);
  return continueShown_;
}

bool TScriptDisplay::Visible() const {
  std::lock_guard lock(mutex_);
  return visible_;
}

uint32_t TScriptDisplay::Background() const {
  std::lock_guard lock(mutex_);
  return background_;
}

uint32_t TScriptDisplay::TextColour() const {
  std::lock_guard lock(mutex_);
  return textColour_;
}

uint32_t TScriptDisplay::OptionColour() const {
  std::lock_guard lock(mutex_);
  return optionColour_;
}

std::vector<std::string> TScriptDisplay::TextLines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  std::string line;
  bool any = false;
  for (const TEntry& e : entries_) {
    if (e.LineEnd) {
      lines.push_back(line);
      line.clear();
      any = false;
      continue;
    }
    if (any) line += ' ';
    if (e.Item.Kind == TDisplayItemKind::Option) {
      line += "[" + std::to_string(e.Item.Number) + "] ";
    }
    line += e.Item.Text;
    any = true;
  }
  if (any) lines.push_back(line);
  return lines;
}

TDisplayLayout TScriptDisplay::Layout(
    const std::function<TItemSize(const TDisplayItem&)>& measure) const {
  std::lock_guard lock(mutex_);
  TDisplayLayout layout;
  int top = TopMargin;
  int widest = MinWidest;
  int lastHeight = 0;
  layout.Width = widest + WidthExtra;
  layout.Height = top + HeightExtra;
  for (const TEntry& e : entries_) {
    if (e.LineEnd) {
      top += lastHeight != 0 ? lastHeight : EmptyLineStep;
      lastHeight = 0;
    } else {
      // Every item starts at the left margin, also the second one of a line.
      TItemSize size = measure(e.Item);
      layout.Items.push_back({e.Item, LeftMargin, top, size});
      widest = std::max(widest, size.Width);
      lastHeight = size.Height;
    }
    layout.Width = widest + WidthExtra;
    layout.Height = top + HeightExtra;
  }
  return layout;
}

TItemSize TScriptDisplay::EstimateSize(const TDisplayItem& item) {
  return {static_cast<int>(item.Text.size()) * 7, 15};
}

// ---- Show, hide and the operator's answers --------------------------------------------------

void TScriptDisplay::Show() {
  optNum_ = 0;
  {
    std::lock_guard lock(mutex_);
    continueShown_ = continueVisible_;
    visible_ = true;
  }
  if (view_ != nullptr) view_->DisplayShown();
}

void TScriptDisplay::Hide() {
  {
    std::lock_guard lock(mutex_);
    visible_ = false;
  }
  if (view_ != nullptr) view_->DisplayHidden();
}

void TScriptDisplay::Continue() {
  Hide();
  if (control_ != nullptr) control_->ResumeScript();
}

void TScriptDisplay::ChooseOption(int number) {
  Hide();
  optNum_ = number;
  if (control_ != nullptr) control_->ResumeScript();
}

void TScriptDisplay::Cancel() {
  Hide();
  if (control_ != nullptr) control_->EndCurrentScript();
}

void TScriptDisplay::HandleMessage(const TMessage& message) {
  if (message.Id != EmulatorMessage::ScriptDisplayShow) return;
  if (message.WParam == 0) {
    Show();
  } else {
    Hide();
  }
}

// ---- Colours --------------------------------------------------------------------------------

TRgb ColourRgb(uint32_t colour) {
  if (colour & 0x80000000u) {
    switch (colour & 0xFF) {
      case 24:
        return {255, 255, 225};  // tooltip background
      case 23:
        return {0, 0, 0};  // tooltip text
      case 5:
        return {255, 255, 255};  // window
      case 8:
        return {0, 0, 0};  // window text
      case 15:
        return {240, 240, 240};  // button face
      case 18:
        return {0, 0, 0};  // button text
      case 13:
        return {0, 120, 215};  // highlight
      case 14:
        return {255, 255, 255};  // highlight text
      default:
        return {128, 128, 128};
    }
  }
  return {static_cast<uint8_t>(colour & 0xFF), static_cast<uint8_t>((colour >> 8) & 0xFF),
          static_cast<uint8_t>((colour >> 16) & 0xFF)};
}

}  // namespace kestrel

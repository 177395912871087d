// The card reader/punch window: one of the six piles in a unit record display (bottom-up, the
// next card to be read on the lowest line), the radio buttons that choose the pile, and the
// operator's Open, Deck and Load.  A view of `TReaderPunch`: each control forwards to it.
#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "devices/IBM1402.h"
#include "gui/RedrawThrottle.h"
#include "gui/devices/URecDispForm.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kestrel {

class TReaderForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* Caption = "IBM Emulation - 1402 Card Reader/Punch";

  explicit TReaderForm(TReaderPunch& reader, QWidget* parent = nullptr);
  ~TReaderForm() override;

  // What the front panel does after a Load: its display refresh.
  void SetPanelRefresh(std::function<void()> refresh) { panelRefresh_ = std::move(refresh); }

  // Open, once the dialog has chosen a file: it becomes the card file and is loaded.
  void OpenFile(const QString& fileName);
  void PBDeckClick();
  void PBLoadClick();
  void CBSizeClick(bool large);
  // The model's state on the controls and the display.
  void Refresh();

  TUnitRecordDisplay& Hopper() { return *hopper_; }

  std::array<QRadioButton*, PileCount> RB{};  // by tag: RBRdr, RBStkrNR, RBStkrNP, ...
  QPushButton* PBOpen = nullptr;
  QPushButton* PBDeck = nullptr;
  QPushButton* PBLoad = nullptr;
  QCheckBox* CBSize = nullptr;
  QLabel* LACardCount = nullptr;

 private:
  void PBOpenClick();
  void PileClick(TPile pile);
  // Runs an operator's action; its error goes to the error box.
  void Guarded(const std::function<void()>& action);

  TReaderPunch& reader_;
  TUnitRecordDisplay* hopper_;
  TPile shown_ = PLHopper;
  std::function<void()> panelRefresh_;
  // The refreshes the device asks for while it works, at most 30 a second.
  TRedrawThrottle throttle_{[this] { Refresh(); }, [this] { return reader_.ProcessorRunning(); }};
};

}  // namespace kestrel

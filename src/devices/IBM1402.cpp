#include "devices/IBM1402.h"

#include <filesystem>

#include "charset/IBMDefs.h"

namespace kestrel {

const char* PileCaption(TPile pile) {
  switch (pile) {
    case PLHopper:
      return "Reader";
    case PLReadN:
      return "Read N";
    case PLPunchN:
      return "Punch N";
    case PLRead1:
      return "Read 1";
    case PLPunch4:
      return "Punch 4";
    case PL82:
      return "8/2";
  }
  return "?";
}

bool PileOfStackerCode(uint16_t code, TPile& pile) {
  switch (code) {
    case StackerReadN:
      pile = PLReadN;
      return true;
    case StackerRead1:
      pile = PLRead1;
      return true;
    case Stacker82:
      pile = PL82;
      return true;
    case StackerPunch4:
      pile = PLPunch4;
      return true;
    case StackerPunchN:
      pile = PLPunchN;
      return true;
    default:
      return false;
  }
}

TReaderPunch::TReaderPunch(TRegisters& registers, TCoreStorage& core, TCharMap& charMap)
    : registers_(registers), core_(core), charMap_(charMap), cardDirectory_(ProgramDir()) {}

// ---- Device requests ------------------------------------------------------------------------

void TReaderPunch::HandleMessage(const TMessage& message) {
  if (message.Id != EmulatorMessage::DeviceRequest || message.Ref == nullptr) return;
  Request(*static_cast<const DeviceCommand*>(message.Ref));
}

void TReaderPunch::Request(const DeviceCommand& command) {
  // An empty reader ignores everything until it is reset.
  if (outOfCards_ && command.Operation != RdrReset) return;
  const TOperation operation = Decode(command.Operation);
  // A failing operation may still have changed the piles (a deck loaded up to a bad card), so
  // the window refreshes either way.
  try {
    operation(*this, command);
  } catch (...) {
    if (!registers_.TurboMode) Refresh();
    throw;
  }
  if (!registers_.TurboMode) Refresh();
}

namespace {
std::string TextOf(const DeviceCommand& command) {
  return command.Text != nullptr ? *command.Text : std::string();
}
}  // namespace

// An unknown operation is refused before anything has changed, so the window is not refreshed.
TReaderPunch::TOperation TReaderPunch::Decode(uint16_t operation) {
  switch (operation) {
    case RdrReset:
      return [](TReaderPunch& r, const DeviceCommand&) { r.Reset(); };
    case RdrClearStacker:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.ClearStacker(c.Selector); };
    case RdrLoadDeck:
      return
          [](TReaderPunch& r, const DeviceCommand& c) { r.LoadDeck(TextOf(c), (c.Flag & 1) != 0); };
    case RdrLoadCard:
      return [](TReaderPunch& r, const DeviceCommand&) { r.LoadCard(); };
    case RdrSaveStacker:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.SaveStacker(c.Selector, TextOf(c)); };
    case RdrRead:
      return [](TReaderPunch& r, const DeviceCommand&) { r.ReadCard(); };
    case RdrPunch:
      return [](TReaderPunch& r, const DeviceCommand&) { r.PunchCard(); };
    case RdrSelectStacker:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.SelectStacker(c.Selector); };
    case RdrDummyCard:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.SetDummyCard(TextOf(c)); };
    default:
      RaiseIOCheck("Invalid I/O Op for RDR/PUN: " + std::to_string(operation), 0);
  }
}

// ---- Operations -----------------------------------------------------------------------------

void TReaderPunch::Reset() {
  for (TCardList& pile : piles_)
    pile.clear();
  shown_ = PLHopper;
  outOfCards_ = false;
}

void TReaderPunch::ClearStacker(uint16_t stackerCode) {
  TPile pile;
  if (PileOfStackerCode(stackerCode, pile)) piles_[pile].clear();
}

void TReaderPunch::LoadDeck(const std::string& fileName, bool upperCase) {
  charMap_.LoadCardFile(fileName, piles_[PLHopper], upperCase);
}

void TReaderPunch::LoadCard() {
  for (uint16_t a = ReadArea; a < ReadArea + CardColumns; ++a)
    core_.StoreCharWM(a, false, 0);
  core_.SetWordMark(ReadArea, true);
  ReadCard();
  // The loaded card is the program: the next Start begins at 1, as after a reset.
  registers_.IAR = 0;
  registers_.State = CpuState::CardLoaded;
}

void TReaderPunch::SaveStacker(uint16_t stackerCode, const std::string& fileName) const {
  TPile pile;
  if (PileOfStackerCode(stackerCode, pile)) WriteTextLines(fileName, piles_[pile]);
}

void TReaderPunch::ReadCard() {
  std::string buffer(CardColumns, ' ');
  TCardList& hopper = piles_[PLHopper];
  if (!hopper.empty()) {
    buffer = hopper.front().substr(0, CardColumns);
    buffer.resize(CardColumns, ' ');
    hopper.pop_front();
    piles_[PLReadN].push_back(buffer);
  } else if (!dummyCard_.empty()) {
    buffer = dummyCard_;
  } else {
    outOfCards_ = true;
    // The stop names the reader, so the panel's red status line does not show an earlier stop.
    registers_.StopMessage.Set("Card reader empty");
    registers_.State = CpuState::MachineCheck;
    RaiseIOCheck("Card reader empty", 0);
  }
  lastFeedWasRead_ = true;
  for (int column = 1; column <= CardColumns; ++column) {
    core_.StoreChar(static_cast<uint16_t>(ReadArea - 1 + column), CharToBcd(buffer[column - 1]));
  }
}

void TReaderPunch::PunchCard() {
  std::string card(CardColumns, ' ');
  for (int column = 1; column <= CardColumns; ++column) {
    card[column - 1] = BcdToChar(core_.ReadChar(static_cast<uint16_t>(PunchArea - 1 + column)));
  }
  piles_[PLPunchN].push_back(std::move(card));
  lastFeedWasRead_ = false;
}

void TReaderPunch::SelectStacker(uint16_t pocketCode) {
  TPile destination;
  switch (pocketCode) {
    case 1:
      destination = PLRead1;
      break;
    case 2:
    case 8:
      destination = PL82;
      break;
    case 4:
      destination = PLPunch4;
      break;
    default:
      RaiseIOCheck("Invalid Select Stacker code for RDR/PUN: " + std::to_string(pocketCode), 0);
  }
  // The card last fed goes, whichever pocket is named.
  TPile source = lastFeedWasRead_ ? PLReadN : PLPunchN;
  TCardList& from = piles_[source];
  if (from.empty()) {
    RaiseIOCheck(
        std::string("Select Stacker: no card in the ") + PileCaption(source) + " stacker to move",
        0);
  }
  piles_[destination].push_back(std::move(from.back()));
  from.pop_back();
}

void TReaderPunch::SetDummyCard(const std::string& text) {
  std::string card = UpperCase(text).substr(0, CardColumns);
  card.resize(CardColumns, ' ');
  dummyCard_ = std::move(card);
}

// ---- Buttons --------------------------------------------------------------------------------

void TReaderPunch::Open(const std::string& fileName) {
  cardFileName_ = fileName;
  std::string directory = std::filesystem::path(fileName).parent_path().string();
  cardDirectory_ = directory.empty() ? std::string("./") : directory + "/";
  Deck();
}

void TReaderPunch::Deck() {
  try {
    LoadDeck(cardFileName_, false);
  } catch (...) {
    Refresh();
    throw;
  }
  Refresh();
}

void TReaderPunch::LoadButton() {
  try {
    LoadCard();
  } catch (...) {
    Refresh();
    throw;
  }
  Refresh();
}

void TReaderPunch::ShowPile(TPile pile) {
  if (pile < PileCount) shown_ = pile;
  Refresh();
}

bool TReaderPunch::CommandLineDeck(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return false;
  const std::string& first = arguments.front();
  if (first.find(".CRD") == std::string::npos && first.find(".CDR") == std::string::npos) {
    return false;
  }
  cardFileName_ = first;
  Deck();
  return true;
}

void TReaderPunch::Refresh() {
  ++refreshes_;
  if (listener_) listener_();
}

}  // namespace kestrel

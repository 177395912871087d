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
  auto lock = Lock();
  // An unknown operation is the I/O check; an empty reader feeds nothing until it is reset, but
  // its piles can still be saved.
  const TOperation operation = Decode(command.Operation);
  if (outOfCards_ && IsFeedingOp(command.Operation)) return;
  // A failing operation may still have changed the piles (a deck loaded up to a bad card), so
  // the window refreshes either way.
  try {
    operation(*this, command);
  } catch (...) {
    if (!registers_.TurboMode) Refresh();
    throw;
  }
  if (!registers_.TurboMode) Refresh();
  ReportFileError();
}

void TReaderPunch::ReportFileError() {
  for (TRecordSpool& pile : piles_) {
    std::string error = pile.TakeError();
    if (!error.empty()) throw EKestrelError(error + "\rThe cards are kept in memory.");
  }
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
      return [](TReaderPunch& r, const DeviceCommand& c) {
        c.Selector == RdrColumnBinary ? r.ReadColumnBinary() : r.ReadCard();
      };
    case RdrPunch:
      return [](TReaderPunch& r, const DeviceCommand& c) {
        c.Selector == RdrColumnBinary ? r.PunchColumnBinary() : r.PunchCard();
      };
    case RdrSelectStacker:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.SelectStacker(c.Selector); };
    case RdrDummyCard:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.SetDummyCard(TextOf(c)); };
    case RdrPocketToHopper:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.PocketToHopper(c.Selector); };
    case RdrWaitWhenEmpty:
      return [](TReaderPunch& r, const DeviceCommand& c) { r.SetWaitWhenEmpty(c.Selector != 0); };
    case RdrCheckReady:
      return [](TReaderPunch& r, const DeviceCommand&) { r.CheckReady(); };
    default:
      RaiseIOCheck("Invalid I/O Op for RDR/PUN: " + std::to_string(operation), 0);
  }
}

bool TReaderPunch::IsFeedingOp(uint16_t operation) {
  return operation == RdrLoadCard || operation == RdrRead || operation == RdrPunch;
}

// ---- Operations -----------------------------------------------------------------------------

void TReaderPunch::Reset() {
  for (TRecordSpool& pile : piles_)
    pile.clear();
  shown_ = PLHopper;
  outOfCards_ = false;
  registers_.LastCardIndicator = false;
}

void TReaderPunch::ClearStacker(uint16_t stackerCode) {
  TPile pile;
  if (PileOfStackerCode(stackerCode, pile)) piles_[pile].clear();
}

void TReaderPunch::PocketToHopper(uint16_t stackerCode) {
  TPile pile;
  if (!PileOfStackerCode(stackerCode, pile)) return;
  TRecordSpool& pocket = piles_[pile];
  TRecordSpool& hopper = piles_[PLHopper];
  for (size_t i = 0; i < pocket.size(); ++i)
    hopper.push_back(pocket[i]);
  if (!pocket.empty()) registers_.LastCardIndicator = false;
  pocket.clear();
}

void TReaderPunch::LoadDeck(const std::string& fileName, bool upperCase) {
  TCardList cards;
  // The cards translated before a failing line go into the hopper all the same.
  auto append = [&] {
    for (std::string& card : cards)
      piles_[PLHopper].push_back(std::move(card));
    if (!cards.empty()) registers_.LastCardIndicator = false;
  };
  try {
    charMap_.LoadCardFile(fileName, cards, upperCase);
  } catch (...) {
    append();
    throw;
  }
  append();
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

void TReaderPunch::SaveStacker(uint16_t stackerCode, const std::string& fileName) {
  TPile pile;
  if (PileOfStackerCode(stackerCode, pile)) piles_[pile].Save(fileName);
}

std::string TReaderPunch::FeedReadCard(bool columnBinary) {
  TRecordSpool& hopper = piles_[PLHopper];
  std::string card;
  if (!hopper.empty()) {
    card = hopper.front();
    hopper.pop_front();
    if (!(columnBinary && card.size() == BinaryCardLength)) card.resize(CardColumns, ' ');
    piles_[PLReadN].push_back(card);
    // The hopper's last card read turns the last card indicator on (no dummy card follows it).
    if (hopper.empty() && dummyCard_.empty()) registers_.LastCardIndicator = true;
  } else if (!dummyCard_.empty()) {
    card = dummyCard_;
  } else {
    outOfCards_ = true;
    // The stop names the reader, so the panel's red status line does not show an earlier stop.
    registers_.StopMessage.Set("Card reader empty");
    registers_.State = CpuState::MachineCheck;
    RaiseIOCheck("Card reader empty", 0);
  }
  lastFeedWasRead_ = true;
  return card;
}

void TReaderPunch::ReadCard() {
  const std::string buffer = FeedReadCard(false);
  for (int column = 1; column <= CardColumns; ++column) {
    core_.StoreChar(static_cast<uint16_t>(ReadArea - 1 + column), CharToBcd(buffer[column - 1]));
  }
}

void TReaderPunch::PunchCard() {
  std::string card(CardColumns, ' ');
  for (int column = 1; column <= CardColumns; ++column) {
    card[column - 1] = BcdToCardChar(core_.ReadChar(static_cast<uint16_t>(PunchArea - 1 + column)));
  }
  piles_[PLPunchN].push_back(std::move(card));
  lastFeedWasRead_ = false;
}

namespace {

// The punches of a character's card code, rows 12, 11, 0, 1, ..., 9 from bit 11 down to bit 0:
// the zone bits punch 12 (B and A), 11 (B) or 0 (A); the digits 1 to 9 their row, 0 (8-2) row 0
// (8-2 under the 0 zone, as the record mark is 0-8-2), 11 to 15 row 8 and their code less 8.
uint16_t Punches(uint8_t code) {
  constexpr uint16_t Row12 = 1 << 11, Row11 = 1 << 10, Row0 = 1 << 9;
  auto row = [](int n) { return static_cast<uint16_t>(1 << (9 - n)); };  // rows 1 to 9
  const int zone = (code >> 4) & 3;
  const int digit = code & 15;
  uint16_t rows = zone == 3 ? Row12 : zone == 2 ? Row11 : zone == 1 ? Row0 : 0;
  if (digit >= 1 && digit <= 9) {
    rows |= row(digit);
  } else if (digit == 10) {
    rows |= zone == 1 ? static_cast<uint16_t>(row(8) | row(2)) : Row0;
  } else if (digit > 10) {
    rows |= static_cast<uint16_t>(row(8) | row(digit - 8));
  }
  return rows;
}

}  // namespace

void TReaderPunch::ReadColumnBinary() {
  const std::string card = FeedReadCard(true);
  const bool binary = card.size() == BinaryCardLength;
  for (int k = 0; k < CardColumns; ++k) {
    uint8_t upper = 0;
    uint8_t lower = 0;
    if (binary) {
      upper = CharToBcd(card[k]);
      lower = CharToBcd(card[CardColumns + k]);
    } else {
      const uint16_t rows = Punches(CharToBcd(card[k]));
      upper = static_cast<uint8_t>(rows >> 6);
      lower = static_cast<uint8_t>(rows & 63);
    }
    core_.StoreChar(static_cast<uint16_t>(UpperRows + k), upper);
    core_.StoreChar(static_cast<uint16_t>(LowerRows + k), lower);
  }
}

void TReaderPunch::PunchColumnBinary() {
  std::string card(BinaryCardLength, ' ');
  for (int k = 0; k < CardColumns; ++k) {
    card[k] = BcdToCardChar(core_.ReadChar(static_cast<uint16_t>(UpperRows + k)));
    card[CardColumns + k] = BcdToCardChar(core_.ReadChar(static_cast<uint16_t>(LowerRows + k)));
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
  TRecordSpool& from = piles_[source];
  if (from.empty()) {
    RaiseIOCheck(
        std::string("Select Stacker: no card in the ") + PileCaption(source) + " stacker to move",
        0);
  }
  piles_[destination].push_back(from.TakeBack());
}

void TReaderPunch::SetDummyCard(const std::string& text) {
  std::string card = UpperCase(text).substr(0, CardColumns);
  card.resize(CardColumns, ' ');
  dummyCard_ = std::move(card);
}

void TReaderPunch::SetWaitWhenEmpty(bool on) {
  waitWhenEmpty_ = on;
  registers_.ReaderWaits = on;
}

void TReaderPunch::CheckReady() {
  registers_.ReaderNotReady = waitWhenEmpty_ && piles_[PLHopper].empty() && dummyCard_.empty();
}

// ---- Buttons --------------------------------------------------------------------------------

void TReaderPunch::Open(const std::string& fileName) {
  auto lock = Lock();
  cardFileName_ = fileName;
  std::string directory = std::filesystem::path(fileName).parent_path().string();
  cardDirectory_ = directory.empty() ? std::string("./") : directory + "/";
  Deck();
}

void TReaderPunch::Deck() {
  auto lock = Lock();
  try {
    LoadDeck(cardFileName_, false);
  } catch (...) {
    Refresh();
    throw;
  }
  Refresh();
}

void TReaderPunch::LoadButton() {
  auto lock = Lock();
  try {
    LoadCard();
  } catch (...) {
    Refresh();
    throw;
  }
  Refresh();
}

void TReaderPunch::ShowPile(TPile pile) {
  auto lock = Lock();
  if (pile < PileCount) shown_ = pile;
  Refresh();
}

bool TReaderPunch::CommandLineDeck(const std::vector<std::string>& arguments) {
  auto lock = Lock();
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

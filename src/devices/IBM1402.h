// The IBM 1402 card reader/punch: the reader hopper and the five pockets, the device requests
// the processor and the scripts send it, the operator's Open, Deck and Load, and which pile the
// reader window shows.  The processor's requests run on its own thread, the scripts' and the
// operator's on the GUI thread (in batch mode, the thread that delivers the messages): the
// requests and the buttons take the device's lock, and the window holds it while it reads what
// it shows.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "charset/IBMChars.h"
#include "core/KestCore.h"
#include "core/KestDefs.h"
#include "core/Messenger.h"
#include "core/Registers.h"
#include "devices/RecordSpool.h"

namespace kestrel {

// The six piles, numbered by the tag of the radio button that shows each.
enum TPile : uint8_t {
  PLHopper = 0,
  PLReadN = 1,
  PLPunchN = 2,
  PLRead1 = 3,
  PLPunch4 = 4,
  PL82 = 5,
};
inline constexpr int PileCount = 6;

// The radio button caption of a pile ("Reader", "Read N", ...).
const char* PileCaption(TPile pile);
// The pile a stacker code of operations 2 and 5 names (1 Read N, 2 Read 1, 3 8/2, 4 Punch 4,
// 5 Punch N); false for any other code.
bool PileOfStackerCode(uint16_t code, TPile& pile);

class TReaderPunch : public IMessageReceiver {
 public:
  static constexpr int CardColumns = 80;
  static constexpr uint16_t ReadArea = 1;     // columns 1-80 are read into 1-80
  static constexpr uint16_t PunchArea = 101;  // 101-180 are punched
  // Column binary: the twelve punch positions of column k are read into, and punched from, two
  // positions: rows 12, 11, 0, 1, 2, 3 as the bits B A 8 4 2 1 of UpperRows + k - 1, rows 4 to 9
  // as those of LowerRows + k - 1.  In a pile such a card is 160 characters, the upper rows of
  // the 80 columns and then the lower rows; any other card is read by its characters' punches.
  static constexpr uint16_t UpperRows = 401;
  static constexpr uint16_t LowerRows = 501;
  static constexpr size_t BinaryCardLength = 2 * CardColumns;

  TReaderPunch(TRegisters& registers, TCoreStorage& core, TCharMap& charMap);

  // ---- Device requests ----
  void HandleMessage(const TMessage& message) override;
  // Carries out one request.  While OutOfCards is set, the feeding operations (load, read,
  // punch) are ignored until a reset; saving and the other pile operations are carried out.
  void Request(const DeviceCommand& command);
  // The piles and the rest are read and changed only under this lock (it may be taken again by
  // the thread that holds it).  The listener is called with it held, on the thread of the request.
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(mutex_); }
  std::recursive_mutex& Mutex() const { return mutex_; }
  static bool IsFeedingOp(uint16_t operation);

  // ---- Operations (the requests, and the operator's and front ends' direct use) ----
  // Empties every pile and shows the hopper; the dummy card and the card file name stay.
  void Reset();
  // Empties the pile a stacker code names; any other code does nothing.
  void ClearStacker(uint16_t stackerCode);
  // Moves the cards of the pocket a stacker code names, as they are, behind the hopper's cards;
  // any other code does nothing.
  void PocketToHopper(uint16_t stackerCode);
  // Appends a card file's cards to the hopper (LoadCardFile).  Throws EKestrelError.
  void LoadDeck(const std::string& fileName, bool upperCase);
  // Load: 1-80 blank without word marks, a word mark at 1, the next card read, Card Loaded.
  void LoadCard();
  // Writes the pile a stacker code names to a file, one card per line; any other code does
  // nothing.  Throws EKestrelError when the file cannot be written.
  void SaveStacker(uint16_t stackerCode, const std::string& fileName);
  void ReadCard();
  void PunchCard();
  void ReadColumnBinary();
  void PunchColumnBinary();
  // Moves the card last fed (read or punched) to the pocket of a select code 1, 2, 4 or 8.
  void SelectStacker(uint16_t pocketCode);
  // The card fed when the hopper is empty: upper case, cut or padded to 80 columns.
  void SetDummyCard(const std::string& text);
  // The real reader's not-ready stop: with it on, a read finding the hopper empty (and no dummy
  // card) is not done; the machine stops at the instruction and Start reads the cards the
  // operator has put in.  Off (the start), the empty hopper is the machine check.
  void SetWaitWhenEmpty(bool on);
  bool WaitWhenEmpty() const { return waitWhenEmpty_; }
  // The processor's question before a read: ReaderNotReady says whether the read must wait.
  void CheckReady();

  // ---- The window's buttons ----
  // Open: a chosen file becomes the card file, its directory the dialog's, then Deck.
  void Open(const std::string& fileName);
  // Deck: the current card file into the hopper, upper-case option off.  Refreshes, also when
  // the load fails (the error then goes on to the caller).
  void Deck();
  // Load button: LoadCard, then a refresh, also when the read fails.
  void LoadButton();
  // A radio button: show the pile of its tag.
  void ShowPile(TPile pile);
  // The program's command line: a first argument naming a card file (it contains ".CRD" or
  // ".CDR", in upper case) becomes the card file and is loaded as with Deck.  Returns whether it
  // did.  Load errors go on to the caller.
  bool CommandLineDeck(const std::vector<std::string>& arguments);

  // ---- What the window shows ----
  const TRecordSpool& Pile(TPile pile) const { return piles_[pile]; }
  TPile ShownPile() const { return shown_; }
  size_t ShownCount() const { return piles_[shown_].size(); }   // LACardCount
  bool DeckEnabled() const { return !cardFileName_.empty(); }   // PBDeck
  bool LoadEnabled() const { return !piles_[shown_].empty(); }  // PBLoad
  const std::string& CardFileName() const { return cardFileName_; }
  const std::string& CardDirectory() const { return cardDirectory_; }
  const std::string& DummyCard() const { return dummyCard_; }
  bool OutOfCards() const { return outOfCards_; }
  bool LastFeedWasRead() const { return lastFeedWasRead_; }
  // Called for every refresh of the window (after a request unless Turbo is on, and after
  // every button).
  void SetRefreshListener(std::function<void()> listener) {
    auto lock = Lock();
    listener_ = std::move(listener);
  }
  // While the processor runs, its requests' refreshes may be paced by the window.
  bool ProcessorRunning() const { return registers_.State == CpuState::Running; }
  uint64_t RefreshCount() const { return refreshes_.load(); }

 private:
  using TOperation = void (*)(TReaderPunch& reader, const DeviceCommand& command);
  static TOperation Decode(uint16_t operation);
  void Refresh();
  // A pile whose file has failed is reported once, as an error of the request.
  void ReportFileError();
  // The next card from the hopper (or the dummy card), 80 columns, or as it is for a column
  // binary read of a column binary card; it goes to the Read N pocket.  An empty reader is the
  // I/O check.
  std::string FeedReadCard(bool columnBinary);

  TRegisters& registers_;
  TCoreStorage& core_;
  TCharMap& charMap_;
  // Piles that grow large (a long punch run) are kept in files of their own.
  std::array<TRecordSpool, PileCount> piles_;
  TPile shown_ = PLHopper;
  std::string cardFileName_;
  std::string cardDirectory_;
  std::string dummyCard_;
  bool outOfCards_ = false;
  bool waitWhenEmpty_ = false;
  bool lastFeedWasRead_ = false;
  std::function<void()> listener_;
  std::atomic<uint64_t> refreshes_{0};
  mutable std::recursive_mutex mutex_;
};

}  // namespace kestrel

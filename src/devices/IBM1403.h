// The IBM 1403 printer: the print list with its pending spacing, the device requests that print
// and move the carriage, and the print file.  The processor's requests run on its own thread, the
// scripts' and the operator's on the GUI thread (in batch mode, the thread that delivers the
// messages): the requests and the operator's operations take the printer's lock, and the window
// holds it while it reads what it shows.
#pragma once

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
#include "devices/CarriageTape.h"
#include "devices/RecordSpool.h"

namespace kestrel {

class TPrinter : public IMessageReceiver {
 public:
  static constexpr int LineWidth = 132;
  static constexpr uint16_t PrintArea = 201;  // 201-332 are printed
  // Carriage selectors from this value on space at once, by the value less this.
  static constexpr uint16_t Immediate = 1000;
  // With a carriage tape loaded, a skip to channel n arrives as Skip + n (plus Immediate when at
  // once); without one every carriage operation is a count of empty lines.
  static constexpr uint16_t Skip = 100;
  // CarriageState's bits.
  static constexpr uint8_t TapeLoaded = 1, Latch9 = 2, Latch12 = 4;
  static constexpr const char* PrintFileName = "Kestrel.PRN";

  TPrinter(TRegisters& registers, TCoreStorage& core, const TCharMap& charMap);
  ~TPrinter() override;
  TPrinter(const TPrinter&) = delete;
  TPrinter& operator=(const TPrinter&) = delete;

  // ---- Device requests ----
  void HandleMessage(const TMessage& message) override;
  void Request(const DeviceCommand& command);
  // The printer's state is read and changed only under this lock (it may be taken again by the
  // thread that holds it).  The listeners are called with it held, on the thread of the request.
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(mutex_); }
  std::recursive_mutex& Mutex() const { return mutex_; }

  // ---- Operations ----
  // Empties the print list (and the print file); a pending spacing stays.
  void Reset();
  // Writes the print list to a file, one entry per line.  Throws EKestrelError.  The print file
  // itself is only brought up to date.
  void Save(const std::string& fileName);
  // Prints 201-332 (their word marks, as 1 and 0, when `wordMarks` is set), then the pending
  // empty lines.  BAR follows each position read.
  void PrintLine(bool wordMarks);
  // A selector of 1000 or more spaces at once; a smaller one spaces after the next print.
  void CarriageControl(uint16_t selector);
  // PrinterLineCount := the number of entries in the print list, modulo 1650: the channel tests
  // look at it modulo 50 and 66, which stay exact however long the list grows.
  void StoreLineCount();

  // ---- The carriage tape ----
  // Loads a carriage tape from its file (the usual tape for an empty name) and sets the form at
  // its top: from then on the carriage follows the tape.  Throws EKestrelError, keeping the tape
  // it had, for a file that is missing or no carriage tape.
  void LoadCarriageTape(const std::string& fileName);
  bool HasCarriageTape() const { return tapeLoaded_; }
  const TCarriageTape& CarriageTape() const { return carriage_; }
  std::string CarriageTapeName() const { return carriageName_; }
  // Whether print list entry `index` is the first line of a page: the carriage tape has a hole in
  // channel 1 on that line.  Never without a carriage tape.
  bool StartsPage(size_t index) const;
  // With form feeds on (an option of the print file, off by default), the first line of every
  // page but the first begins with a form feed, in the print list and so in the print file.
  void SetFormFeeds(bool on) {
    auto lock = Lock();
    formFeeds_ = on;
  }
  bool FormFeeds() const { return formFeeds_; }
  static constexpr char FormFeed = '\f';
  static constexpr size_t LineCountCycle = 1650;  // 50 x 33, a multiple of 50 and of 66

  // The program keeps the print list in the print file as it prints (replacing any earlier file),
  // so the file holds every line printed, also after a crash or a kill; only a quarter of a second
  // of lines may be still on their way.  Tests and tools leave it off.  A file that cannot be
  // written is reported by the next request; the lines are then kept in memory.
  void KeepPrintFile(const std::string& fileName = PrintFileName);
  // Writes the lines the print file lacks once they are a quarter of a second old; the front
  // ends call it while idle.  It never throws: a failure is reported by the next request.
  void FlushPrintFile() {
    auto lock = Lock();
    printList_.Flush();
  }

  // The print chain: 'A' (the commercial chain, the start) or 'H' (the FORTRAN chain, on which
  // five codes print as = ' ( + and ).  The print list and file carry the chain's characters.
  void SetChain(char chain) {
    auto lock = Lock();
    chain_ = chain == 'H' || chain == 'h' ? 'H' : 'A';
  }
  char Chain() const { return chain_; }

  // ---- What the window shows ----
  const TRecordSpool& PrintList() const { return printList_; }
  size_t LineCount() const { return printList_.size(); }  // LALineCount
  uint16_t PendingSpace() const { return pendingSpace_; }
  // Called after each request unless Turbo is on; the window also refreshes on its timer.
  void SetRefreshListener(std::function<void()> listener) {
    auto lock = Lock();
    refresh_ = std::move(listener);
  }
  // While the processor runs, its requests' refreshes may be paced by the window.
  bool ProcessorRunning() const { return registers_.State == CpuState::Running; }
  // Called after a print unless Turbo is on: bring the newest lines into view.
  void SetScrollListener(std::function<void()> listener) {
    auto lock = Lock();
    scroll_ = std::move(listener);
  }
  uint64_t RefreshCount() const { return refreshes_.load(); }

 private:
  void Refresh();
  // A print file that has failed is reported once, as an error of the request.
  void ReportFileError();
  static std::string TextOfError(const std::string& error);

  TRegisters& registers_;
  TCoreStorage& core_;
  const TCharMap& charMap_;
  TRecordSpool printList_;
  uint16_t pendingSpace_ = 0;
  // Moves the carriage by a selector (Immediate taken off), at once or after a print; returns
  // the lines moved, or -1 for a runaway carriage.
  int MoveCarriage(uint16_t selector, bool immediate);
  void PublishCarriage();
  TCarriageTape carriage_;
  bool tapeLoaded_ = false;
  std::string carriageName_;
  size_t formBase_ = 0;
  bool formFeeds_ = false;
  // Empty lines after the print list, with a form feed on each that starts a page.
  void AppendLines(size_t count);
  bool FeedAt(size_t index) const {
    return formFeeds_ && index > 0 && StartsPage(index);
  }  // the print list entry of the tape's first line
  char chain_ = 'A';
  std::function<void()> refresh_;
  std::function<void()> scroll_;
  std::atomic<uint64_t> refreshes_{0};
  mutable std::recursive_mutex mutex_;
};

}  // namespace kestrel

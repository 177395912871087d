// The IBM 1403 printer: the print list with its pending spacing, the device requests that print
// and move the carriage, and the print file.  Everything here runs in the GUI thread (in batch
// mode, the thread that delivers the messages).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "charset/IBMChars.h"
#include "core/KestCore.h"
#include "core/KestDefs.h"
#include "core/Messenger.h"
#include "core/Registers.h"

namespace kestrel {

class TPrinter : public IMessageReceiver {
 public:
  static constexpr int LineWidth = 132;
  static constexpr uint16_t PrintArea = 201;  // 201-332 are printed
  // Carriage selectors from this value on space at once, by the value less this.
  static constexpr uint16_t Immediate = 1000;
  static constexpr const char* PrintFileName = "Kestrel.PRN";

  TPrinter(TRegisters& registers, TCoreStorage& core, const TCharMap& charMap);
  // Writes the print file when the program has asked for it (EnablePrintFileAtExit).
  ~TPrinter() override;
  TPrinter(const TPrinter&) = delete;
  TPrinter& operator=(const TPrinter&) = delete;

  // ---- Device requests ----
  void HandleMessage(const TMessage& message) override;
  void Request(const DeviceCommand& command);

  // ---- Operations ----
  // Empties the print list; a pending spacing stays.
  void Reset();
  // Writes the print list to a file, one entry per line.  Throws EKestrelError.
  void Save(const std::string& fileName) const;
  // Prints 201-332 (their word marks, as 1 and 0, when `wordMarks` is set), then the pending
  // empty lines.  BAR follows each position read.
  void PrintLine(bool wordMarks);
  // A selector of 1000 or more spaces at once; a smaller one spaces after the next print.
  void CarriageControl(uint16_t selector);
  // PrinterLineCount := the number of entries in the print list.
  void StoreLineCount();

  // The program asks for the print file to be written when the printer goes at exit, however
  // the run ended.  Tests and tools leave it off.
  void EnablePrintFileAtExit(std::string fileName = PrintFileName) {
    exitFileName_ = std::move(fileName);
  }

  // ---- What the window shows ----
  const std::vector<std::string>& PrintList() const { return printList_; }
  size_t LineCount() const { return printList_.size(); }  // LALineCount
  uint16_t PendingSpace() const { return pendingSpace_; }
  // Called after each request unless Turbo is on; the window also refreshes on its timer.
  void SetRefreshListener(std::function<void()> listener) { refresh_ = std::move(listener); }
  // Called after a print unless Turbo is on: bring the newest lines into view.
  void SetScrollListener(std::function<void()> listener) { scroll_ = std::move(listener); }
  uint64_t RefreshCount() const { return refreshes_; }

 private:
  void Refresh();

  TRegisters& registers_;
  TCoreStorage& core_;
  const TCharMap& charMap_;
  std::vector<std::string> printList_;
  uint16_t pendingSpace_ = 0;
  std::string exitFileName_;
  std::function<void()> refresh_;
  std::function<void()> scroll_;
  uint64_t refreshes_ = 0;
};

}  // namespace kestrel

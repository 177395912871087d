#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>

namespace kestrel::fuzz {

void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** Kestrel fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

bool Verbose() {
  static const bool verbose = std::getenv("KESTREL_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

void Report(const std::string& line) {
  if (Verbose()) std::fprintf(stderr, "%s\n", line.c_str());
}

// ---- Messenger ------------------------------------------------------------------------------

TFuzzMessenger::TFuzzMessenger() {
  SetErrorReporter([this](const std::string& error) { errors_.push_back(error); });
}

void TFuzzMessenger::Send(TReceiver receiver, const TMessage& message) {
  Deliver(receiver, message);
}

void TFuzzMessenger::Post(TReceiver /*receiver*/, const TMessage& message) {
  if (message.Id == EmulatorMessage::CpuStopped) ++cpuStopped_;
  if (message.Id != EmulatorMessage::ShowRegisters || machine_ == nullptr) return;
  ++showRegisters_;
  machine_->Cpu.AcknowledgeShowRegisters();
  // The Stop button: the run ends after the instruction it is executing.
  if (showRegisters_ >= stopAfter_) machine_->Registers.State = CpuState::OperatorHalt;
}

void TFuzzMessenger::Watch(TMachine& machine, int stopAfter) {
  machine_ = &machine;
  stopAfter_ = stopAfter;
}

void TTraceChecker::HandleMessage(const TMessage& message) {
  if (message.Id != EmulatorMessage::AddTraceLine || message.Ref == nullptr) return;
  const std::string& line = *static_cast<const std::string*>(message.Ref);
  Require(!line.empty() && std::string_view("IDRETS ").find(line[0]) != std::string_view::npos,
          "trace line without a kind letter (or the blank of a detail): " + line);
  ++lines_;
}

// ---- Scratch files --------------------------------------------------------------------------

namespace {

struct TScratch {
  std::string Dir;
  TScratch() {
    // Memory-backed when there is such a place (every input writes files), unless TMPDIR says
    // otherwise.
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (std::getenv("TMPDIR") != nullptr || !std::filesystem::is_directory(base, error)) {
      base = std::filesystem::temp_directory_path(error);
      if (error) base = "/tmp";
    }
    std::string pattern = (base / "kestrel-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      Fail("cannot make a scratch directory in " + base.string());
    Dir = pattern;
  }
  ~TScratch() {
    std::error_code error;
    std::filesystem::remove_all(Dir, error);
  }
};

bool StartsWithAny(const std::string& text, std::initializer_list<std::string_view> prefixes) {
  for (std::string_view prefix : prefixes) {
    if (text.starts_with(prefix)) return true;
  }
  return false;
}

bool EndsInDigit(const std::string& text) {
  return !text.empty() && text.back() >= '0' && text.back() <= '9';
}

}  // namespace

const std::string& ScratchDir() {
  static const TScratch scratch;
  return scratch.Dir;
}

std::string WriteScratch(const std::string& name, std::string_view bytes) {
  std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write the scratch file " + path);
  return path;
}

// ---- The catalogue of messages ---------------------------------------------------------------

bool IsProcessCheckText(const std::string& text) {
  return EndsInDigit(text) && StartsWithAny(text, {
                                                      "Invalid Address: ",
                                                      "Read from Uninitialized Core at: ",
                                                      "Store of invalid char. value: $",
                                                      "Bad address (",
                                                      "Missing WordMark at ",
                                                      "Unexpected WordMark at ",
                                                      "Bad Address character: $",
                                                      "State is wrong: ",
                                                      "Invalid Opcode: \"",
                                                      "Invalid Tape Control command: ",
                                                      "Invalid I/O command: ",
                                                      "Invalid R/W Option: ",
                                                      "Invalid Disk Command: ",
                                                      "Invalid I/O Option: ",
                                                      "Invalid Print Modifier: $",
                                                      "Invalid Carriage Control char: \"",
                                                      "Invalid Select Stacker char: ",
                                                      "Invalid d-char: ",
                                                      "Invalid Branch instruction length at ",
                                                      "Divide cannot end: ",
                                                      "Printer check: runaway carriage",
                                                  });
}

bool IsIOCheckText(const std::string& text) {
  return text == "Card reader empty" ||
         StartsWithAny(text, {
                                 "Invalid I/O Op for RDR/PUN: ",
                                 "Invalid I/O Op for PRN: ",
                                 "Invalid I/O Op for All Tape Units: ",
                                 "Invalid tape unit: ",
                                 "Invalid Select Stacker code for RDR/PUN: ",
                                 "Select Stacker: no card in the ",
                                 "Printer check: runaway carriage",
                                 "Carriage tape ",
                             });
}

bool IsDriveErrorText(const std::string& text) {
  // A reel refused on mount names its file and the offset of its first bad record.
  if (text.rfind("Tape image ", 0) == 0 && text.find(" reel: ") != std::string::npos &&
      text.find(" at byte offset ") != std::string::npos) {
    return true;
  }
  return StartsWithAny(text, {
                                 "Tape Read Error",
                                 "$0D not followed by $0A",
                                 "Tape Parity Error",
                                 "Tape Write Error",
                                 "Tape Read with Tape Indicate On",
                                 "Tape Write with Tape Indicate On",
                                 "Tape Write with Write Protect On",
                                 "WM followed by WM",
                                 "Invalid I/O Op for Tape: ",
                                 "Tape file not found: ",
                                 "Tape file is not a file: ",
                                 "Tape file could not be read: ",
                                 "Tape image too large: ",
                                 "Tape image could not be saved: ",
                                 "ZAP offset ",
                             });
}

bool IsCardFileErrorText(const std::string& text) {
  return StartsWithAny(text, {
                                 "File does not exist:-\r",
                                 "Cannot read file:-\r",
                                 "Cannot write file:-\r",
                                 "Character Map Control file: ",
                                 "Duplicate character: \"",
                                 "Unmapped character: \"",
                                 "Card ",
                             });
}

bool IsMessageText(const std::string& text) {
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if ((u < 32 && c != '\r') || u == 127) return false;
  }
  return !text.empty();
}

// ---- Machine invariants ---------------------------------------------------------------------

void CheckMachine(TMachine& machine) {
  constexpr uint16_t Known =
      CoreChar::CodeMask | CoreChar::WordMark | CoreChar::Changed | CoreChar::Written;
  for (uint16_t a = 0; a < TCoreStorage::MaxSize; ++a) {
    uint16_t word = machine.Core.Word(a);
    if (word & ~Known) Fail("core word " + std::to_string(a) + " holds " + std::to_string(word));
  }
  for (const std::string& line : machine.TraceLog.Lines()) {
    Require(!line.empty() && std::string_view("IDRETS ").find(line[0]) != std::string_view::npos,
            "trace line without a kind letter (or the blank of a detail): " + line);
  }
  const TRecordSpool& printList = machine.Printer.PrintList();
  for (size_t i = 0; i < printList.size(); ++i) {
    const std::string& line = printList[i];
    Require(line.empty() || line.size() == static_cast<size_t>(TPrinter::LineWidth),
            "print line of " + std::to_string(line.size()) + " characters");
  }
  std::string cardChars(InternalCharSet, 64);
  for (int code = 0; code < 64; ++code)
    cardChars += BcdToCardChar(static_cast<uint8_t>(code));
  for (int p = 0; p < PileCount; ++p) {
    auto pile = static_cast<TPile>(p);
    const TRecordSpool& cards = machine.ReaderPunch.Pile(pile);
    for (size_t i = 0; i < cards.size(); ++i) {
      const std::string& card = cards[i];
      if (pile == PLHopper) {
        Require(card.size() >= 80, "hopper card shorter than 80 columns");
      } else {
        Require(card.size() == 80 || card.size() == TReaderPunch::BinaryCardLength,
                std::string("card of ") + std::to_string(card.size()) + " columns in " +
                    PileCaption(pile));
      }
      for (char c : card) {
        Require(cardChars.find(c) != std::string::npos,
                std::string("card character outside the card set in ") + PileCaption(pile));
      }
    }
  }
}

}  // namespace kestrel::fuzz

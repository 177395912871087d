// Card files and the character-map control file: the loader with its report, through the
// reader's Deck request, then the cards read into core, punched, stacked and saved, and a line
// printed through the mapping the load left.  A bad file must give a plain error whose message
// keeps to its form (lines separated by a carriage return, no other control character), with the
// cards translated before it kept; a good one gives 80-column cards of the internal set.
//
// Input: one options byte, then the control file up to the first NUL byte, then the card file.
// Without a NUL there is no control file at all.
//   options: 1 upper-case option, 2 the mapping from the control file (else the mapping string
//   installed directly: the control file's first 64 bytes, through the duplicate check), 4 the
//   card file is named JOB.V2.CRD (else DECK.CRD), 8 the mapping string set through the window's
//   edit line instead (no padding, no check), 16 a dummy card from the card file's first line,
//   32 the card file is named URJOB.CRD (the demonstration deck's name)
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "charset/IBMChars.h"
#include "charset/IBMDefs.h"
#include "devices/IBM1402.h"
#include "machine/Machine.h"

using namespace kestrel;
using namespace kestrel::fuzz;

namespace {

enum : uint8_t {
  OptUpper = 1,
  OptCmc = 2,
  OptJobName = 4,
  OptEditLine = 8,
  OptDummy = 16,
  OptDemoName = 32,
};

void RequireLoadError(const std::string& message) {
  Require(IsMessageText(message), "load error with a control character: " + message);
  Require(IsCardFileErrorText(message), "unknown load error: " + message);
}

// The number of lines a text has, as the loader reads them: CR, LF or CR LF end a line, and a
// line end at the very end adds no empty line.
size_t LineCount(std::string_view text) {
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\r' || text[i] == '\n') ++lines;
  }
  if (!text.empty() && text.back() != '\r' && text.back() != '\n') ++lines;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const uint8_t options = in.Byte();
  std::string_view rest = in.Rest();
  const size_t nul = rest.find('\0');
  const bool haveCmc = nul != std::string_view::npos;
  const std::string_view cmc = haveCmc ? rest.substr(0, nul) : std::string_view();
  const std::string_view cards = haveCmc ? rest.substr(nul + 1) : rest;

  TFuzzMessenger messenger;
  TMachine m(messenger);
  TCharMap& map = m.CharMap;
  TReaderPunch& reader = m.ReaderPunch;

  const std::string cmcPath = ScratchDir() + "/fuzz.CMC";
  if (haveCmc) {
    WriteScratch("fuzz.CMC", cmc);
  } else {
    std::remove(cmcPath.c_str());
  }
  map.SetCmcPath(cmcPath);
  map.UseCmcFile = (options & OptCmc) != 0;
  if (!(options & OptCmc)) {
    if (options & OptEditLine) {
      map.SetMappingText(cmc.substr(0, 64));
    } else {
      try {
        map.SetMappingString(cmc.substr(0, 64));
      } catch (const EKestrelError& e) {
        RequireLoadError(e.what());  // installed all the same
      }
    }
    Require(map.MappingString().size() <= 64, "a mapping string longer than 64");
  }

  const char* cardName = (options & OptJobName)    ? "JOB.V2.CRD"
                         : (options & OptDemoName) ? "URJOB.CRD"
                                                   : "DECK.CRD";
  const std::string cardPath = WriteScratch(cardName, cards);
  DeviceCommand deck;
  deck.Operation = RdrLoadDeck;
  deck.Text = &cardPath;
  deck.Flag = (options & OptUpper) ? 1 : 0;
  TMessage request;
  request.Id = EmulatorMessage::DeviceRequest;
  request.Ref = &deck;
  messenger.Send(TReceiver::ReaderPunch, request);

  // The report: the lines the window lists, never a control character in them.
  const std::vector<std::string>& report = map.Report();
  Require(!report.empty() && report.front() == "Loaded file: " + cardPath,
          "the report does not begin with the file loaded");
  for (const std::string& line : report) {
    for (char c : line) {
      Require(static_cast<unsigned char>(c) >= 32 && c != 127,
              "report line with a control "
              "character: " +
                  line);
    }
  }
  const size_t loaded = reader.Pile(PLHopper).size();
  Report("loaded " + std::to_string(loaded) + " cards of " + std::to_string(LineCount(cards)) +
         " lines; mapping \"" + map.MappingString() + "\"");
  for (const std::string& error : messenger.Errors())
    Report("error: " + error);
  if (messenger.Errors().empty()) {
    Require(loaded == LineCount(cards), "the hopper holds " + std::to_string(loaded) +
                                            " cards for " + std::to_string(LineCount(cards)) +
                                            " lines");
    Require(!map.Shown(), "the character set window stays shown after a good load");
  } else {
    Require(messenger.Errors().size() == 1, "more than one error for one load");
    const std::string& error = messenger.Errors().front();
    RequireLoadError(error);
    Require(loaded < LineCount(cards) || LineCount(cards) == 0 || !error.starts_with("Unmapped"),
            "every card kept although one failed");
    if (error.starts_with("Unmapped")) Require(map.Shown(), "unmapped but the window is hidden");
  }
  CheckMachine(m);

  // The cards go through core: Load, then reads until the hopper is empty (an I/O check, or the
  // dummy card for ever), a punch and a stacker select after each, and the piles saved.
  if (options & OptDummy) reader.SetDummyCard(std::string(cards.substr(0, cards.find('\n'))));
  m.Registers.TurboMode = true;
  DeviceCommand load;
  load.Operation = RdrLoadCard;
  request.Ref = &load;
  messenger.Send(TReceiver::ReaderPunch, request);
  for (size_t i = 0; i < loaded + 2 && !reader.OutOfCards(); ++i) {
    DeviceCommand command;
    command.Operation = RdrRead;
    request.Ref = &command;
    messenger.Send(TReceiver::ReaderPunch, request);
    for (uint16_t a = 1; a <= 80; ++a) {
      Require(m.Core.ReadChar(a) < 64, "a card column read as no code");
    }
    command.Operation = RdrPunch;
    messenger.Send(TReceiver::ReaderPunch, request);
    command.Operation = RdrSelectStacker;
    command.Selector = static_cast<uint16_t>(1u << (i % 4));
    messenger.Send(TReceiver::ReaderPunch, request);
  }
  for (const std::string& error : messenger.Errors()) {
    Require(IsIOCheckText(error) || error.starts_with("Read from Uninitialized Core at: ") ||
                error == messenger.Errors().front(),
            "unexpected error from the reader: " + error);
  }
  reader.SaveStacker(1, ScratchDir() + "/readn.txt");
  reader.SaveStacker(5, ScratchDir() + "/punchn.txt");
  m.Printer.PrintLine(false);
  Require(m.Printer.PrintList().back().size() == TPrinter::LineWidth, "a short print line");
  CheckMachine(m);
  return 0;
}

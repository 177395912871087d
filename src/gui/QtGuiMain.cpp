// The windowed front end: the machine with the Qt messenger, the windows in their start-up
// order, the GUI loop, and the program's end (the print file written, the messenger shut so no
// worker stays blocked, the worker threads ended).
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "batch/KestBatch.h"
#include "gui/GuiMain.h"
#include "gui/QtMessenger.h"
#include "gui/charset/CharMapForm.h"
#include "gui/debug/BreakpointForm.h"
#include "gui/debug/HistoryForm.h"
#include "gui/devices/PrinterForm.h"
#include "gui/devices/ReaderForm.h"
#include "gui/devices/TapeUnitForm.h"
#include "gui/panel/AboutForm.h"
#include "gui/panel/ConfigForm.h"
#include "gui/panel/CoreForm.h"
#include "gui/panel/MainForm.h"
#include "gui/panel/TraceForm.h"
#include "gui/script/OCLDisplayForm.h"
#include "gui/script/OCLEditForm.h"
#include "machine/Machine.h"

using namespace kestrel;

namespace {

// The last safety net: an error escaping any window's handler is shown in the error box, as the
// messenger does for the workers' requests, and never unwinds further into the event loop.
class TKestrelApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      TQtMessenger::ShowErrorBox(e.what());
    } catch (...) {
      TQtMessenger::ShowErrorBox("Unknown error");
    }
    return false;
  }
};

// KESTREL_SCREENSHOT=FILE: once the start-up job has finished (no script current and the
// processor stopped) and the windows have caught up, the whole screen is saved as a PNG and the
// program ends as by PwrOff.  KESTREL_SCREENSHOT_SECONDS (default 60) bounds the wait; a job
// still running then is shot as it is, and the program ends with status 1.
class TScreenshot : public QObject {
 public:
  TScreenshot(TMachine& machine, TMainForm& mainForm, QString file, int seconds, int& status)
      : machine_(machine),
        mainForm_(mainForm),
        file_(std::move(file)),
        seconds_(seconds),
        status_(status) {
    clock_.start();
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &TScreenshot::Poll);
    timer->start(PollMs);
  }

 private:
  static constexpr int PollMs = 200;
  static constexpr int SettlePolls = 4;  // longer than the core display's refresh period

  bool Finished() const {
    return mainForm_.WindowsPlaced() && !machine_.Script.HasCurrentScript() &&
           machine_.Script.Sleeping() && machine_.Console.ProcessorIdle();
  }
  void Poll() {
    if (done_) return;
    quiet_ = Finished() ? quiet_ + 1 : 0;
    bool late = clock_.elapsed() > seconds_ * 1000LL;
    if (quiet_ < SettlePolls && !late) return;
    done_ = true;
    if (late) {
      std::fprintf(stderr, "kestrel: the job had not finished after %d seconds\n", seconds_);
      status_ = 1;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap shot = screen != nullptr ? screen->grabWindow(0) : QPixmap();
    if (shot.isNull() || !shot.save(file_, "PNG")) {
      std::fprintf(stderr, "kestrel: cannot save the screenshot to %s\n", qPrintable(file_));
      status_ = 1;
    }
    mainForm_.close();
  }

  TMachine& machine_;
  TMainForm& mainForm_;
  QString file_;
  int seconds_;
  int& status_;
  QElapsedTimer clock_;
  int quiet_ = 0;
  bool done_ = false;
};

}  // namespace

int RunGui(int argc, char** argv, const TCommandLine& line) {
  TKestrelApplication app(argc, argv);  // takes the toolkit's own options out of argv
  QApplication::setApplicationName(QStringLiteral("Kestrel"));
  QApplication::setApplicationVersion(QString::fromLatin1(KestrelVersion));
  // The program ends when the front panel closes, whatever other windows are open.
  QApplication::setQuitOnLastWindowClosed(false);
  const std::vector<std::string>& arguments = line.Arguments;

  TQtMessenger messenger;
  int status = 0;
  {
    TMachine machine(messenger);
    // The processor and script threads are created asleep before any window.
    machine.Start(IniFileName(QCoreApplication::applicationFilePath().toStdString()));
    machine.Printer.KeepPrintFile();
    machine.Console.SetBootOptions(BootOptions(line));
    // The debugger: the history as the initialisation file says, the command line's symbols,
    // breakpoints and watchpoints; their PRINT and DUMP lines go to standard error.
    machine.Debugger.SetHistorySize(machine.ConfiguredHistory);
    machine.Debugger.SetOutput(
        [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    if (std::string error = ApplyDebugOptions(line, machine, TCoreStorage::MaxSize);
        !error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      machine.Stop();
      return BSBadCommand;
    }

    // The windows, in the start-up order.
    TMainForm mainForm(machine, arguments);
    TCoreForm coreForm(machine.Core);
    coreForm.SetDebugger(&machine.Debugger);
    mainForm.SetCoreForm(&coreForm);
    TCharMapForm charMapForm(machine.CharMap);
    mainForm.SetWindow(WTCharMaps, &charMapForm);
    TTraceForm traceForm(machine.TraceLog, machine.TraceFlags);
    traceForm.SetDebugger(&machine.Debugger);
    mainForm.SetWindow(WTTrace, &traceForm);
    TReaderForm readerForm(machine.ReaderPunch);
    readerForm.SetPanelRefresh([&machine] {
      machine.Console.UpdateStatus();
      machine.Console.ShowRegistersNow();
    });
    mainForm.SetWindow(WTReaderPunch, &readerForm);
    TPrinterForm printerForm(machine.Printer);
    mainForm.SetWindow(WTPrinter, &printerForm);
    TTapeUnitForm tapeUnitForm(machine.TapeUnits);
    mainForm.SetWindow(WTTape, &tapeUnitForm);
    // In Turbo the device windows are not redrawn while the program runs: each stop shows
    // where the devices are.
    // The debugger's windows, shown from the Debug menu; a step back shows its registers and
    // what it restored at once.
    TBreakpointForm breakpointForm(machine.Debugger);
    THistoryForm historyForm(machine.Debugger);
    historyForm.SetStepBackListener([&] {
      machine.Console.ShowRegistersNow();
      coreForm.TIRefreshTimer();
      breakpointForm.Refresh();
    });
    mainForm.SetDebugWindows(&breakpointForm, &historyForm);
    machine.Console.SetStopListener([&] {
      readerForm.Refresh();
      printerForm.Refresh();
      tapeUnitForm.Refresh();
      // Hidden, they catch up when shown.
      if (breakpointForm.isVisible()) breakpointForm.Refresh();
      if (historyForm.isVisible()) historyForm.Refresh();
    });
    TOCLDisplayForm displayForm(machine.ScriptDisplay);
    TOCLEditForm editForm;
    mainForm.SetScriptEditor([&editForm](const std::string& file) { editForm.ShowScript(file); });
    TAboutForm aboutForm(&mainForm);
    TConfigForm configForm(machine.Config, &mainForm);
    mainForm.SetDialogs(&configForm, &aboutForm);

    // A script error is shown in a box on the GUI thread; the script thread waits until the
    // operator has closed it.
    machine.Script.SetErrorBox([&messenger, &mainForm](const std::string& message) {
      messenger.Call([&] {
        QString text = QString::fromStdString(message);
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QMessageBox::critical(&mainForm, mainForm.windowTitle(), text);
      });
    });

    mainForm.show();
    coreForm.show();
    traceForm.show();
    readerForm.show();
    printerForm.show();
    tapeUnitForm.show();

    int shotStatus = 0;
    std::unique_ptr<TScreenshot> screenshot;
    QString shotFile = qEnvironmentVariable("KESTREL_SCREENSHOT");
    if (!shotFile.isEmpty()) {
      bool ok = false;
      int seconds = qEnvironmentVariableIntValue("KESTREL_SCREENSHOT_SECONDS", &ok);
      screenshot = std::make_unique<TScreenshot>(machine, mainForm, shotFile,
                                                 ok && seconds > 0 ? seconds : 60, shotStatus);
    }
    status = QApplication::exec();
    if (status == 0) status = shotStatus;
    screenshot.reset();

    machine.Stop();
    mainForm.SetScriptEditor(nullptr);
    machine.Console.SetStopListener(nullptr);
    mainForm.SetDebugWindows(nullptr, nullptr);
    historyForm.hide();
    breakpointForm.hide();
    editForm.hide();
    displayForm.hide();
    tapeUnitForm.hide();
    printerForm.hide();
    readerForm.hide();
    traceForm.hide();
    charMapForm.hide();
    coreForm.hide();
  }
  return status;
}

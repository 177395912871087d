// The windowed front end: the machine with the Qt messenger, the windows in their start-up
// order, the GUI loop, and the program's end (the print file written, the messenger shut so no
// worker stays blocked, the worker threads ended).
#include <QApplication>
#include <QMessageBox>
#include <string>
#include <vector>

#include "console/AboutForm.h"
#include "console/ConfigForm.h"
#include "console/CoreForm.h"
#include "console/GuiMain.h"
#include "console/KestBatch.h"
#include "console/MainForm.h"
#include "core/Machine.h"
#include "core/QtMessenger.h"
#include "instructions/TraceForm.h"

using namespace kestrel;

int RunGui(int argc, char** argv) {
  QApplication app(argc, argv);  // takes the toolkit's own options out of argv
  QApplication::setApplicationName(QStringLiteral("Kestrel"));
  QApplication::setApplicationDisplayName(QStringLiteral("IBM 1401 Emulator"));
  QApplication::setApplicationVersion(QString::fromLatin1(KestrelVersion));
  // The program ends when the front panel closes, whatever other windows are open.
  QApplication::setQuitOnLastWindowClosed(false);
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);

  TQtMessenger messenger;
  int status = 0;
  {
    TMachine machine(messenger);
    machine.Config.Open(IniFileName(QCoreApplication::applicationFilePath().toStdString()));
    // The processor and script threads are created asleep before any window.
    machine.Cpu.StartThread();
    machine.Script.StartThread();

    // The windows, in the start-up order.
    TMainForm mainForm(machine, arguments);
    TCoreForm coreForm(machine.Core);
    mainForm.SetCoreForm(&coreForm);
    TTraceForm traceForm(machine.TraceLog, machine.TraceFlags);
    mainForm.SetWindow(WTTrace, &traceForm);
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
    status = QApplication::exec();

    // The end: the printer writes its print file while the devices are still there; then no
    // sender may stay blocked, and the workers are stopped wherever they are.
    machine.Console.ProgramExit();
    messenger.Shutdown();
    machine.Script.SetErrorBox(nullptr);
    machine.Script.EndThread();
    machine.Cpu.EndThread();
    traceForm.hide();
    coreForm.hide();
  }
  return status;
}

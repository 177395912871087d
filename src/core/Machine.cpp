#include "core/Machine.h"

namespace kestrel {

TMachine::TMachine(TMessenger& messenger) : Messenger(messenger) {
  Messenger.Attach(TReceiver::TraceWindow, &TraceLog);
  Messenger.Attach(TReceiver::TapeUnits, &TapeUnits);
}

TMachine::~TMachine() {
  Cpu.EndThread();
  Messenger.Attach(TReceiver::TraceWindow, nullptr);
  Messenger.Attach(TReceiver::TapeUnits, nullptr);
}

}  // namespace kestrel

#include "core/Machine.h"

namespace kestrel {

TMachine::TMachine(TMessenger& messenger) : Messenger(messenger) {
  Messenger.Attach(TReceiver::TraceWindow, &TraceLog);
}

TMachine::~TMachine() {
  Cpu.EndThread();
  Messenger.Attach(TReceiver::TraceWindow, nullptr);
}

}  // namespace kestrel

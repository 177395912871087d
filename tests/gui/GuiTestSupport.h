// Helpers for the window tests: answering a modal box the way the operator would.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <memory>

namespace kestrel::test {

// Serves the GUI thread's events for `ms` milliseconds.
inline void ServeFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Once the next modal message box is up, keeps its text and closes it.
class TBoxCloser {
 public:
  TBoxCloser() { Arm(); }
  QString Text() const { return state_->Text; }
  int Count() const { return state_->Count; }
  void Arm() {
    std::weak_ptr<TState> weak = state_;
    QTimer::singleShot(5, [weak] { Poll(weak); });
  }

 private:
  struct TState {
    QString Text;
    int Count = 0;
  };
  static void Poll(const std::weak_ptr<TState>& weak) {
    auto state = weak.lock();
    if (!state) return;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      state->Text = box->text();
      ++state->Count;
      box->accept();
    }
    QTimer::singleShot(5, [weak] { Poll(weak); });
  }
  std::shared_ptr<TState> state_ = std::make_shared<TState>();
};

}  // namespace kestrel::test

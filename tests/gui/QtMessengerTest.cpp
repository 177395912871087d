#include "gui/QtMessenger.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

constexpr int Failing = 77777;

// Records what reaches it, and on which thread; throws for the WParam `Failing`.
class TRecorder : public IMessageReceiver {
 public:
  void HandleMessage(const TMessage& message) override {
    threads.push_back(std::this_thread::get_id());
    values.push_back(static_cast<int>(message.WParam));
    if (message.Ref != nullptr) *static_cast<int*>(message.Ref) += 1;
    if (message.WParam == Failing) throw std::runtime_error("Invalid I/O Op for PRN: 77");
  }
  std::vector<int> values;
  std::vector<std::thread::id> threads;
};

TMessage Message(int value, void* ref = nullptr) {
  TMessage m;
  m.Id = EmulatorMessage::PanelCommand;
  m.WParam = static_cast<uintptr_t>(value);
  m.Ref = ref;
  return m;
}

// Serves the GUI thread's events until `done` holds (at most a few seconds).
template <typename F>
bool ServeUntil(F done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 5000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class QtMessengerThread : public ::testing::Test {
 protected:
  void SetUp() override { messenger.Attach(TReceiver::TraceWindow, &recorder); }
  TQtMessenger messenger;
  TRecorder recorder;
};

TEST_F(QtMessengerThread, SendOnTheGuiThreadRunsAtOnce) {
  int touched = 0;
  messenger.Send(TReceiver::TraceWindow, Message(1, &touched));
  EXPECT_EQ(touched, 1);
  ASSERT_EQ(recorder.threads.size(), 1u);
  EXPECT_EQ(recorder.threads[0], std::this_thread::get_id());
  // A post from the GUI thread waits for the loop.
  messenger.Post(TReceiver::TraceWindow, Message(2));
  EXPECT_EQ(recorder.values.size(), 1u);
  QCoreApplication::processEvents();
  EXPECT_EQ(recorder.values, (std::vector<int>{1, 2}));
}

TEST_F(QtMessengerThread, WorkerSendsRunOnTheGuiThreadInOrderWithPosts) {
  std::atomic<bool> finished{false};
  int touched = 0;
  std::thread worker([&] {
    messenger.Post(TReceiver::TraceWindow, Message(1));
    messenger.Post(TReceiver::TraceWindow, Message(2));
    messenger.Send(TReceiver::TraceWindow, Message(3, &touched));
    // The send has completed: the handler's work on the sender's record is done.
    EXPECT_EQ(touched, 1);
    messenger.Post(TReceiver::TraceWindow, Message(4));
    finished = true;
  });
  // Until the GUI thread serves its events, the sender waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(finished);
  EXPECT_TRUE(recorder.values.empty());
  ASSERT_TRUE(ServeUntil([&] { return finished && recorder.values.size() == 4; }));
  worker.join();
  EXPECT_EQ(recorder.values, (std::vector<int>{1, 2, 3, 4}));
  for (auto id : recorder.threads)
    EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(QtMessengerThread, AnErrorIsReportedWhileTheSenderStaysBlocked) {
  std::atomic<bool> returned{false};
  std::vector<std::string> reports;
  bool senderWaitedDuringReport = false;
  messenger.SetErrorReporter([&](const std::string& text) {
    reports.push_back(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    senderWaitedDuringReport = !returned;
  });
  std::thread worker([&] {
    messenger.Send(TReceiver::TraceWindow, Message(Failing));
    returned = true;
    messenger.Send(TReceiver::TraceWindow, Message(5));  // the messenger still works
  });
  ASSERT_TRUE(ServeUntil([&] { return recorder.values.size() == 2; }));
  worker.join();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Invalid I/O Op for PRN: 77");
  EXPECT_TRUE(senderWaitedDuringReport);
  EXPECT_EQ(recorder.values, (std::vector<int>{Failing, 5}));
}

TEST_F(QtMessengerThread, TheErrorBoxIsModalAndShowsTheMessage) {
  QString shown;
  bool wasModal = false;
  // Closes the box once it is up, as the operator would.
  std::function<void()> closeBox = [&] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      QTimer::singleShot(10, closeBox);
      return;
    }
    shown = box->text();
    wasModal = box->isModal();
    box->accept();
  };
  QTimer::singleShot(10, closeBox);
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    messenger.Send(TReceiver::TraceWindow, Message(Failing));
    returned = true;
  });
  ASSERT_TRUE(ServeUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_EQ(shown, QStringLiteral("Invalid I/O Op for PRN: 77"));
  EXPECT_TRUE(wasModal);
}

TEST_F(QtMessengerThread, ShutdownReleasesWaitingSendersAndDropsTheirMessages) {
  std::atomic<bool> returned{false};
  int touched = 0;
  std::thread worker([&] {
    messenger.Send(TReceiver::TraceWindow, Message(1, &touched));
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned);
  messenger.Shutdown();
  worker.join();  // the GUI thread may join a worker only after the shutdown
  EXPECT_TRUE(returned);
  QCoreApplication::processEvents();
  EXPECT_TRUE(recorder.values.empty());  // the queued send did not run after its sender left
  EXPECT_EQ(touched, 0);
  messenger.Post(TReceiver::TraceWindow, Message(2));
  messenger.Send(TReceiver::TraceWindow, Message(3));
  QCoreApplication::processEvents();
  EXPECT_TRUE(recorder.values.empty());
  EXPECT_TRUE(messenger.IsShutDown());
}

TEST_F(QtMessengerThread, ManySendersAllComplete) {
  constexpr int Senders = 3;
  constexpr int Each = 200;
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int s = 0; s < Senders; ++s) {
    workers.emplace_back([&, s] {
      for (int i = 0; i < Each; ++i)
        messenger.Send(TReceiver::TraceWindow, Message(s * 1000 + i));
      ++done;
    });
  }
  ASSERT_TRUE(ServeUntil([&] { return done == Senders; }));
  for (auto& w : workers)
    w.join();
  ASSERT_EQ(recorder.values.size(), static_cast<size_t>(Senders * Each));
  // Each sender's messages arrive in the order it sent them.
  std::vector<int> last(Senders, -1);
  for (int v : recorder.values) {
    int s = v / 1000;
    EXPECT_GT(v % 1000, last[static_cast<size_t>(s)]);
    last[static_cast<size_t>(s)] = v % 1000;
  }
}

}  // namespace
}  // namespace kestrel::test

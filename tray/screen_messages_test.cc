// Message boxes raised from a service thread: shown on the GUI thread, which keeps serving,
// while only the raising thread waits for OK.
#include "tray/screen_messages.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

namespace tenvar::tray {
namespace {

TEST(ScreenMessages, OnlyTheRaisingThreadWaitsForOkOrForRelease) {
  ScreenMessages messages;
  QSignalSpy shown(&messages, &ScreenMessages::Shown);
  std::atomic<bool> answered{false};
  std::thread service([&] {
    messages.ShowMessage("Initialisation file cannot be found", "Initialisation error");
    answered = true;
  });

  // The GUI thread keeps serving: a timer of its own fires while the box is up.
  bool timerFired = false;
  QTimer::singleShot(0, [&] { timerFired = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() == 1; }));
  EXPECT_TRUE(QTest::qWaitFor([&] { return timerFired; }));
  auto* box = shown[0][0].value<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), "Initialisation error");
  EXPECT_EQ(box->text(), "Initialisation file cannot be found");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(MessageIconFor("Error"), QMessageBox::Critical);  // the other error caption
  EXPECT_TRUE(box->isVisible());
  EXPECT_FALSE(answered);

  box->button(QMessageBox::Ok)->click();
  service.join();
  EXPECT_TRUE(answered);

  std::thread unanswered([&] { messages.ShowMessage("text", "Configuration"); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() == 2; }));
  auto* notice = shown[1][0].value<QMessageBox*>();
  EXPECT_EQ(notice->icon(), QMessageBox::NoIcon);
  messages.Release();
  unanswered.join();  // would hang without Release
  notice->close();
}

}  // namespace
}  // namespace tenvar::tray

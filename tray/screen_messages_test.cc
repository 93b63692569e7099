// Message boxes raised from a service thread: shown on the GUI thread, which keeps serving,
// while only the raising thread waits for OK.
#include "tray/screen_messages.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTimer>
#include <atomic>
#include <thread>

#include "tray/tray_test_support.h"

namespace tenvar::tray {
namespace {

// "Initialisation error" is shown below.
TEST(MessageIcon, StopSignForErrorsNoneForNotices) {
  EXPECT_EQ(MessageIconFor("Error"), QMessageBox::Critical);
  EXPECT_EQ(MessageIconFor("Configuration"), QMessageBox::NoIcon);
}

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
  ASSERT_TRUE(Eventually([&] { return shown.count() == 1; }));
  EXPECT_TRUE(Eventually([&] { return timerFired; }));
  auto* box = shown[0][0].value<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), "Initialisation error");
  EXPECT_EQ(box->text(), "Initialisation file cannot be found");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_TRUE(box->isVisible());
  EXPECT_FALSE(answered);

  box->button(QMessageBox::Ok)->click();
  service.join();
  EXPECT_TRUE(answered);

  std::thread unanswered([&] { messages.ShowMessage("text", "caption"); });
  ASSERT_TRUE(Eventually([&] { return shown.count() == 2; }));
  messages.Release();
  unanswered.join();  // would hang without Release
  shown[1][0].value<QMessageBox*>()->close();
}

}  // namespace
}  // namespace tenvar::tray

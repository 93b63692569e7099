// The tray's windows without a display: what they show for given counters, and how they
// react to their keys and timers.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>

#include "dialup/tray_view.h"
#include "tray/cache_history_graph.h"
#include "tray/details_window.h"
#include "tray/dial_status_window.h"
#include "tray/log_console.h"
#include "tray/pictures.h"
#include "tray/tray_test_support.h"

namespace tenvar::tray {
namespace {

// Samples of 100, 3, 4 and 40 %, and an impossible 250: bars of 25, 0, 1, 10 and 25 pixels
// standing on row 25.
TEST(CacheHistoryGraph, PaintsExactlyTheBarsGreen) {
  const QImage empty = EmptyGraph();
  ASSERT_EQ(empty.size(), QSize(kGraphWidth, kGraphHeight));
  cache::CacheStatistics::History history{};
  history[0] = 100;
  history[1] = 3;
  history[2] = 4;
  history[5] = 250;
  history[19] = 40;
  const QImage graph = DrawCacheHistory(empty, history);
  ASSERT_EQ(graph.size(), empty.size());
  const QRect bars[] = {{1, 1, 4, 25}, {11, 25, 4, 1}, {26, 1, 4, 25}, {96, 16, 4, 10}};
  for (int x = 0; x < graph.width(); ++x) {
    for (int y = 0; y < graph.height(); ++y) {
      const bool inBar = std::any_of(std::begin(bars), std::end(bars),
                                     [&](const QRect& bar) { return bar.contains(x, y); });
      ASSERT_EQ(graph.pixel(x, y) == kBarColour, inBar) << x << "," << y;
    }
  }
}

QString Field(QWidget& window, const char* name) {
  auto* field = window.findChild<QLineEdit*>(QString::fromLatin1(name));
  return field == nullptr ? QStringLiteral("<missing>") : field->text();
}

TEST(DetailsWindow, ShowsTheCountersAndTheGraphEachBesideItsLabel) {
  FakeServices services;
  services.Input.Connections = 6;
  services.Input.CacheSizeMB = 12.3456;
  services.Input.CacheItemCount = 17;
  services.Input.CacheHitCount = 3;
  services.Input.RequestCount = 10;
  services.Input.IdleSecondsLeft = 125;
  services.Input.PhonebookEntry = "provider";
  services.Input.Dial = true;
  services.Input.State = dialup::ConnectionState::Connecting;
  services.History[0] = 100;
  DetailsWindow window(services);
  window.Open();
  auto icon = [&] { return window.findChild<QLabel*>("statusIcon")->property("iconId").toInt(); };

  EXPECT_EQ(window.windowTitle(), "Tenvar details");
  EXPECT_EQ(Field(window, "connections"), "6");
  EXPECT_EQ(Field(window, "cacheSize"), "12.346");
  EXPECT_EQ(Field(window, "items"), "17");
  EXPECT_EQ(Field(window, "hits"), "3/10");
  EXPECT_EQ(Field(window, "countdown"), "00:02:05");
  EXPECT_EQ(Field(window, "phonebookEntry"), "provider");
  EXPECT_EQ(Field(window, "statusText"), "Connecting.");
  EXPECT_EQ(icon(), dialup::kIconConnecting);
  const QImage shown = window.findChild<QLabel*>("cacheHistory")->pixmap().toImage();
  EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32),
            DrawCacheHistory(EmptyGraph(), services.History));

  // The window's own timer picks up what changed in between, the dial-up part of each state too.
  services.Input.Dial = false;
  services.Input.Connections = 2;
  EXPECT_TRUE(QTest::qWaitFor([&] { return Field(window, "connections") == "2"; }));
  EXPECT_EQ(Field(window, "phonebookEntry"), "Not applicable");
  EXPECT_EQ(Field(window, "statusText"), "Permanently connected");
  EXPECT_EQ(icon(), dialup::kIconConnected);
  services.Input.Dial = true;
  services.Input.State = dialup::ConnectionState::NotConnected;
  EXPECT_TRUE(QTest::qWaitFor([&] { return Field(window, "statusText") == "Not connected."; }));
  EXPECT_EQ(Field(window, "phonebookEntry"), "provider");
  EXPECT_EQ(icon(), dialup::kIconNotConnected);
  services.Input.State = dialup::ConnectionState::Connected;
  EXPECT_TRUE(QTest::qWaitFor([&] { return Field(window, "statusText") == "Connected."; }));
  EXPECT_EQ(icon(), dialup::kIconConnected);
  window.close();

  // Keyboard and screen-reader users find every field by its label.
  QSet<QWidget*> buddies;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->buddy() != nullptr) buddies.insert(label->buddy());
  }
  const QList<QLineEdit*> fields = window.findChildren<QLineEdit*>();
  EXPECT_EQ(fields.size(), 7);
  for (QLineEdit* field : fields)
    EXPECT_TRUE(buddies.contains(field)) << field->objectName().toStdString();
  EXPECT_TRUE(buddies.contains(window.findChild<QLabel*>("cacheHistory")));
}

TEST(DialStatusWindow, FollowsTheStatusTextCyclesThePicturesAndOnlyCancelHangsUp) {
  FakeServices services;
  services.StatusText = "Opening port";
  DialStatusWindow window(services);
  window.Open();
  auto* text = window.findChild<QLabel*>("dialStatusText");
  auto* picture = window.findChild<QLabel*>("dialPicture");
  EXPECT_EQ(text->text(), "Opening port");
  EXPECT_EQ(window.windowTitle(), "Tenvar connection status");

  // The picture changes every fourth tick, through the four frames and round again.
  std::string frames;
  for (int tick = 1; tick <= 20; ++tick) {
    services.StatusText = "step " + std::to_string(tick);
    window.Tick();
    EXPECT_EQ(text->text().toStdString(), services.StatusText);
    frames += std::to_string(window.Frame());
  }
  EXPECT_EQ(frames, "00000001111222233330");
  EXPECT_EQ(picture->pixmap().toImage(), AnimationFrame(window.Frame()).toImage());
  EXPECT_NE(AnimationFrame(0).toImage(), AnimationFrame(1).toImage());

  // Its own timer keeps the text fresh while open, and stops with Close.
  services.StatusText = "Connected successfully.";
  EXPECT_TRUE(QTest::qWaitFor([&] { return text->text() == "Connected successfully."; }));
  window.Close();
  EXPECT_FALSE(window.isVisible());

  // Enter does nothing, Cancel hangs up; Esc, which cancels too, is pressed in tray_e2e.
  QSignalSpy cancelled(&window, &DialStatusWindow::Cancelled);
  window.Open();
  QTest::keyClick(&window, Qt::Key_Return);
  QTest::keyClick(&window, Qt::Key_Enter);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(cancelled.count(), 0);

  QTest::mouseClick(window.findChild<QPushButton*>("cancel"), Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(cancelled.count(), 1);
}

TEST(LogConsole, KeepsTheNewestLinesUpToItsScrollbackAndTheWindowButtonOnlyHidesIt) {
  LogConsole console;
  const int written = LogConsole::kScrollbackLines + 250;
  for (int i = 0; i < written; ++i) {
    console.AppendLine(QStringLiteral("07/12/2026 @ 01:00:00 - line %1\n").arg(i));
  }
  EXPECT_EQ(console.LineCount(), LogConsole::kScrollbackLines);
  const QString text = console.Text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("07/12/2026 @ 01:00:00 - line 250\n")));
  EXPECT_TRUE(text.endsWith(QStringLiteral("line %1").arg(written - 1)));

  // The window button only hides it.
  QSignalSpy closed(&console, &LogConsole::Closed);
  console.show();
  EXPECT_FALSE(console.close());
  EXPECT_FALSE(console.isVisible());
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(console.LineCount(), LogConsole::kScrollbackLines);
}

}  // namespace
}  // namespace tenvar::tray

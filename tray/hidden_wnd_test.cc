// CHiddenWnd without a display: the menu it builds, the commands behind the entries, and the
// calls that service threads make.
#include "tray/hidden_wnd.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <thread>

#include "platform/temp_dir.h"
#include "tray/details_window.h"
#include "tray/dial_status_window.h"
#include "tray/log_console.h"
#include "tray/tray_test_support.h"

namespace tenvar::tray {
namespace {

using dialup::ConnectionState;

QAction* Entry(QMenu& menu, TrayCommand command) {
  for (QAction* action : menu.actions()) {
    if (!action->isSeparator() && action->data().toInt() == static_cast<int>(command))
      return action;
  }
  return nullptr;
}

TEST(TrayMenu, EntriesInOrderGreyedByDialAndStateWithDetailsAsDefault) {
  FakeServices services;
  CHiddenWnd window(services, {});
  const std::unique_ptr<QMenu> menu = window.BuildMenu();
  // Text and command of each entry; a separator has neither.
  std::vector<std::string> entries;
  for (QAction* entry : menu->actions()) {
    entries.push_back(entry->text().toStdString() + " " + std::to_string(entry->data().toInt()));
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"View &details... 59411", "&Options... 32773",
                                               "&View log... 32776", " 0", "&Connect 32775",
                                               "&Disconnect 32777", " 0", "E&xit 32772"}));
  EXPECT_EQ(menu->defaultAction(), menu->actions()[0]);
  EXPECT_TRUE(menu->actions()[0]->font().bold());

  struct Case {
    bool Dial;
    ConnectionState State;
    bool Connect;
    bool Disconnect;
  };
  const Case cases[] = {
      {false, ConnectionState::NotConnected, false, false},
      {false, ConnectionState::Connecting, false, false},
      {false, ConnectionState::Connected, false, false},
      {true, ConnectionState::NotConnected, true, false},
      {true, ConnectionState::Connecting, false, true},
      {true, ConnectionState::Connected, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "dial " << c.Dial << " state " << static_cast<int>(c.State));
    services.Input.Dial = c.Dial;
    services.Input.State = c.State;
    const std::unique_ptr<QMenu> menu = window.BuildMenu();
    EXPECT_EQ(Entry(*menu, TrayCommand::Connect)->isEnabled(), c.Connect);
    EXPECT_EQ(Entry(*menu, TrayCommand::Disconnect)->isEnabled(), c.Disconnect);
    for (TrayCommand always : {TrayCommand::ShowDetails, TrayCommand::LaunchEditor,
                               TrayCommand::ToggleLogConsole, TrayCommand::Exit}) {
      EXPECT_TRUE(Entry(*menu, always)->isEnabled());
    }
  }

  // Connect, View log (twice) and View details are chosen from the real menu in tray_e2e.
  Entry(*window.BuildMenu(), TrayCommand::Disconnect)->trigger();  // connected, as in the last case
  EXPECT_EQ(services.Disconnects, 1);
  EXPECT_EQ(services.Connects + services.Exits, 0);
}

TEST(TrayCommands, DetailsOpenOnceAndEveryWayOutClearsTheFlag) {
  FakeServices services;
  CHiddenWnd window(services, {});
  window.OnIconActivated(QSystemTrayIcon::DoubleClick);
  ASSERT_TRUE(window.DetailsOpen());
  DetailsWindow* details = window.Details();
  window.ShowDetails();  // already open: the same window, nothing new
  EXPECT_EQ(window.Details(), details);

  QTest::keyClick(details, Qt::Key_Return);
  EXPECT_FALSE(details->isVisible());
  EXPECT_FALSE(window.DetailsOpen());

  window.ShowDetails();
  EXPECT_TRUE(details->isVisible());
  QTest::keyClick(details, Qt::Key_Escape);
  EXPECT_FALSE(window.DetailsOpen());

  window.ShowDetails();
  QTest::mouseClick(details->findChild<QPushButton*>("close"), Qt::LeftButton);
  EXPECT_FALSE(window.DetailsOpen());
  EXPECT_FALSE(details->isVisible());

  // A single or a middle click does nothing; the right click's menu is opened in tray_e2e.
  window.OnIconActivated(QSystemTrayIcon::Trigger);
  window.OnIconActivated(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(window.DetailsOpen());

  // Meanwhile the statistics timer has ticked the services from the GUI thread.
  EXPECT_TRUE(QTest::qWaitFor([&] { return services.Ticks >= 2; }));
}

TEST(TrayCommands, OptionsStartsTheEditorBesideTheProgramWithTheConfiguration) {
  platform::TempDir dir;
  FakeServices services;
  CHiddenWnd window(services, {dir.Path(), "/etc/tenvar/Tenvar.ini"});
  QSignalSpy launched(&window, &CHiddenWnd::EditorLaunched);

  window.RunCommand(TrayCommand::LaunchEditor);  // no editor there: quietly nothing
  ASSERT_EQ(launched.count(), 1);
  EXPECT_FALSE(launched[0][0].toBool());

  const std::string record = dir.File("arguments");
  std::filesystem::permissions(dir.Write("tenvarc", "#!/bin/sh\necho \"$@\" >> '" + record + "'\n"),
                               std::filesystem::perms::owner_all);

  window.RunCommand(TrayCommand::LaunchEditor);
  window.RunCommand(TrayCommand::LaunchEditor);  // each use starts another
  ASSERT_EQ(launched.count(), 3);
  EXPECT_TRUE(launched[1][0].toBool());
  EXPECT_TRUE(launched[2][0].toBool());
  const std::string twice = "/etc/tenvar/Tenvar.ini\n/etc/tenvar/Tenvar.ini\n";
  EXPECT_TRUE(QTest::qWaitFor([&] { return platform::ReadFileText(record) == twice; }))
      << platform::ReadFileText(record);
}

TEST(TrayCommands, ServiceThreadCallsAreQueuedToTheGuiThreadAndExitClosesTheConsoleFirst) {
  FakeServices services;
  CHiddenWnd window(services, {});
  window.RunCommand(TrayCommand::ToggleLogConsole);
  std::thread service([&] {
    window.ShowStatus(dialup::kTrayConnecting.IconId, dialup::kTrayConnecting.Tip);
    window.Open();
    window.LogLine("07/12/2026 @ 01:00:00 - Connecting to Internet, using provider\n");
  });
  service.join();
  // Nothing has touched a widget yet: the calls wait in the GUI thread's queue.
  EXPECT_EQ(window.DialStatus(), nullptr);
  EXPECT_EQ(window.IconId(), dialup::kIconConnected);
  QCoreApplication::processEvents();
  EXPECT_EQ(window.IconId(), dialup::kIconConnecting);
  EXPECT_EQ(window.Icon().toolTip(), "Tenvar - Connecting");
  ASSERT_NE(window.DialStatus(), nullptr);
  EXPECT_TRUE(window.DialStatus()->isVisible());
  EXPECT_EQ(window.Console()->Text(),
            "07/12/2026 @ 01:00:00 - Connecting to Internet, using provider");

  window.RunCommand(TrayCommand::ToggleLogConsole);
  std::thread later([&] {
    window.LogLine("not shown: the console is closed\n");
    window.Close();
  });
  later.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(window.Console()->LineCount(), 1);
  EXPECT_FALSE(window.DialStatus()->isVisible());

  window.RunCommand(TrayCommand::ToggleLogConsole);
  ASSERT_TRUE(window.Console()->isVisible());
  window.RunCommand(TrayCommand::Exit);
  EXPECT_FALSE(window.ConsoleOpen());
  EXPECT_FALSE(window.Console()->isVisible());
  EXPECT_EQ(services.Exits, 1);
}

}  // namespace
}  // namespace tenvar::tray

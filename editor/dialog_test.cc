// The dialogs on the offscreen platform: wiring only. Buttons are pressed, fields typed
// into, message boxes answered from a timer, and the file Save wrote is read back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <functional>

#include "config/config_test_support.h"
#include "config/configuration.h"
#include "editor/ip_tunnel_dialog.h"
#include "editor/main_dialog.h"
#include "editor/main_dialog_rules.h"
#include "editor/proxy_instance_dialog.h"

namespace tenvar::editor {
namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

template <class T = QWidget>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

std::string TextOf(QWidget* parent, const char* name) {
  return Child<QLineEdit>(parent, name)->text().toStdString();
}

void Type(QWidget* parent, const char* name, const QString& text) {
  QLineEdit* field = Child<QLineEdit>(parent, name);
  field->selectAll();
  QTest::keyClick(field, Qt::Key_Backspace);
  QTest::keyClicks(field, text);
}

// A message box as ModalScript records it.
std::string Said(std::string_view caption, std::string_view text) {
  return std::string(caption) + ": " + std::string(text);
}
std::string Said(const EditorMessage& message) { return Said(message.Caption, message.Text); }

// Acts on each modal window as it appears: every message box is recorded as
// "<caption>: <text>", then the next step runs on it. A modal window with no step left is
// recorded as unexpected and closed, so a wrong path fails the test instead of hanging it.
class ModalScript {
 public:
  using Step = std::function<void(QWidget*)>;

  ModalScript() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
  }

  ModalScript& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  // Answers a message box with `button`.
  ModalScript& Press(QMessageBox::StandardButton button) {
    return Then([button](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr) << "expected a message box, found " << Title(modal);
      Click(box->button(button));
    });
  }
  // Types into the fields of the next dialog, then presses its OK.
  ModalScript& Fill(std::vector<std::pair<const char*, QString>> fields) {
    return Then([fields](QWidget* dialog) {
      for (const auto& [name, text] : fields) Type(dialog, name, text);
      Click(Child<QPushButton>(dialog, "ok"));
    });
  }

  std::vector<std::string> seen;
  bool Finished() const { return steps_.empty(); }

  static std::string Title(QWidget* widget) { return widget->windowTitle().toStdString(); }

  // Clicked from the event loop: a click that opens a modal window must not block the timer.
  static void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_) return;
    last_ = modal;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen.push_back(Title(box) + ": " + box->text().toStdString());
    }
    if (steps_.empty()) {
      seen.push_back("unexpected: " + Title(modal));
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(modal);
  }

  QTimer timer_;
  QPointer<QWidget> last_;
  std::deque<Step> steps_;
};

Rows RowsOf(QWidget* dialog, const char* list) {
  Rows rows;
  auto* tree = Child<QTreeWidget>(dialog, list);
  for (int row = 0; row < tree->topLevelItemCount(); ++row) {
    rows.emplace_back();
    for (int column = 0; column < tree->columnCount(); ++column) {
      rows.back().push_back(tree->topLevelItem(row)->text(column).toStdString());
    }
  }
  return rows;
}

void Select(QWidget* dialog, const char* list, int row) {
  auto* tree = Child<QTreeWidget>(dialog, list);
  tree->clearSelection();
  if (row >= 0) tree->topLevelItem(row)->setSelected(true);
}

// Presses a main-dialog button; its modal windows are served by `script` meanwhile.
void PressButton(QWidget* dialog, const char* name, ModalScript& script) {
  Child<QPushButton>(dialog, name)->click();
  EXPECT_TRUE(script.Finished()) << name;
}

class EditorDialogTest : public testing::Test {
 protected:
  MainDialogSetup Setup(bool fileExisted = true) {
    MainDialogSetup setup;
    setup.ConfigFilePath = configPath;
    setup.ProgramDirectory = dir.Path();
    setup.FileExisted = fileExisted;
    setup.DialupInstalled = true;
    setup.PhonebookEntries = {"work", "isp"};
    setup.DefaultPhonebookEntry = [] { return std::string(); };
    setup.OpenHelp = [this](const QUrl& page) {
      helpOpened.push_back(page.toLocalFile().toStdString());
    };
    return setup;
  }

  // What the loader reads back from the file Save wrote.
  struct ReadBack {
    config::GlobalSettings settings;
    std::vector<config::HttpProxyOptions> proxies;
    std::vector<config::IpTunnelConfig> tunnels;
  };
  ReadBack Load(const std::string& path) {
    config::RecordingMessages messages;
    config::Configuration configuration(path, dir.Path(), messages, [] { return std::string(); });
    EXPECT_TRUE(config::LoadConfiguration(configuration));
    EXPECT_TRUE(messages.Lines().empty());
    ReadBack result{*configuration.Settings.Load(), {}, *configuration.IpTunnels.Load()};
    for (const auto& record : *configuration.HttpProxies.Load()) {
      result.proxies.push_back(*record->Options());
    }
    return result;
  }

  platform::TempDir dir;
  std::string configPath = dir.File("Tenvar.ini");
  std::vector<std::string> helpOpened;
};

constexpr const char* kOfficeFile =
    "PhonebookEntry ISP\nDial Yes\nTimeout 12\nUsername office\nPassword se cret\n"
    "LogFile /var/log/tenvar.log\nFTPPort 2121\nCacheDir /srv/cache\nLimitCache Yes\n"
    "CacheLimit 300\nCacheExpiry 3\n"
    "<HTTPProxy Office:8080>\n UseCache Yes\n AlwaysGetNewest Yes\n Debug Yes\n"
    " EnableLogging Yes\n RequestsLog /var/log/office.csv\n</HTTPProxy>\n"
    "<HTTPProxy Lab:8081>\n UseUpstream Yes\n UpstreamProxyName squid.lan\n"
    " UpstreamProxyPort 3128\n UpstreamExclusions /etc/direct.txt\n AbuseDetection Yes\n"
    " AbuseKeywords /etc/words.txt\n TrustedSites /etc/trusted.txt\n</HTTPProxy>\n"
    "<HTTPProxy Guest:8082>\n AdvancedBlocking Yes\n BlockFile /etc/block.txt\n"
    " CacheExclusions /etc/nocache.txt\n</HTTPProxy>\n"
    "<IPTunnel>\n Listen 2525\n Server mail.example\n Port 25\n</IPTunnel>\n"
    "<IPTunnel>\n Listen 1110\n Server 10.0.0.2\n Port 110\n</IPTunnel>\n";

// Save keeps the dialog open after a refusal or a file it cannot open, so the user can try
// again.
TEST_F(EditorDialogTest, AFirstStartShowsThePresetsAndSaveWritesEachValueOnOneLineOnceItCan) {
  configPath = dir.File("missing/Tenvar.ini");
  MainDialog dialog(Setup(false));
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Configure Tenvar");
  EXPECT_EQ(TextOf(&dialog, "logFile"), dir.Path() + "/Tenvar.log");
  auto* phonebook = Child<QComboBox>(&dialog, "phonebookEntry");
  EXPECT_EQ(phonebook->count(), 2);
  EXPECT_EQ(phonebook->currentIndex(), -1);
  EXPECT_TRUE(RowsOf(&dialog, "proxyList").empty());
  // A pasted line break cannot add lines to the file.
  Child<QLineEdit>(&dialog, "logFile")->setText("/var/log/x\n<HTTPProxy evil:80>\n");

  ModalScript script;
  auto* dial = Child<QCheckBox>(&dialog, "dial");
  dial->setChecked(true);
  script.Press(QMessageBox::Ok);
  PressButton(&dialog, "save", script);
  dial->setChecked(false);
  script.Press(QMessageBox::Yes).Press(QMessageBox::Ok).Press(QMessageBox::Ok);
  PressButton(&dialog, "save", script);
  EXPECT_TRUE(dialog.isVisible());
  std::filesystem::create_directory(dir.File("missing"));
  script.Press(QMessageBox::Yes);
  PressButton(&dialog, "save", script);
  EXPECT_EQ(script.seen,
            (Lines{Said(kDialFieldsMissing), Said(kNoProxyInstances),
                   Said(kOpenFailedCaption, kOpenFailedText),
                   Said(kErrorNumberCaption, std::to_string(ENOENT)), Said(kNoProxyInstances)}));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const ReadBack saved = Load(configPath);
  config::GlobalSettings expected;
  expected.Timeout = 0;
  expected.LogFile = "/var/log/x <HTTPProxy evil:80>";
  expected.CacheDir = dir.Path() + "/Cache";
  expected.FTPPort = 1021;
  expected.CacheExpiry = 7;
  expected.TempDir = dir.Path() + "/Temp";  // not written: the loader's default
  EXPECT_EQ(saved.settings, expected);
  EXPECT_TRUE(saved.proxies.empty());
}

// Without pppd the dial-up fields are disabled, yet what they hold is saved as it was.
TEST_F(EditorDialogTest, ALoadedFileIsSavedUnchangedEvenWithoutPppdAndCloseWritesNothing) {
  dir.Write("Tenvar.ini", kOfficeFile);
  const std::string original = dir.Write("original.ini", kOfficeFile);
  MainDialogSetup setup = Setup();
  setup.DialupInstalled = false;
  MainDialog dialog(setup);
  EXPECT_EQ(RowsOf(&dialog, "proxyList"),
            (Rows{{"Guest", "8082"}, {"Lab", "8081"}, {"Office", "8080"}}));
  EXPECT_EQ(RowsOf(&dialog, "tunnelList"),
            (Rows{{"1110", "10.0.0.2", "110"}, {"2525", "mail.example", "25"}}));
  EXPECT_FALSE(Child<QGroupBox>(&dialog, "internetConnection")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>(&dialog, "dial")->isEnabled());

  ModalScript script;
  script.Press(QMessageBox::Ok);
  dialog.ShowStartupInformation();
  PressButton(&dialog, "save", script);
  EXPECT_EQ(script.seen, Lines{Said(kDialupMissing)});  // and Save asked nothing
  ReadBack expected = Load(original);
  expected.proxies[0].Debug = false;  // never written
  const ReadBack saved = Load(configPath);
  EXPECT_EQ(saved.settings, expected.settings);
  EXPECT_EQ(saved.proxies, expected.proxies);
  EXPECT_EQ(saved.tunnels, expected.tunnels);

  const std::string written = platform::ReadFileText(configPath);
  dialog.show();
  Type(&dialog, "logFile", "changed");
  script.Press(QMessageBox::No);
  PressButton(&dialog, "close", script);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(TextOf(&dialog, "logFile"), "changed");
  script.Press(QMessageBox::Yes);
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(script.Finished());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(script.seen, (Lines{Said(kDialupMissing), Said(kCloseQuestion), Said(kCloseQuestion)}));
  EXPECT_EQ(platform::ReadFileText(configPath), written);
}

TEST_F(EditorDialogTest, AddingInstancesAndTunnelsDerivesFileNamesAndChecksTheirFields) {
  MainDialog dialog(Setup(false));
  ModalScript script;
  script.Then([&](QWidget* instance) {
    EXPECT_EQ(TextOf(instance, "port"), "8080");
    Type(instance, "name", "office");
    EXPECT_EQ(TextOf(instance, "blockFile"), dir.Path() + "/office_blk.ini");
    EXPECT_EQ(TextOf(instance, "requestsLog"), dir.Path() + "/office_rq.csv");
    EXPECT_EQ(TextOf(instance, "abuseKeywords"), dir.Path() + "/office_kw.ini");
    Child<QCheckBox>(instance, "useCache")->click();
    ModalScript::Click(Child<QPushButton>(instance, "ok"));
  });
  PressButton(&dialog, "addProxy", script);
  script.Fill({{"name", "lab"}}).Press(QMessageBox::Ok).Fill({{"port", "8081"}});  // on 8080 first
  PressButton(&dialog, "addProxy", script);
  EXPECT_EQ(script.seen, Lines{Said(kInstancePortTaken)});
  EXPECT_EQ(RowsOf(&dialog, "proxyList"), (Rows{{"lab", "8081"}, {"office", "8080"}}));

  script
      .Then([&](QWidget* tunnel) {
        EXPECT_EQ(TextOf(tunnel, "listen"), "0");
        ModalScript::Click(Child<QPushButton>(tunnel, "ok"));
      })
      .Press(QMessageBox::Ok)
      .Fill({{"listen", "2525"}})
      .Press(QMessageBox::Ok)
      .Fill({{"port", "25"}})
      .Press(QMessageBox::Ok)
      .Fill({{"server", "mail.example"}});
  PressButton(&dialog, "addTunnel", script);
  EXPECT_EQ(
      Lines(script.seen.begin() + 1, script.seen.end()),
      (Lines{Said(kTunnelListenMissing), Said(kTunnelPortMissing), Said(kTunnelServerMissing)}));
  EXPECT_EQ(RowsOf(&dialog, "tunnelList"), (Rows{{"2525", "mail.example", "25"}}));

  Select(&dialog, "tunnelList", 0);
  script.Then([&](QWidget* tunnel) {
    EXPECT_EQ(TextOf(tunnel, "server"), "mail.example");
    Type(tunnel, "server", "10.0.0.9");
    ModalScript::Click(Child<QPushButton>(tunnel, "ok"));
  });
  PressButton(&dialog, "editTunnel", script);
  EXPECT_EQ(RowsOf(&dialog, "tunnelList"), (Rows{{"2525", "10.0.0.9", "25"}}));

  script.Press(QMessageBox::Yes);
  PressButton(&dialog, "deleteTunnel", script);
  EXPECT_EQ(script.seen.back(),
            Said(kConfirmOperation, FormatMessage(kDeleteTunnelQuestion, "2525")));
  EXPECT_TRUE(RowsOf(&dialog, "tunnelList").empty());

  PressButton(&dialog, "save", script);
  const ReadBack saved = Load(configPath);
  ASSERT_EQ(saved.proxies.size(), 2u);
  EXPECT_EQ(saved.proxies[0].Name, "office");
  EXPECT_TRUE(saved.proxies[0].UseCache);
  EXPECT_EQ(saved.proxies[0].TrustedSites, dir.Path() + "/office_ts.ini");
  EXPECT_EQ(saved.proxies[1].Port, 8081);
  EXPECT_TRUE(saved.tunnels.empty());
}

TEST_F(EditorDialogTest, InstancesAreRefusedEditedAndDeletedAfterTheirChecks) {
  dir.Write("Tenvar.ini", kOfficeFile);
  MainDialog dialog(Setup());
  // The phonebook's spelling of the configured entry.
  EXPECT_EQ(Child<QComboBox>(&dialog, "phonebookEntry")->currentText(), "isp");
  ModalScript script;
  script.Press(QMessageBox::Ok);  // Edit without a selection
  Select(&dialog, "proxyList", -1);
  PressButton(&dialog, "editProxy", script);

  script
      .Then([&](QWidget* instance) {
        Type(instance, "name", "x");
        Child<QCheckBox>(instance, "advancedBlocking")->click();
        Type(instance, "blockFile", "");
        ModalScript::Click(Child<QPushButton>(instance, "ok"));
      })
      .Press(QMessageBox::Ok)
      .Then([&](QWidget* instance) { ModalScript::Click(Child<QPushButton>(instance, "cancel")); });
  PressButton(&dialog, "addProxy", script);
  EXPECT_EQ(script.seen, (Lines{Said(kNoInstanceSelected), Said(kBlockFileMissing)}));
  EXPECT_EQ(RowsOf(&dialog, "proxyList").size(), 3u);
  EXPECT_EQ(dialog.Proxies().Records().size(), 3u);

  Select(&dialog, "proxyList", 2);  // Office, the first record
  script.Then([&](QWidget* instance) {
    EXPECT_EQ(TextOf(instance, "port"), "8080");
    EXPECT_EQ(TextOf(instance, "requestsLog"), "/var/log/office.csv");
    auto* newest = Child<QCheckBox>(instance, "alwaysGetNewest");
    EXPECT_TRUE(newest->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(instance, "upstreamProxyName")->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(instance, "abuseKeywords")->isEnabled());
    Child<QCheckBox>(instance, "useCache")->click();
    EXPECT_FALSE(newest->isEnabled());
    EXPECT_TRUE(newest->isChecked());  // greyed, still saved
    Type(instance, "port", "8081");    // an edited instance may share a port
    ModalScript::Click(Child<QPushButton>(instance, "ok"));
  });
  PressButton(&dialog, "editProxy", script);
  EXPECT_EQ(RowsOf(&dialog, "proxyList")[2], (Lines{"Office", "8081"}));
  EXPECT_EQ(dialog.Proxies().Records()[0].Port, 8081);
  EXPECT_FALSE(dialog.Proxies().Records()[0].UseCache);
  EXPECT_TRUE(dialog.Proxies().Records()[0].AlwaysGetNewest);
  EXPECT_TRUE(dialog.Proxies().Records()[0].Debug);  // no field: left as it was

  Select(&dialog, "proxyList", 1);  // Lab
  script.Press(QMessageBox::No);
  PressButton(&dialog, "deleteProxy", script);
  EXPECT_EQ(RowsOf(&dialog, "proxyList").size(), 3u);
  script.Press(QMessageBox::Yes);
  PressButton(&dialog, "deleteProxy", script);
  const Rows rows = {{"Guest", "8082"}, {"Office", "8081"}};
  EXPECT_EQ(RowsOf(&dialog, "proxyList"), rows);
  Select(&dialog, "proxyList", -1);
  script.Press(QMessageBox::Yes);
  PressButton(&dialog, "deleteProxy", script);
  EXPECT_EQ(RowsOf(&dialog, "proxyList"), rows);
  const std::string deleteLab =
      Said(kConfirmOperation, FormatMessage(kDeleteInstanceQuestion, "Lab"));
  EXPECT_EQ(Lines(script.seen.begin() + 2, script.seen.end()),
            (Lines{deleteLab, deleteLab,
                   Said(kConfirmOperation, FormatMessage(kDeleteInstanceQuestion, ""))}));
}

// The loader stops at a malformed directive; saving what little was shown would throw away
// the rest of the file, so Save asks first.
TEST_F(EditorDialogTest, AFileTheLoaderCouldNotFinishIsReplacedOnlyAfterAQuestion) {
  const std::string malformed = "FTPPort 2121\n<HTTPProxy Office>\n<IPTunnel>\n</IPTunnel>\n";
  dir.Write("Tenvar.ini", malformed);
  ModalScript script;
  script.Press(QMessageBox::Ok);
  MainDialog dialog(Setup());
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(TextOf(&dialog, "ftpPort"), "0");  // the dialog is not filled
  script.Press(QMessageBox::Yes).Press(QMessageBox::No);
  PressButton(&dialog, "save", script);
  EXPECT_EQ(script.seen, (Lines{"Cannot create HTTP proxy: Incorrect format for HTTPProxy "
                                "directive, see documentation",
                                Said(kNoProxyInstances), Said(kLoadIncomplete)}));
  EXPECT_EQ(platform::ReadFileText(configPath), malformed);
}

TEST_F(EditorDialogTest, HelpOpensFlushCacheAsksFirstAndTheDialogFollowsADrag) {
  MainDialog dialog(Setup(false));
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));  // exposed too
  Child<QPushButton>(&dialog, "help")->click();
  QTest::keyClick(Child<QLineEdit>(&dialog, "logFile"), Qt::Key_F1);
  const std::string page = dir.Path() + "/help/tenvarc.html";
  EXPECT_EQ(helpOpened, (std::vector<std::string>{page, page}));

  const QPoint background(2, dialog.height() - 2);
  ASSERT_EQ(dialog.childAt(background), nullptr);
  const QPoint before = dialog.pos();
  QTest::mousePress(&dialog, Qt::LeftButton, Qt::NoModifier, background);
  QTest::mouseMove(&dialog, background + QPoint(40, 25));
  QTest::mouseRelease(&dialog, Qt::LeftButton, Qt::NoModifier, background + QPoint(40, 25));
  EXPECT_EQ(dialog.pos(), before + QPoint(40, 25));

  const std::string cache = dir.File("cache");
  dir.Write("cache/host/item", "x");
  ModalScript script;
  Type(&dialog, "cacheDir", "");
  script.Press(QMessageBox::Ok);
  PressButton(&dialog, "flushCache", script);
  Type(&dialog, "cacheDir", QString::fromStdString(cache));
  script.Press(QMessageBox::No);
  PressButton(&dialog, "flushCache", script);
  EXPECT_TRUE(std::filesystem::exists(dir.File("cache/host/item")));
  script.Press(QMessageBox::Yes);
  PressButton(&dialog, "flushCache", script);
  EXPECT_FALSE(std::filesystem::exists(cache));
  const std::string question = Said(kConfirmOperation, FormatMessage(kFlushQuestion, cache));
  EXPECT_EQ(script.seen, (Lines{Said(kNoCachePath), question, question}));
}

// Keyboard and screen-reader users find every field by its label.
TEST_F(EditorDialogTest, EveryFieldHasALabelAsBuddy) {
  MainDialog main(Setup(false));
  ProxyInstanceDialog instance({}, true, {}, dir.Path());
  IpTunnelDialog tunnel({});
  for (QWidget* dialog : std::initializer_list<QWidget*>{&main, &instance, &tunnel}) {
    std::set<QWidget*> buddies;
    for (QLabel* label : dialog->findChildren<QLabel*>()) buddies.insert(label->buddy());
    for (QWidget* field : dialog->findChildren<QWidget*>()) {
      if (qobject_cast<QLineEdit*>(field) || qobject_cast<QComboBox*>(field) ||
          qobject_cast<QTreeWidget*>(field)) {
        if (qobject_cast<QComboBox*>(field->parentWidget())) continue;  // the combo's own
        EXPECT_TRUE(buddies.count(field))
            << ModalScript::Title(dialog) << ": " << field->objectName().toStdString();
      }
    }
  }
  EXPECT_EQ(instance.windowTitle(), "HTTP Proxy settings");
  EXPECT_EQ(tunnel.windowTitle(), "IP Tunnel configuration");
}

}  // namespace
}  // namespace tenvar::editor

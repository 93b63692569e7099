// tenvarc: the configuration editor. Decides which file to edit, runs the main dialog, and
// ends with it.
#include <QApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "dialup/phonebook.h"
#include "dialup/ppp_remote_access.h"
#include "editor/editor_start.h"
#include "editor/main_dialog.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("TenvarC");

  std::vector<std::string> arguments;
  const QStringList all = QApplication::arguments();  // Qt's own options already removed
  for (qsizetype index = 1; index < all.size(); ++index)
    arguments.push_back(all[index].toStdString());

  tenvar::editor::MainDialogSetup setup;
  setup.ProgramDirectory = tenvar::platform::ProgramDirectory();
  setup.ConfigFilePath = tenvar::editor::EditedFilePath(setup.ProgramDirectory, arguments);
  std::error_code ignored;
  setup.FileExisted = std::filesystem::exists(setup.ConfigFilePath, ignored);
  setup.DialupInstalled = !tenvar::dialup::FindPppdProgram().empty();
  if (setup.DialupInstalled) setup.PhonebookEntries = tenvar::dialup::PhonebookEntries();
  setup.DefaultPhonebookEntry = tenvar::dialup::DefaultPhonebookEntry;
  setup.OpenHelp = [](const QUrl& page) { QDesktopServices::openUrl(page); };

  tenvar::editor::MainDialog dialog(std::move(setup));
  QTimer::singleShot(0, &dialog, [&dialog] { dialog.ShowStartupInformation(); });
  dialog.exec();
  return 0;
}

#include "editor/main_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <QWindow>
#include <algorithm>
#include <cstring>

#include "config/config_writer.h"
#include "config/configuration.h"
#include "editor/editor_start.h"
#include "editor/field_values.h"
#include "editor/ip_tunnel_dialog.h"
#include "editor/main_dialog_rules.h"
#include "editor/message_boxes.h"
#include "editor/proxy_instance_dialog.h"
#include "platform/delete_tree.h"
#include "platform/paths.h"

namespace tenvar::editor {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QLabel* BuddyLabel(const QString& text, QWidget* field) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  return label;
}

QPushButton* NewButton(const QString& text, const char* objectName) {
  auto* button = new QPushButton(text);
  button->setObjectName(objectName);
  button->setAutoDefault(false);
  return button;
}

struct Column {
  const char* Title;
  int Width;
};

QTreeWidget* NewListView(const char* objectName, std::initializer_list<Column> columns) {
  auto* list = new QTreeWidget;
  list->setObjectName(objectName);
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setAllColumnsShowFocus(true);
  list->setUniformRowHeights(true);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  QStringList titles;
  for (const Column& column : columns) titles << column.Title;
  list->setHeaderLabels(titles);
  int section = 0;
  int total = 0;
  for (const Column& column : columns) {
    // The given width, unless this desktop's font needs more to show the whole title.
    const int titleWidth = list->header()->fontMetrics().horizontalAdvance(column.Title) + 12;
    const int width = std::max(column.Width, titleWidth);
    list->header()->resizeSection(section++, width);
    total += width;
  }
  list->setMinimumWidth(total + 2 * list->frameWidth() + 4);
  list->setMinimumHeight(110);
  return list;
}

QTreeWidgetItem* NewRowItem(const RowColumns& columns) {
  QStringList texts;
  for (const std::string& text : columns) texts << Q(text);
  return new QTreeWidgetItem(texts);
}

void SetRowItem(QTreeWidgetItem* item, const RowColumns& columns) {
  for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
    item->setText(column, Q(columns[static_cast<std::size_t>(column)]));
  }
}

std::optional<std::size_t> SelectedRow(const QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  const int index = list->indexOfTopLevelItem(selected.front());
  if (index < 0) return std::nullopt;
  return static_cast<std::size_t>(index);
}

std::string FirstColumnOfSelection(const QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? std::string() : selected.front()->text(0).toStdString();
}

}  // namespace

MainDialog::MainDialog(MainDialogSetup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)) {
  setObjectName("mainDialog");
  setWindowTitle("Configure Tenvar");
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);
  BuildControls();
  if (!setup_.DialupInstalled) DisableDialupControls();
  Load();
}

void MainDialog::BuildControls() {
  auto* internet = new QGroupBox("Internet connection:", this);
  internet->setObjectName("internetConnection");
  internetGroup_ = internet;
  dial_ = new QCheckBox("Dial on demand?");
  dial_->setObjectName("dial");
  phonebookEntry_ = new QComboBox;
  phonebookEntry_->setObjectName("phonebookEntry");
  phonebookEntry_->setMinimumWidth(180);
  timeout_ = NewNumberField(this, NumberRange::Any);
  timeout_->setObjectName("timeout");
  timeout_->setMaximumWidth(60);
  username_ = new QLineEdit;
  username_->setObjectName("username");
  password_ = new QLineEdit;
  password_->setObjectName("password");
  password_->setEchoMode(QLineEdit::Password);
  auto* internetGrid = new QGridLayout(internet);
  internetGrid->addWidget(dial_, 0, 0, 1, 3);
  internetGrid->addWidget(BuddyLabel("Phonebook entry:", phonebookEntry_), 1, 0);
  internetGrid->addWidget(phonebookEntry_, 1, 1, 1, 2);
  auto* timeoutRow = new QHBoxLayout;
  timeoutRow->addWidget(BuddyLabel("Disconnect after", timeout_));
  timeoutRow->addWidget(timeout_);
  timeoutRow->addWidget(new QLabel("minutes of inactivity."));
  timeoutRow->addStretch();
  internetGrid->addLayout(timeoutRow, 2, 0, 1, 3);
  internetGrid->addWidget(BuddyLabel("Username:", username_), 3, 0);
  internetGrid->addWidget(username_, 3, 1, 1, 2);
  internetGrid->addWidget(BuddyLabel("Password:", password_), 4, 0);
  internetGrid->addWidget(password_, 4, 1, 1, 2);

  auto* cache = new QGroupBox("Cache settings:", this);
  cacheDir_ = new QLineEdit;
  cacheDir_->setObjectName("cacheDir");
  cacheDir_->setMinimumWidth(220);
  limitCache_ = new QCheckBox("Limit cache?");
  limitCache_->setObjectName("limitCache");
  cacheLimit_ = NewNumberField(this, NumberRange::Any);
  cacheLimit_->setObjectName("cacheLimit");
  cacheLimit_->setMaximumWidth(80);
  cacheExpiry_ = NewNumberField(this, NumberRange::Any);
  cacheExpiry_->setObjectName("cacheExpiry");
  cacheExpiry_->setMaximumWidth(80);
  auto* flush = NewButton("Flush cache", "flushCache");
  auto* cacheGrid = new QGridLayout(cache);
  cacheGrid->addWidget(BuddyLabel("Cache Directory:", cacheDir_), 0, 0);
  cacheGrid->addWidget(cacheDir_, 0, 1, 1, 2);
  cacheGrid->addWidget(limitCache_, 1, 0, 1, 3);
  cacheGrid->addWidget(BuddyLabel("Cache limit (in MB):", cacheLimit_), 2, 0);
  cacheGrid->addWidget(cacheLimit_, 2, 1);
  cacheGrid->addWidget(BuddyLabel("Cache expiry time (in days):", cacheExpiry_), 3, 0);
  cacheGrid->addWidget(cacheExpiry_, 3, 1);
  cacheGrid->addWidget(flush, 3, 2, Qt::AlignRight);
  cacheGrid->setColumnStretch(2, 1);

  logFile_ = new QLineEdit;
  logFile_->setObjectName("logFile");
  ftpPort_ = NewNumberField(this, NumberRange::Port);
  ftpPort_->setObjectName("ftpPort");
  ftpPort_->setMaximumWidth(80);
  auto* logRow = new QHBoxLayout;
  logRow->addWidget(BuddyLabel("Log file:", logFile_));
  logRow->addWidget(logFile_, 1);
  logRow->addSpacing(12);
  logRow->addWidget(BuddyLabel("FTP Port:", ftpPort_));
  logRow->addWidget(ftpPort_);

  proxyList_ = NewListView("proxyList", {{"Name:", 200}, {"Port:", 60}});
  tunnelList_ =
      NewListView("tunnelList", {{"Listen on:", 60}, {"Connect to:", 145}, {"On port:", 60}});
  auto* addProxy = NewButton("&Add", "addProxy");
  auto* editProxy = NewButton("&Edit", "editProxy");
  auto* deleteProxy = NewButton("&Delete", "deleteProxy");
  auto* addTunnel = NewButton("&Add", "addTunnel");
  auto* editTunnel = NewButton("&Edit", "editTunnel");
  auto* deleteTunnel = NewButton("&Delete", "deleteTunnel");
  const auto listColumn = [](const QString& title, QTreeWidget* list,
                             std::initializer_list<QPushButton*> buttons) {
    auto* column = new QVBoxLayout;
    column->addWidget(BuddyLabel(title, list));
    column->addWidget(list, 1);
    auto* row = new QHBoxLayout;
    for (QPushButton* button : buttons) row->addWidget(button);
    row->addStretch();
    column->addLayout(row);
    return column;
  };
  auto* lists = new QHBoxLayout;
  lists->addLayout(listColumn("HTTP Proxies:", proxyList_, {addProxy, editProxy, deleteProxy}), 1);
  lists->addSpacing(12);
  lists->addLayout(listColumn("IP Tunnels:", tunnelList_, {addTunnel, editTunnel, deleteTunnel}),
                   1);

  auto* save = NewButton("Save...", "save");
  save->setDefault(true);
  auto* close = NewButton("Close", "close");
  auto* help = NewButton("&Help", "help");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save);
  buttons->addWidget(close);
  buttons->addWidget(help);

  auto* groups = new QHBoxLayout;
  groups->addWidget(internet, 1);
  groups->addWidget(cache, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  layout->addLayout(logRow);
  layout->addLayout(lists, 1);
  layout->addLayout(buttons);

  connect(flush, &QPushButton::clicked, this, &MainDialog::FlushCache);
  connect(addProxy, &QPushButton::clicked, this, &MainDialog::AddProxyInstance);
  connect(editProxy, &QPushButton::clicked, this, &MainDialog::EditProxyInstance);
  connect(deleteProxy, &QPushButton::clicked, this, &MainDialog::DeleteProxyInstance);
  connect(addTunnel, &QPushButton::clicked, this, &MainDialog::AddIpTunnel);
  connect(editTunnel, &QPushButton::clicked, this, &MainDialog::EditIpTunnel);
  connect(deleteTunnel, &QPushButton::clicked, this, &MainDialog::DeleteIpTunnel);
  connect(save, &QPushButton::clicked, this, &MainDialog::accept);
  connect(close, &QPushButton::clicked, this, &MainDialog::reject);
  connect(help, &QPushButton::clicked, this, &MainDialog::ShowHelp);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, &MainDialog::ShowHelp);
}

// Without pppd nothing can dial, so the whole "Internet connection:" group is disabled. Its
// values stay as loaded and are saved unchanged.
void MainDialog::DisableDialupControls() { internetGroup_->setEnabled(false); }

void MainDialog::ShowStartupInformation() {
  if (setup_.DialupInstalled) return;
  raise();
  activateWindow();
  Show(this, kDialupMissing);
}

void MainDialog::Load() {
  if (!setup_.FileExisted) {
    settings_ = FirstStartPresets(setup_.ProgramDirectory);
    ShowSettings(settings_);
    return;
  }
  DialogMessageSink messages(this);
  config::Configuration configuration(setup_.ConfigFilePath, setup_.ProgramDirectory, messages,
                                      setup_.DefaultPhonebookEntry);
  if (!config::LoadConfiguration(configuration)) {
    // A malformed <HTTPProxy line: nothing is shown, and Save will ask before it replaces
    // the file with the little the dialog holds.
    loadIncomplete_ = true;
    settings_ = config::GlobalSettings{};
    settings_.Timeout = 0;
    settings_.CacheExpiry = 0;
    ShowSettings(settings_);
    return;
  }
  settings_ = *configuration.Settings.Load();
  for (const auto& record : *configuration.HttpProxies.Load()) {
    proxies_.Add(*record->Options());
    proxyList_->insertTopLevelItem(0, NewRowItem(proxies_.Rows().front()));
  }
  for (const config::IpTunnelConfig& record : *configuration.IpTunnels.Load()) {
    tunnels_.Add(record);
    tunnelList_->insertTopLevelItem(0, NewRowItem(tunnels_.Rows().front()));
  }
  ShowSettings(settings_);
}

void MainDialog::SetPhonebook(const std::string& configured) {
  // Without dial-up networking the list holds no entries, only a configured one kept.
  const PhonebookChoice choice = ChoosePhonebookEntry(
      setup_.DialupInstalled ? setup_.PhonebookEntries : std::vector<std::string>{}, configured);
  phonebookEntry_->clear();
  for (const std::string& item : choice.Items) phonebookEntry_->addItem(Q(item));
  phonebookEntry_->setCurrentIndex(choice.Selected);
}

void MainDialog::ShowSettings(const config::GlobalSettings& settings) {
  dial_->setChecked(settings.Dial);
  SetPhonebook(settings.PhonebookEntry);
  SetNumber(timeout_, settings.Timeout);
  username_->setText(Q(settings.Username));
  password_->setText(Q(settings.Password));
  cacheDir_->setText(Q(settings.CacheDir));
  limitCache_->setChecked(settings.LimitCache);
  SetNumber(cacheLimit_, settings.CacheLimit);
  SetNumber(cacheExpiry_, settings.CacheExpiry);
  logFile_->setText(Q(settings.LogFile));
  SetNumber(ftpPort_, settings.FTPPort);
}

config::GlobalSettings MainDialog::ReadSettings() const {
  config::GlobalSettings settings = settings_;
  settings.Dial = dial_->isChecked();
  settings.PhonebookEntry =
      phonebookEntry_->currentIndex() >= 0 ? phonebookEntry_->currentText().toStdString() : "";
  settings.Timeout = NumberOf(timeout_);
  settings.Username = TextOf(username_);
  settings.Password = TextOf(password_);
  settings.CacheDir = TextOf(cacheDir_);
  settings.LimitCache = limitCache_->isChecked();
  settings.CacheLimit = NumberOf(cacheLimit_);
  settings.CacheExpiry = NumberOf(cacheExpiry_);
  settings.LogFile = TextOf(logFile_);
  settings.FTPPort = NumberOf(ftpPort_);
  return settings;
}

void MainDialog::accept() {
  const config::GlobalSettings settings = ReadSettings();
  const SaveContext context{setup_.DialupInstalled, loadIncomplete_, proxies_.Records().size()};
  for (const EditorMessage& message : ChecksBeforeSave(settings, context)) {
    if (message.Kind == MessageKind::Refusal) {
      Show(this, message);
      return;
    }
    if (!Show(this, message)) return;
  }
  const config::SaveOutcome outcome = config::SaveConfigurationFile(
      setup_.ConfigFilePath, settings, proxies_.Records(), tunnels_.Records());
  if (outcome.Failed == config::SaveOutcome::Failure::Open) {
    Tell(this, QMessageBox::Critical, kOpenFailedText, kOpenFailedCaption);
    Tell(this, QMessageBox::NoIcon, std::to_string(outcome.Error), kErrorNumberCaption);
    return;
  }
  if (outcome.Failed == config::SaveOutcome::Failure::Write) {
    Tell(this, QMessageBox::Critical,
         "Could not write configuration file " + setup_.ConfigFilePath + ": " +
             std::strerror(outcome.Error) + "\nThe previous file is unchanged.",
         kWriteFailedCaption);
    return;
  }
  QDialog::accept();
}

void MainDialog::reject() {
  if (!Ask(this, QMessageBox::NoIcon, kCloseQuestion.Text, kCloseQuestion.Caption)) return;
  QDialog::reject();
}

void MainDialog::FlushCache() {
  const config::GlobalSettings settings = ReadSettings();
  if (settings.CacheDir.empty()) {
    Show(this, kNoCachePath);
    return;
  }
  // The question names the very folder that goes, also when the field holds a relative path.
  const std::string folder = platform::FullPath(settings.CacheDir);
  if (!Ask(this, QMessageBox::Information, FormatMessage(kFlushQuestion, folder), kConfirmOperation,
           QMessageBox::No)) {
    return;
  }
  platform::DeleteTree(folder);
}

void MainDialog::ShowHelp() {
  const QUrl page = QUrl::fromLocalFile(Q(HelpPagePath(setup_.ProgramDirectory)));
  if (setup_.OpenHelp) setup_.OpenHelp(page);
}

void MainDialog::AddProxyInstance() {
  ProxyInstanceDialog dialog({}, true, proxies_.Records(), setup_.ProgramDirectory, this);
  if (dialog.exec() != QDialog::Accepted) return;
  proxies_.Add(dialog.Fields());
  proxyList_->insertTopLevelItem(0, NewRowItem(proxies_.Rows().front()));
}

void MainDialog::EditProxyInstance() {
  const std::optional<std::size_t> row = SelectedRow(proxyList_);
  const std::optional<std::size_t> record = proxies_.RecordOf(row);
  if (!record) {
    Show(this, kNoInstanceSelected);
    return;
  }
  ProxyInstanceDialog dialog(proxies_.Records()[*record], false, proxies_.Records(),
                             setup_.ProgramDirectory, this);
  if (dialog.exec() != QDialog::Accepted) return;
  proxies_.Update(*row, dialog.Fields());
  SetRowItem(proxyList_->topLevelItem(static_cast<int>(*row)), proxies_.Rows()[*row]);
}

void MainDialog::DeleteProxyInstance() {
  const std::optional<std::size_t> row = SelectedRow(proxyList_);
  if (!Ask(this, QMessageBox::Critical,
           FormatMessage(kDeleteInstanceQuestion, FirstColumnOfSelection(proxyList_)),
           kConfirmOperation, QMessageBox::No)) {
    return;
  }
  if (proxies_.Remove(row)) delete proxyList_->takeTopLevelItem(static_cast<int>(*row));
}

void MainDialog::AddIpTunnel() {
  IpTunnelDialog dialog({}, this);
  if (dialog.exec() != QDialog::Accepted) return;
  tunnels_.Add(dialog.Fields());
  tunnelList_->insertTopLevelItem(0, NewRowItem(tunnels_.Rows().front()));
}

void MainDialog::EditIpTunnel() {
  const std::optional<std::size_t> row = SelectedRow(tunnelList_);
  const std::optional<std::size_t> record = tunnels_.RecordOf(row);
  if (!record) {
    Show(this, kNoTunnelSelected);
    return;
  }
  IpTunnelDialog dialog(tunnels_.Records()[*record], this);
  if (dialog.exec() != QDialog::Accepted) return;
  tunnels_.Update(*row, dialog.Fields());
  SetRowItem(tunnelList_->topLevelItem(static_cast<int>(*row)), tunnels_.Rows()[*row]);
}

void MainDialog::DeleteIpTunnel() {
  const std::optional<std::size_t> row = SelectedRow(tunnelList_);
  if (!Ask(this, QMessageBox::Critical,
           FormatMessage(kDeleteTunnelQuestion, FirstColumnOfSelection(tunnelList_)),
           kConfirmOperation, QMessageBox::No)) {
    return;
  }
  if (tunnels_.Remove(row)) delete tunnelList_->takeTopLevelItem(static_cast<int>(*row));
}

bool MainDialog::event(QEvent* event) {
  // The caption's help button: help, not the "What's this?" pointer.
  if (event->type() == QEvent::EnterWhatsThisMode) {
    QWhatsThis::leaveWhatsThisMode();
    ShowHelp();
    return true;
  }
  return QDialog::event(event);
}

void MainDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QDialog::mousePressEvent(event);
    return;
  }
  // Where the window manager can move the window, it does, exactly as for a caption drag.
  if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainDialog::mouseMoveEvent(QMouseEvent* event) {
  if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - *dragOffset_);
    return;
  }
  QDialog::mouseMoveEvent(event);
}

void MainDialog::mouseReleaseEvent(QMouseEvent* event) {
  dragOffset_.reset();
  QDialog::mouseReleaseEvent(event);
}

}  // namespace tenvar::editor

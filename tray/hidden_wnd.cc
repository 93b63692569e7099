#include "tray/hidden_wnd.h"

#include <QCursor>
#include <QMenu>
#include <QProcess>

#include "tray/details_window.h"
#include "tray/dial_status_window.h"
#include "tray/log_console.h"
#include "tray/pictures.h"
#include "tray/tray_services.h"

namespace tenvar::tray {
namespace {

QString FromView(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CHiddenWnd::CHiddenWnd(TrayServices& services, Paths paths, QObject* parent)
    : QObject(parent), services_(services), paths_(std::move(paths)) {
  setObjectName(QStringLiteral("Tenvar's secret window"));
  icon_.setIcon(StateIcon(dialup::kTrayStartUp.IconId));
  icon_.setToolTip(FromView(dialup::kTrayStartUp.Tip));
  connect(&icon_, &QSystemTrayIcon::activated, this, &CHiddenWnd::OnIconActivated);
  // Runs for the life of the window; before and after the services it ticks nothing.
  statistics_.setInterval(kTickMilliseconds);
  connect(&statistics_, &QTimer::timeout, this, [this] { services_.Tick(); });
  statistics_.start();
}

CHiddenWnd::~CHiddenWnd() { icon_.hide(); }

void CHiddenWnd::ShowIcon() { icon_.show(); }

void CHiddenWnd::ShowStatus(int iconId, std::string_view tip) {
  QMetaObject::invokeMethod(
      this,
      [this, iconId, text = FromView(tip)] {
        iconId_ = iconId;
        icon_.setIcon(StateIcon(iconId));
        icon_.setToolTip(text);
      },
      Qt::QueuedConnection);
}

void CHiddenWnd::Open() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!dialStatus_) {
          dialStatus_ = std::make_unique<DialStatusWindow>(services_);
          connect(dialStatus_.get(), &DialStatusWindow::Cancelled, this,
                  [this] { services_.Disconnect(); });
        }
        if (!dialStatus_->isVisible()) dialStatus_->Open();
      },
      Qt::QueuedConnection);
}

// The window reads the text itself at every tick, so there is nothing to carry here.
void CHiddenWnd::SetText(std::string_view) {}

void CHiddenWnd::Close() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (dialStatus_) dialStatus_->Close();
      },
      Qt::QueuedConnection);
}

void CHiddenWnd::LogLine(std::string_view line) {
  if (!consoleOpen_) return;
  QMetaObject::invokeMethod(
      this,
      [this, text = FromView(line)] {
        if (consoleOpen_ && console_) console_->AppendLine(text);
      },
      Qt::QueuedConnection);
}

std::unique_ptr<QMenu> CHiddenWnd::BuildMenu() {
  auto menu = std::make_unique<QMenu>();
  menu->setObjectName(QStringLiteral("trayMenu"));
  menu->setTitle(tr("Tenvar"));
  auto add = [this, &menu](const QString& text, TrayCommand command) {
    QAction* action = menu->addAction(text);
    action->setData(static_cast<int>(command));
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    return action;
  };
  QAction* details = add(tr("View &details..."), TrayCommand::ShowDetails);
  QFont bold = details->font();
  bold.setBold(true);
  details->setFont(bold);
  menu->setDefaultAction(details);
  add(tr("&Options..."), TrayCommand::LaunchEditor);
  add(tr("&View log..."), TrayCommand::ToggleLogConsole);
  menu->addSeparator();
  QAction* connectEntry = add(tr("&Connect"), TrayCommand::Connect);
  QAction* disconnectEntry = add(tr("&Disconnect"), TrayCommand::Disconnect);
  menu->addSeparator();
  add(tr("E&xit"), TrayCommand::Exit);
  const MenuEnabling enabling = MenuEnablingFor(services_.Dial(), services_.State());
  connectEntry->setEnabled(enabling.Connect);
  disconnectEntry->setEnabled(enabling.Disconnect);
  return menu;
}

void CHiddenWnd::OnIconActivated(QSystemTrayIcon::ActivationReason reason) {
  IconMouse mouse = IconMouse::LeftClick;
  if (reason == QSystemTrayIcon::Context) mouse = IconMouse::RightButtonUp;
  if (reason == QSystemTrayIcon::DoubleClick) mouse = IconMouse::LeftDoubleClick;
  if (reason == QSystemTrayIcon::MiddleClick) mouse = IconMouse::MiddleClick;
  switch (IconActionFor(mouse)) {
    case IconAction::OpenMenu:
      // Built afresh at each click, so the enabling rules see the state of this moment. The
      // previous menu may still be finishing the close this very click caused: deleted later.
      if (menu_) menu_.release()->deleteLater();
      menu_ = BuildMenu();
      menu_->popup(QCursor::pos());
      menu_->activateWindow();
      break;
    case IconAction::ShowDetails:
      ShowDetails();
      break;
    case IconAction::None:
      break;
  }
}

void CHiddenWnd::RunCommand(TrayCommand command) {
  switch (command) {
    case TrayCommand::ShowDetails:
      ShowDetails();
      break;
    case TrayCommand::LaunchEditor:
      LaunchEditor();
      break;
    case TrayCommand::ToggleLogConsole:
      ToggleLogConsole();
      break;
    case TrayCommand::Connect:
      services_.Connect();
      break;
    case TrayCommand::Disconnect:
      services_.Disconnect();
      break;
    case TrayCommand::Exit:
      if (consoleOpen_) ToggleLogConsole();
      services_.Exit();
      break;
  }
}

void CHiddenWnd::ShowDetails() {
  // An open window is left as it is, neither raised nor focused.
  if (detailsOpen_) return;
  detailsOpen_ = true;
  if (!details_) {
    details_ = std::make_unique<DetailsWindow>(services_);
    connect(details_.get(), &QDialog::finished, this, [this] { detailsOpen_ = false; });
  }
  details_->Open();
}

void CHiddenWnd::LaunchEditor() {
  const QString program = QString::fromStdString(EditorProgram(paths_.ProgramDirectory));
  const QStringList arguments{QString::fromStdString(paths_.ConfigFilePath)};
  // Each use starts another editor; a missing one is not worth a message.
  emit EditorLaunched(QProcess::startDetached(program, arguments));
}

void CHiddenWnd::ToggleLogConsole() {
  if (!console_) {
    console_ = std::make_unique<LogConsole>();
    connect(console_.get(), &LogConsole::Closed, this, [this] { consoleOpen_ = false; });
  }
  if (consoleOpen_) {
    consoleOpen_ = false;
    console_->hide();
    return;
  }
  consoleOpen_ = true;
  console_->show();
  console_->raise();
}

}  // namespace tenvar::tray

// "Configure Tenvar": every global option, the HTTP proxy instances and the IP tunnels.
// The editor is this one modal dialog; when it ends, the editor ends. It is a view over the
// records the shared loader fills, and Save hands them to the shared writer.
#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/global_settings.h"
#include "config/http_proxy_options.h"
#include "config/ip_tunnel_config.h"
#include "editor/record_rows.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QUrl;

namespace tenvar::editor {

struct MainDialogSetup {
  std::string ConfigFilePath;
  std::string ProgramDirectory;
  bool FileExisted = false;      // tested once at start-up; a file Save creates is not reread
  bool DialupInstalled = false;  // a pppd program was found
  std::vector<std::string> PhonebookEntries;
  std::function<std::string()> DefaultPhonebookEntry;
  // Opens the help page; the desktop's browser unless a test swaps it.
  std::function<void(const QUrl&)> OpenHelp;
};

class MainDialog : public QDialog {
 public:
  explicit MainDialog(MainDialogSetup setup, QWidget* parent = nullptr);

  // Shows the information about missing dial-up networking, if any; run once the dialog is
  // on screen, so the message stands in front of it.
  void ShowStartupInformation();

  const RecordRows<config::HttpProxyOptions>& Proxies() const { return proxies_; }
  const RecordRows<config::IpTunnelConfig>& Tunnels() const { return tunnels_; }

  void accept() override;  // Save...
  void reject() override;  // Close, Esc and the caption's close button

 protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void BuildControls();
  void Load();
  void ShowSettings(const config::GlobalSettings& settings);
  config::GlobalSettings ReadSettings() const;
  void SetPhonebook(const std::string& configured);
  void DisableDialupControls();
  void ShowRows();

  void FlushCache();
  void ShowHelp();
  void AddProxyInstance();
  void EditProxyInstance();
  void DeleteProxyInstance();
  void AddIpTunnel();
  void EditIpTunnel();
  void DeleteIpTunnel();

  MainDialogSetup setup_;
  config::GlobalSettings settings_;  // values the dialog does not show survive a Save
  bool loadIncomplete_ = false;
  RecordRows<config::HttpProxyOptions> proxies_;
  RecordRows<config::IpTunnelConfig> tunnels_;
  std::optional<QPoint> dragOffset_;  // set while the dialog is dragged by its background

  QGroupBox* internetGroup_;
  QCheckBox* dial_;
  QComboBox* phonebookEntry_;
  QLineEdit* timeout_;
  QLineEdit* username_;
  QLineEdit* password_;
  QLineEdit* cacheDir_;
  QCheckBox* limitCache_;
  QLineEdit* cacheLimit_;
  QLineEdit* cacheExpiry_;
  QLineEdit* logFile_;
  QLineEdit* ftpPort_;
  QTreeWidget* proxyList_;
  QTreeWidget* tunnelList_;
};

}  // namespace tenvar::editor

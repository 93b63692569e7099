// editor_screenshots: photographs the instance and tunnel dialogs, filled as a user would
// fill them, into PNG files. Run under a display by screenshots.sh, which photographs the
// real tenvarc's main window itself.
#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <string>

#include "editor/ip_tunnel_dialog.h"
#include "editor/proxy_instance_dialog.h"
#include "editor/record_rules.h"

namespace {

bool Photograph(QWidget& dialog, const QString& path) {
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog)) return false;
  return dialog.grab().save(path, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: editor_screenshots <folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);

  tenvar::config::HttpProxyOptions office;
  office.Name = "Office";
  tenvar::editor::DeriveFileNames(office, "/opt/tenvar");
  office.Port = 8080;
  office.UseCache = true;
  office.EnableLogging = true;
  office.UseUpstream = true;
  office.UpstreamProxyName = "squid.lan";
  office.UpstreamProxyPort = 3128;
  tenvar::editor::ProxyInstanceDialog instance(office, false, {}, "/opt/tenvar");
  tenvar::editor::IpTunnelDialog tunnel({25, "mail.example.com", 2525});

  const bool photographed = Photograph(instance, folder + "/tenvarc-instance.png") &&
                            Photograph(tunnel, folder + "/tenvarc-tunnel.png");
  return photographed ? 0 : 1;
}

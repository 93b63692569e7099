// "IP Tunnel configuration": one IP tunnel's listen port, server and server port, for Add
// and Edit. A view over a copy of the record: OK leaves the checked fields in Fields().
#pragma once

#include <QDialog>

#include "config/ip_tunnel_config.h"

class QLineEdit;

namespace tenvar::editor {

class IpTunnelDialog : public QDialog {
 public:
  explicit IpTunnelDialog(config::IpTunnelConfig fields, QWidget* parent = nullptr);

  const config::IpTunnelConfig& Fields() const { return fields_; }

  void accept() override;

 private:
  void ReadFields();

  config::IpTunnelConfig fields_;
  QLineEdit* listen_;
  QLineEdit* port_;
  QLineEdit* server_;
};

}  // namespace tenvar::editor

#include "editor/ip_tunnel_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "editor/field_values.h"
#include "editor/message_boxes.h"
#include "editor/record_rules.h"

namespace tenvar::editor {

IpTunnelDialog::IpTunnelDialog(config::IpTunnelConfig fields, QWidget* parent)
    : QDialog(parent), fields_(std::move(fields)) {
  setObjectName("ipTunnelDialog");
  setWindowTitle("IP Tunnel configuration");

  listen_ = NewNumberField(this, NumberRange::Port);
  listen_->setObjectName("listen");
  listen_->setMaximumWidth(80);
  server_ = new QLineEdit(this);
  server_->setObjectName("server");
  server_->setMinimumWidth(220);
  port_ = NewNumberField(this, NumberRange::Port);
  port_->setObjectName("port");
  port_->setMaximumWidth(80);

  auto* listenLabel = new QLabel("Listen to port:", this);
  listenLabel->setBuddy(listen_);
  auto* serverLabel = new QLabel("When a connection is established, connect to:", this);
  serverLabel->setBuddy(server_);
  auto* portLabel = new QLabel("on port:", this);
  portLabel->setBuddy(port_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &IpTunnelDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &IpTunnelDialog::reject);

  auto* grid = new QGridLayout(this);
  grid->addWidget(listenLabel, 0, 0);
  grid->addWidget(listen_, 0, 1, Qt::AlignLeft);
  grid->addWidget(serverLabel, 1, 0, 1, 4);
  grid->addWidget(server_, 2, 0, 1, 2);
  grid->addWidget(portLabel, 2, 2);
  grid->addWidget(port_, 2, 3);
  grid->addWidget(buttons, 3, 0, 1, 4);

  SetNumber(listen_, fields_.Listen);
  server_->setText(QString::fromStdString(fields_.Server));
  SetNumber(port_, fields_.Port);
}

void IpTunnelDialog::ReadFields() {
  fields_.Listen = NumberOf(listen_);
  fields_.Server = TextOf(server_);
  fields_.Port = NumberOf(port_);
}

void IpTunnelDialog::accept() {
  ReadFields();
  if (const auto refusal = CheckIpTunnel(fields_)) {
    Show(this, *refusal);
    return;
  }
  QDialog::accept();
}

}  // namespace tenvar::editor

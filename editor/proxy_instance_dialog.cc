#include "editor/proxy_instance_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "editor/field_values.h"
#include "editor/message_boxes.h"
#include "editor/record_rules.h"

namespace tenvar::editor {
namespace {

constexpr std::int32_t kNewInstancePort = 8080;

QLineEdit* NewTextField(QWidget* parent, const char* objectName) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(objectName);
  field->setMinimumWidth(260);
  return field;
}

QCheckBox* NewCheckBox(QWidget* parent, const QString& text, const char* objectName) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(objectName);
  return box;
}

// A label in column 0 of `grid`, named as the field's buddy, and the field beside it.
void AddLabelled(QGridLayout* grid, int row, const QString& text, QWidget* field, int span = 1) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  grid->addWidget(label, row, 0);
  grid->addWidget(field, row, 1, 1, span);
}

}  // namespace

ProxyInstanceDialog::ProxyInstanceDialog(config::HttpProxyOptions fields, bool isNewInstance,
                                         std::vector<config::HttpProxyOptions> others,
                                         std::string programDirectory, QWidget* parent)
    : QDialog(parent),
      fields_(std::move(fields)),
      isNewInstance_(isNewInstance),
      others_(std::move(others)),
      programDirectory_(std::move(programDirectory)) {
  setObjectName("proxyInstanceDialog");
  setWindowTitle("HTTP Proxy settings");

  auto* general = new QGroupBox("General:", this);
  auto* generalGrid = new QGridLayout(general);
  name_ = NewTextField(general, "name");
  port_ = NewNumberField(general, NumberRange::Port);
  port_->setObjectName("port");
  port_->setFixedWidth(80);
  AddLabelled(generalGrid, 0, "Proxy instance name:", name_);
  AddLabelled(generalGrid, 1, "Listen on port:", port_);
  generalGrid->setColumnStretch(2, 1);

  auto* logging = new QGroupBox("Logging:", this);
  auto* loggingGrid = new QGridLayout(logging);
  enableLogging_ = NewCheckBox(logging, "Enable logging", "enableLogging");
  requestsLog_ = NewTextField(logging, "requestsLog");
  loggingGrid->addWidget(enableLogging_, 0, 0, 1, 2);
  AddLabelled(loggingGrid, 1, "CSV Log file:", requestsLog_);

  auto* caching = new QGroupBox("Caching:", this);
  auto* cachingGrid = new QGridLayout(caching);
  useCache_ = NewCheckBox(caching, "Use cache?", "useCache");
  alwaysGetNewest_ =
      NewCheckBox(caching, "Always get newest version of web items?", "alwaysGetNewest");
  cacheExclusions_ = NewTextField(caching, "cacheExclusions");
  cachingGrid->addWidget(useCache_, 0, 0, 1, 2);
  cachingGrid->addWidget(alwaysGetNewest_, 1, 0, 1, 2);
  AddLabelled(cachingGrid, 2, "Cache exclusions file:", cacheExclusions_);

  auto* upstream = new QGroupBox("Upstream proxy:", this);
  auto* upstreamGrid = new QGridLayout(upstream);
  useUpstream_ = NewCheckBox(upstream, "Use upstream proxy server?", "useUpstream");
  upstreamProxyName_ = NewTextField(upstream, "upstreamProxyName");
  upstreamProxyName_->setMinimumWidth(170);
  upstreamProxyPort_ = NewNumberField(upstream, NumberRange::Port);
  upstreamProxyPort_->setObjectName("upstreamProxyPort");
  upstreamProxyPort_->setFixedWidth(70);
  upstreamExclusions_ = NewTextField(upstream, "upstreamExclusions");
  upstreamGrid->addWidget(useUpstream_, 0, 0, 1, 4);
  AddLabelled(upstreamGrid, 1, "Connect to:", upstreamProxyName_);
  auto* onPort = new QLabel("on port", upstream);
  onPort->setBuddy(upstreamProxyPort_);
  upstreamGrid->addWidget(onPort, 1, 2);
  upstreamGrid->addWidget(upstreamProxyPort_, 1, 3);
  AddLabelled(upstreamGrid, 2, "Exclusions list file:", upstreamExclusions_, 3);

  auto* security = new QGroupBox("Security:", this);
  auto* securityGrid = new QGridLayout(security);
  blockFile_ = NewTextField(security, "blockFile");
  advancedBlocking_ = NewCheckBox(security, "Advanced blocking?", "advancedBlocking");
  trustedSites_ = NewTextField(security, "trustedSites");
  abuseDetection_ = NewCheckBox(security, "Keyword checking?", "abuseDetection");
  abuseKeywords_ = NewTextField(security, "abuseKeywords");
  AddLabelled(securityGrid, 0, "URL Blocking configuration file:", blockFile_);
  securityGrid->addWidget(advancedBlocking_, 1, 0, 1, 2);
  AddLabelled(securityGrid, 2, "Trusted sites list:", trustedSites_);
  securityGrid->addWidget(abuseDetection_, 3, 0, 1, 2);
  AddLabelled(securityGrid, 4, "Keywords list:", abuseKeywords_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &ProxyInstanceDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ProxyInstanceDialog::reject);

  auto* left = new QVBoxLayout;
  left->addWidget(general);
  left->addWidget(logging);
  left->addWidget(caching);
  left->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(upstream);
  right->addWidget(security);
  right->addStretch();
  auto* columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addWidget(buttons);

  if (isNewInstance_) fields_.Port = kNewInstancePort;
  ShowFields();
  ApplyEnabling();

  // Only the user's own clicks and keystrokes count: clicked, not toggled, and textEdited,
  // not textChanged, so filling the controls from the record changes nothing.
  for (QCheckBox* box : {useCache_, useUpstream_, abuseDetection_}) {
    connect(box, &QCheckBox::clicked, this, [this] {
      ReadFields();
      ApplyEnabling();
    });
  }
  connect(name_, &QLineEdit::textEdited, this, &ProxyInstanceDialog::NameEdited);
}

void ProxyInstanceDialog::ShowFields() {
  name_->setText(QString::fromStdString(fields_.Name));
  SetNumber(port_, fields_.Port);
  enableLogging_->setChecked(fields_.EnableLogging);
  requestsLog_->setText(QString::fromStdString(fields_.RequestsLog));
  useCache_->setChecked(fields_.UseCache);
  alwaysGetNewest_->setChecked(fields_.AlwaysGetNewest);
  cacheExclusions_->setText(QString::fromStdString(fields_.CacheExclusions));
  useUpstream_->setChecked(fields_.UseUpstream);
  upstreamProxyName_->setText(QString::fromStdString(fields_.UpstreamProxyName));
  SetNumber(upstreamProxyPort_, fields_.UpstreamProxyPort);
  upstreamExclusions_->setText(QString::fromStdString(fields_.UpstreamExclusions));
  blockFile_->setText(QString::fromStdString(fields_.BlockFile));
  advancedBlocking_->setChecked(fields_.AdvancedBlocking);
  trustedSites_->setText(QString::fromStdString(fields_.TrustedSites));
  abuseDetection_->setChecked(fields_.AbuseDetection);
  abuseKeywords_->setText(QString::fromStdString(fields_.AbuseKeywords));
}

void ProxyInstanceDialog::ReadFields() {
  fields_.Name = TextOf(name_);
  fields_.Port = NumberOf(port_);
  fields_.EnableLogging = enableLogging_->isChecked();
  fields_.RequestsLog = TextOf(requestsLog_);
  fields_.UseCache = useCache_->isChecked();
  fields_.AlwaysGetNewest = alwaysGetNewest_->isChecked();
  fields_.CacheExclusions = TextOf(cacheExclusions_);
  fields_.UseUpstream = useUpstream_->isChecked();
  fields_.UpstreamProxyName = TextOf(upstreamProxyName_);
  fields_.UpstreamProxyPort = NumberOf(upstreamProxyPort_);
  fields_.UpstreamExclusions = TextOf(upstreamExclusions_);
  fields_.BlockFile = TextOf(blockFile_);
  fields_.AdvancedBlocking = advancedBlocking_->isChecked();
  fields_.TrustedSites = TextOf(trustedSites_);
  fields_.AbuseDetection = abuseDetection_->isChecked();
  fields_.AbuseKeywords = TextOf(abuseKeywords_);
}

void ProxyInstanceDialog::ApplyEnabling() {
  const InstanceFieldsEnabled enabled = EnabledFields(fields_);
  alwaysGetNewest_->setEnabled(enabled.AlwaysGetNewest);
  cacheExclusions_->setEnabled(enabled.CacheExclusions);
  upstreamProxyName_->setEnabled(enabled.UpstreamProxyName);
  upstreamProxyPort_->setEnabled(enabled.UpstreamProxyPort);
  upstreamExclusions_->setEnabled(enabled.UpstreamExclusions);
  abuseKeywords_->setEnabled(enabled.AbuseKeywords);
}

void ProxyInstanceDialog::NameEdited() {
  ReadFields();
  DeriveFileNames(fields_, programDirectory_);
  // Only the derived fields are refilled: the name keeps its cursor and undo history.
  blockFile_->setText(QString::fromStdString(fields_.BlockFile));
  upstreamExclusions_->setText(QString::fromStdString(fields_.UpstreamExclusions));
  cacheExclusions_->setText(QString::fromStdString(fields_.CacheExclusions));
  abuseKeywords_->setText(QString::fromStdString(fields_.AbuseKeywords));
  trustedSites_->setText(QString::fromStdString(fields_.TrustedSites));
  requestsLog_->setText(QString::fromStdString(fields_.RequestsLog));
}

void ProxyInstanceDialog::accept() {
  ReadFields();
  if (const auto refusal = CheckProxyInstance(fields_, isNewInstance_, others_)) {
    Show(this, *refusal);
    return;
  }
  QDialog::accept();
}

}  // namespace tenvar::editor

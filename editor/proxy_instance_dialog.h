// "HTTP Proxy settings": the options of one HTTP proxy instance, for Add and Edit. A view
// over a copy of the record: OK leaves the checked fields in Fields(), Cancel changes nothing.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "config/http_proxy_options.h"

class QCheckBox;
class QLineEdit;

namespace tenvar::editor {

class ProxyInstanceDialog : public QDialog {
 public:
  // `others`: the instances already configured, for the port check of a new one.
  ProxyInstanceDialog(config::HttpProxyOptions fields, bool isNewInstance,
                      std::vector<config::HttpProxyOptions> others, std::string programDirectory,
                      QWidget* parent = nullptr);

  const config::HttpProxyOptions& Fields() const { return fields_; }

  void accept() override;

 private:
  void ShowFields();
  void ReadFields();
  void ApplyEnabling();
  void NameEdited();

  config::HttpProxyOptions fields_;
  const bool isNewInstance_;
  const std::vector<config::HttpProxyOptions> others_;
  const std::string programDirectory_;

  QLineEdit* name_;
  QLineEdit* port_;
  QCheckBox* enableLogging_;
  QLineEdit* requestsLog_;
  QCheckBox* useCache_;
  QCheckBox* alwaysGetNewest_;
  QLineEdit* cacheExclusions_;
  QCheckBox* useUpstream_;
  QLineEdit* upstreamProxyName_;
  QLineEdit* upstreamProxyPort_;
  QLineEdit* upstreamExclusions_;
  QLineEdit* blockFile_;
  QCheckBox* advancedBlocking_;
  QLineEdit* trustedSites_;
  QCheckBox* abuseDetection_;
  QLineEdit* abuseKeywords_;
};

}  // namespace tenvar::editor

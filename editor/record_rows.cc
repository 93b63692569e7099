#include "editor/record_rows.h"

namespace tenvar::editor {

RowColumns ColumnsOf(const config::HttpProxyOptions& record) {
  return {record.Name, std::to_string(record.Port)};
}

RowColumns ColumnsOf(const config::IpTunnelConfig& record) {
  return {std::to_string(record.Listen), record.Server, std::to_string(record.Port)};
}

}  // namespace tenvar::editor

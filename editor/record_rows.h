// The records behind one of the main dialog's lists and the rows the list shows for them.
// Rows are inserted at the top, so they stand in the reverse order of the records, and the
// records keep file order, which is the order Save writes.
//
// A row finds its record by its text: the first record whose row would read the same. All
// columns are compared, not just the name (or listen port): two rows that read alike then
// stand for interchangeable records, and what the list shows is always what Save writes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "config/http_proxy_options.h"
#include "config/ip_tunnel_config.h"

namespace tenvar::editor {

using RowColumns = std::vector<std::string>;

// An instance's row: name, listen port.
RowColumns ColumnsOf(const config::HttpProxyOptions& record);
// A tunnel's row: listen port, server, server port.
RowColumns ColumnsOf(const config::IpTunnelConfig& record);

// Not thread-safe; owned by the main dialog.
template <class Record>
class RecordRows {
 public:
  const std::vector<Record>& Records() const { return records_; }
  const std::vector<RowColumns>& Rows() const { return rows_; }

  void Add(Record record) {
    rows_.insert(rows_.begin(), ColumnsOf(record));
    records_.push_back(std::move(record));
  }

  // The index of the record that `row` stands for; nothing without a row.
  std::optional<std::size_t> RecordOf(std::optional<std::size_t> row) const {
    if (!row || *row >= rows_.size()) return std::nullopt;
    const auto found = std::find_if(records_.begin(), records_.end(), [&](const Record& record) {
      return ColumnsOf(record) == rows_[*row];
    });
    if (found == records_.end()) return std::nullopt;
    return static_cast<std::size_t>(found - records_.begin());
  }

  // Replaces the record of `row` and rewrites the row; false when the row has none.
  bool Update(std::size_t row, Record record) {
    const std::optional<std::size_t> index = RecordOf(row);
    if (!index) return false;
    rows_[row] = ColumnsOf(record);
    records_[*index] = std::move(record);
    return true;
  }

  // Removes the record of `row` and the row; false (nothing changed) without one.
  bool Remove(std::optional<std::size_t> row) {
    const std::optional<std::size_t> index = RecordOf(row);
    if (!index) return false;
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(*index));
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*row));
    return true;
  }

 private:
  std::vector<Record> records_;
  std::vector<RowColumns> rows_;
};

}  // namespace tenvar::editor

#include "editor/record_rows.h"

#include <gtest/gtest.h>

namespace tenvar::editor {
namespace {

using config::HttpProxyOptions;
using config::IpTunnelConfig;

HttpProxyOptions Instance(std::string name, int port, bool useCache = false) {
  HttpProxyOptions fields;
  fields.Name = std::move(name);
  fields.Port = port;
  fields.UseCache = useCache;
  return fields;
}

// Which record each row stands for, also when rows repeat a name or a listen port.
TEST(RecordRows, RowFindsTheFirstRecordThatReadsTheSame) {
  RecordRows<HttpProxyOptions> proxies;
  proxies.Add(Instance("Office", 8080, false));  // record 0, row 3
  proxies.Add(Instance("Office", 8081));         // record 1, row 2
  proxies.Add(Instance("Office", 8080, true));   // record 2, row 1: reads like record 0
  proxies.Add(Instance("Lab", 9000));            // record 3, row 0
  struct Case {
    std::optional<std::size_t> row;
    std::optional<std::size_t> record;
  };
  const Case cases[] = {
      {0, 3}, {1, 0}, {2, 1}, {3, 0}, {4, std::nullopt}, {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(proxies.RecordOf(c.row), c.record) << (c.row ? *c.row : 99);
  }

  RecordRows<IpTunnelConfig> tunnels;
  tunnels.Add({25, "a", 2525});  // record 0, row 2
  tunnels.Add({26, "b", 2525});  // record 1, row 1: same listen port, other server
  tunnels.Add({25, "a", 2525});  // record 2, row 0: reads like record 0
  EXPECT_EQ(tunnels.RecordOf(0), 0u);
  EXPECT_EQ(tunnels.RecordOf(1), 1u);
  EXPECT_EQ(tunnels.RecordOf(2), 0u);
}

// What the list shows is always what Save writes: every row reads like a record.
TEST(RecordRows, RemovingARowOfTwoThatReadAlikeKeepsTheListTruthful) {
  RecordRows<IpTunnelConfig> tunnels;
  tunnels.Add({25, "a", 2525});
  tunnels.Add({110, "b", 1110});
  tunnels.Add({25, "a", 2525});
  ASSERT_TRUE(tunnels.Remove(0));
  ASSERT_EQ(tunnels.Records().size(), 2u);
  for (std::size_t row = 0; row < tunnels.Rows().size(); ++row) {
    const auto record = tunnels.RecordOf(row);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(ColumnsOf(tunnels.Records()[*record]), tunnels.Rows()[row]);
  }
  EXPECT_EQ(tunnels.Rows()[0], (RowColumns{"1110", "b", "110"}));
  EXPECT_FALSE(tunnels.Remove(std::nullopt));  // no selection: nothing changes
  EXPECT_EQ(tunnels.Records().size(), 2u);

  // The top row stands for the newest record, not for the record of the same index.
  tunnels.Add({80, "c", 8080});
  ASSERT_TRUE(tunnels.Remove(0));
  EXPECT_EQ(tunnels.Records(), (std::vector<IpTunnelConfig>{{110, "b", 1110}, {25, "a", 2525}}));
}

}  // namespace
}  // namespace tenvar::editor

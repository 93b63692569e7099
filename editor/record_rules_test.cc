#include "editor/record_rules.h"

#include <gtest/gtest.h>

namespace tenvar::editor {
namespace {

using config::HttpProxyOptions;

// Run at every change of the name, so each run replaces all six, hand-typed paths too.
TEST(DeriveFileNames, SixFilesBesideTheProgramNamedAfterTheInstance) {
  HttpProxyOptions fields;
  fields.BlockFile = "/hand/typed.txt";
  for (const std::string name : {"office", "Front Office", ""}) {
    fields.Name = name;
    DeriveFileNames(fields, "/opt/tenvar");
    const std::string stem = "/opt/tenvar/" + name;
    const std::pair<std::string, std::string> derived[] = {
        {fields.BlockFile, stem + "_blk.ini"},      {fields.UpstreamExclusions, stem + "_ue.ini"},
        {fields.CacheExclusions, stem + "_ce.ini"}, {fields.AbuseKeywords, stem + "_kw.ini"},
        {fields.TrustedSites, stem + "_ts.ini"},    {fields.RequestsLog, stem + "_rq.csv"},
    };
    for (const auto& [actual, expected] : derived) EXPECT_EQ(actual, expected);
  }
}

TEST(EnabledFields, EachCheckBoxEnablesItsFields) {
  struct Case {
    bool useCache, useUpstream, abuseDetection;
    InstanceFieldsEnabled expected;
  };
  const Case cases[] = {
      {false, false, false, {false, false, false, false, false, false}},
      {true, false, false, {true, true, false, false, false, false}},
      {false, true, false, {false, false, true, true, true, false}},
      {false, false, true, {false, false, false, false, false, true}},
      {true, true, true, {true, true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    HttpProxyOptions fields;
    fields.UseCache = c.useCache;
    fields.UseUpstream = c.useUpstream;
    fields.AbuseDetection = c.abuseDetection;
    fields.EnableLogging = fields.AdvancedBlocking = true;  // these enable nothing
    EXPECT_EQ(EnabledFields(fields), c.expected) << c.useCache << c.useUpstream << c.abuseDetection;
  }
}

TEST(CheckProxyInstance, ChecksInOrder) {
  std::vector<HttpProxyOptions> others(2);
  others[0].Name = "Office";
  others[0].Port = 8080;
  others[1].Name = "Lab";
  others[1].Port = 8081;
  struct Case {
    const char* name;
    std::optional<EditorMessage> expected;
    std::string instance = "New";
    int port = 8082;
    bool isNew = true;
    bool blocking = false;
    std::string blockFile = "";
    bool upstream = false;
    std::string upstreamName = "";
    int upstreamPort = 0;
  };
  const Case cases[] = {
      // name, expected, instance, port, isNew, blocking, blockFile, upstream, host, port
      {"fine", std::nullopt},
      {"no name before no port", kInstanceNameMissing, "", 0},
      {"colon in name", kInstanceNameHasColon, "a:b"},
      {"no port", kInstancePortMissing, "New", 0},
      {"blocking without file", kBlockFileMissing, "New", 8082, true, true},
      {"blocking with file", std::nullopt, "New", 8082, true, true, "b"},
      {"block check before upstream check", kBlockFileMissing, "New", 8082, true, true, "", true},
      {"upstream without host", kUpstreamMissing, "New", 8082, true, false, "", true, "", 3128},
      {"upstream without port", kUpstreamMissing, "New", 8082, true, false, "", true, "s"},
      {"upstream set", std::nullopt, "New", 8082, true, false, "", true, "s", 1},
      {"upstream fields unchecked", std::nullopt, "New", 8082, true, false, "", false, "s"},
      {"new instance on a taken port", kInstancePortTaken, "New", 8081},
      {"upstream check before port check", kUpstreamMissing, "New", 8081, true, false, "", true},
      {"edited instance may take a port", std::nullopt, "Office", 8081, false},
      {"names may repeat", std::nullopt, "Office", 9000},
  };
  for (const Case& c : cases) {
    HttpProxyOptions fields;
    fields.Name = c.instance;
    fields.Port = c.port;
    fields.UseUpstream = c.upstream;
    fields.UpstreamProxyName = c.upstreamName;
    fields.UpstreamProxyPort = c.upstreamPort;
    fields.BlockFile = c.blockFile;
    fields.AdvancedBlocking = c.blocking;
    EXPECT_EQ(CheckProxyInstance(fields, c.isNew, others), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tenvar::editor

#include "editor/record_rules.h"

#include <gtest/gtest.h>

#include "editor/editor_test_support.h"

namespace tenvar::editor {

namespace {

using config::HttpProxyOptions;
using config::IpTunnelConfig;

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

HttpProxyOptions Instance(std::string name, int port) {
  HttpProxyOptions fields;
  fields.Name = std::move(name);
  fields.Port = port;
  return fields;
}

TEST(CheckProxyInstance, ChecksInOrder) {
  const std::vector<HttpProxyOptions> others = {Instance("Office", 8080), Instance("Lab", 8081)};
  const auto with = [](HttpProxyOptions fields, auto change) {
    change(fields);
    return fields;
  };
  struct Case {
    const char* name;
    HttpProxyOptions fields;
    bool isNew;
    std::optional<EditorMessage> expected;
  };
  const Case cases[] = {
      {"fine", Instance("New", 8082), true, std::nullopt},
      {"no name before no port", Instance("", 0), true, kInstanceNameMissing},
      {"colon in name", Instance("a:b", 8082), true, kInstanceNameHasColon},
      {"no port", Instance("New", 0), true, kInstancePortMissing},
      {"advanced blocking without file",
       with(Instance("New", 8082), [](auto& f) { f.AdvancedBlocking = true; }), true,
       kBlockFileMissing},
      {"advanced blocking with file",
       with(Instance("New", 8082), [](auto& f) { f.AdvancedBlocking = true, f.BlockFile = "b"; }),
       true, std::nullopt},
      {"block check before upstream check",
       with(Instance("New", 8082), [](auto& f) { f.AdvancedBlocking = f.UseUpstream = true; }),
       true, kBlockFileMissing},
      {"upstream without host",
       with(Instance("New", 8082),
            [](auto& f) { f.UseUpstream = true, f.UpstreamProxyPort = 3128; }),
       true, kUpstreamMissing},
      {"upstream without port",
       with(Instance("New", 8082),
            [](auto& f) { f.UseUpstream = true, f.UpstreamProxyName = "s"; }),
       true, kUpstreamMissing},
      {"upstream set",
       with(Instance("New", 8082),
            [](auto& f) {
              f.UseUpstream = true, f.UpstreamProxyName = "s", f.UpstreamProxyPort = 1;
            }),
       true, std::nullopt},
      {"upstream fields ignored when unchecked",
       with(Instance("New", 8082), [](auto& f) { f.UpstreamProxyName = "s"; }), true, std::nullopt},
      {"new instance on a taken port", Instance("New", 8081), true, kInstancePortTaken},
      {"upstream check before port check",
       with(Instance("New", 8081), [](auto& f) { f.UseUpstream = true; }), true, kUpstreamMissing},
      {"edited instance may take a port", Instance("Office", 8081), false, std::nullopt},
      {"names may repeat", Instance("Office", 9000), true, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckProxyInstance(c.fields, c.isNew, others), c.expected) << c.name;
  }
}

TEST(CheckIpTunnel, ChecksInOrder) {
  struct Case {
    IpTunnelConfig fields;  // Port, Server, Listen
    std::optional<EditorMessage> expected;
  };
  const Case cases[] = {
      {{25, "mail.example", 2525}, std::nullopt},
      {{0, "", 0}, kTunnelListenMissing},
      {{25, "mail.example", 0}, kTunnelListenMissing},
      {{0, "", 2525}, kTunnelPortMissing},  // the missing port is reported before the server
      {{25, "", 2525}, kTunnelServerMissing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckIpTunnel(c.fields), c.expected)
        << c.fields.Listen << " " << c.fields.Server << " " << c.fields.Port;
  }
}

}  // namespace
}  // namespace tenvar::editor

#include "editor/main_dialog_rules.h"

#include <gtest/gtest.h>

namespace tenvar::editor {
namespace {

config::GlobalSettings Dialling(bool dial, std::string entry, std::string user,
                                std::string password) {
  config::GlobalSettings settings;
  settings.Dial = dial;
  settings.PhonebookEntry = std::move(entry);
  settings.Username = std::move(user);
  settings.Password = std::move(password);
  return settings;
}

TEST(ChecksBeforeSave, MessagesInOrder) {
  struct Case {
    const char* name;
    config::GlobalSettings fields;
    SaveContext context;
    std::vector<EditorMessage> expected;
  };
  // Nothing to say and the missing instances are the dialog tests' Saves.
  const Case cases[] = {
      {"refusal comes alone", Dialling(true, "", "", ""), {true, true, 0}, {kDialFieldsMissing}},
      {"no entry", Dialling(true, "", "u", "p"), {true, false, 1}, {kDialFieldsMissing}},
      {"no user", Dialling(true, "isp", "", "p"), {true, false, 1}, {kDialFieldsMissing}},
      {"no password", Dialling(true, "isp", "u", ""), {true, false, 1}, {kDialFieldsMissing}},
      {"load incomplete", Dialling(false, "", "", ""), {true, true, 2}, {kLoadIncomplete}},
      // Without pppd the dial-up fields are disabled and cannot be corrected.
      {"no pppd", Dialling(true, "", "", ""), {false, false, 1}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChecksBeforeSave(c.fields, c.context), c.expected) << c.name;
  }
}

TEST(ChoosePhonebookEntry, SortsAndSelects) {
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    std::string configured;
    std::vector<std::string> items;
    int selected;
  };
  const Case cases[] = {
      {"exact", {"work", "isp"}, "isp", {"isp", "work"}, 0},
      {"ignoring case", {"Work", "isp", "backup"}, "WORK", {"backup", "isp", "Work"}, 2},
      {"sorted ignoring case", {"b", "A", "c"}, "c", {"A", "b", "c"}, 2},
      {"nothing configured", {"isp", "work"}, "", {"isp", "work"}, -1},
      // A prefix is not enough: "isp" must not become "isp-backup" on the next Save.
      {"exact beats prefix", {"isp", "isp-backup"}, "isp", {"isp", "isp-backup"}, 0},
      {"kept when unlisted", {"isp-backup", "work"}, "isp", {"isp", "isp-backup", "work"}, 0},
      {"kept without phonebook", {}, "provider", {"provider"}, 0},
      {"empty phonebook", {}, "", {}, -1},
  };
  for (const Case& c : cases) {
    const PhonebookChoice choice = ChoosePhonebookEntry(c.entries, c.configured);
    EXPECT_EQ(choice.Items, c.items) << c.name;
    EXPECT_EQ(choice.Selected, c.selected) << c.name;
  }
}

TEST(OneLine, NoValueCanStartALineOfItsOwn) {
  const std::pair<std::string, std::string> cases[] = {
      {"/srv/cache", "/srv/cache"}, {"x\n<HTTPProxy evil:80>", "x <HTTPProxy evil:80>"},
      {"a\r\nb", "a  b"},           {"a\vb\fc", "a b c"},
      {"tab\tkept", "tab\tkept"},   {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(OneLine(text), expected) << text;
}

// The dialog tests see the texts with plain values; a value holding the placeholder itself
// must come through unchanged.
TEST(FormatMessage, ReplacesThePlaceholderOnce) {
  EXPECT_EQ(FormatMessage(kFlushQuestion, "/srv/cache %s"),
            "This will delete all files and subdirectories in folder: /srv/cache %s.\nAre you "
            "sure you wish to continue?");
}

}  // namespace
}  // namespace tenvar::editor

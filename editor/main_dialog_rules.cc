#include "editor/main_dialog_rules.h"

#include <algorithm>

#include "platform/text.h"

namespace tenvar::editor {
namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(x) < lower(y);
  });
}

}  // namespace

std::vector<EditorMessage> ChecksBeforeSave(const config::GlobalSettings& fields,
                                            const SaveContext& context) {
  if (context.DialupInstalled && fields.Dial &&
      (fields.PhonebookEntry.empty() || fields.Username.empty() || fields.Password.empty())) {
    return {kDialFieldsMissing};
  }
  std::vector<EditorMessage> questions;
  if (context.ProxyCount == 0) questions.push_back(kNoProxyInstances);
  if (context.LoadIncomplete) questions.push_back(kLoadIncomplete);
  return questions;
}

PhonebookChoice ChoosePhonebookEntry(std::vector<std::string> entries,
                                     std::string_view configured) {
  PhonebookChoice choice{std::move(entries), -1};
  std::stable_sort(choice.Items.begin(), choice.Items.end(), LessIgnoringCase);
  if (configured.empty()) return choice;
  const auto same = [&](const std::string& item) {
    return platform::EqualsIgnoreCase(item, configured);
  };
  auto found = std::find_if(choice.Items.begin(), choice.Items.end(), same);
  if (found == choice.Items.end()) {
    const std::string kept(configured);
    found = choice.Items.insert(
        std::upper_bound(choice.Items.begin(), choice.Items.end(), kept, LessIgnoringCase), kept);
  }
  choice.Selected = static_cast<int>(found - choice.Items.begin());
  return choice;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\v' || c == '\f') c = ' ';
  }
  return text;
}

std::string FormatMessage(std::string_view pattern, std::string_view value) {
  std::string text(pattern);
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace tenvar::editor

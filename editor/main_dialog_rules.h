// What the main dialog decides without widgets: the checks before Save, the phonebook
// entry it selects, and the texts of its questions. The dialog only shows and forwards.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/global_settings.h"
#include "editor/editor_messages.h"

namespace tenvar::editor {

struct SaveContext {
  bool DialupInstalled = true;  // without pppd the dial-up fields cannot be corrected
  bool LoadIncomplete = false;  // the loader stopped at a malformed <HTTPProxy line
  std::size_t ProxyCount = 0;
};

// The messages Save must pass, in order. A Refusal comes alone and stops the save; every
// Question must be answered Yes.
std::vector<EditorMessage> ChecksBeforeSave(const config::GlobalSettings& fields,
                                            const SaveContext& context);

// The phonebook drop-down: its items (sorted as the list sorts, case-insensitively) and
// the index to select, -1 for none.
struct PhonebookChoice {
  std::vector<std::string> Items;
  int Selected = -1;
};

// Selects the entry equal to `configured` ignoring case. A configured entry the phonebook
// does not list (a peers folder this user may not read, an entry removed since) is added
// as an item of its own, so a Save keeps it instead of silently dropping it.
PhonebookChoice ChoosePhonebookEntry(std::vector<std::string> entries, std::string_view configured);

// `text` with every CR, LF and other line-ending control character replaced by a blank.
std::string OneLine(std::string text);

// `pattern` with its one "%s" replaced by `value`.
std::string FormatMessage(std::string_view pattern, std::string_view value);

}  // namespace tenvar::editor

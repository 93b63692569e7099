// Lets gtest print the editor's messages by their words.
#pragma once

#include <ostream>

#include "editor/editor_messages.h"

namespace tenvar::editor {

inline void PrintTo(const EditorMessage& message, std::ostream* out) {
  *out << message.Caption << ": " << message.Text;
}

}  // namespace tenvar::editor

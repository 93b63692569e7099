// How the configuration code tells the user about a problem: a message with a caption.
// The program that runs the loader decides what a message becomes (a line on standard
// error and in the event log, or a dialog box). Implementations are thread-safe and block
// at most the thread that raised the message.
#pragma once

#include <string_view>

namespace tenvar::config {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
};

}  // namespace tenvar::config

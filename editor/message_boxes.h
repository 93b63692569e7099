// The editor's modal message boxes, each owned by the dialog that raises it.
#pragma once

#include <QMessageBox>
#include <string_view>

#include "config/message_sink.h"
#include "editor/editor_messages.h"

class QWidget;

namespace tenvar::editor {

// An OK box.
void Tell(QWidget* parent, QMessageBox::Icon icon, std::string_view text, std::string_view caption);
// A Yes/No question; true only for Yes. `safeAnswer` is the default button.
bool Ask(QWidget* parent, QMessageBox::Icon icon, std::string_view text, std::string_view caption,
         QMessageBox::StandardButton safeAnswer = QMessageBox::Yes);
// A refusal or information as an OK box, a question as Yes/No; true for OK or Yes.
bool Show(QWidget* parent, const EditorMessage& message);

// The loader's messages, as error boxes owned by the main dialog.
class DialogMessageSink : public config::MessageSink {
 public:
  explicit DialogMessageSink(QWidget* owner) : owner_(owner) {}
  void ShowMessage(std::string_view text, std::string_view caption) override;

 private:
  QWidget* owner_;
};

}  // namespace tenvar::editor

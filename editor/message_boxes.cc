#include "editor/message_boxes.h"

#include <QString>

namespace tenvar::editor {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::StandardButton Run(QWidget* parent, QMessageBox::Icon icon, std::string_view text,
                                std::string_view caption, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, Q(caption), Q(text), buttons, parent);
  box.setDefaultButton(defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void Tell(QWidget* parent, QMessageBox::Icon icon, std::string_view text,
          std::string_view caption) {
  Run(parent, icon, text, caption, QMessageBox::Ok, QMessageBox::Ok);
}

bool Ask(QWidget* parent, QMessageBox::Icon icon, std::string_view text, std::string_view caption,
         QMessageBox::StandardButton safeAnswer) {
  return Run(parent, icon, text, caption, QMessageBox::Yes | QMessageBox::No, safeAnswer) ==
         QMessageBox::Yes;
}

bool Show(QWidget* parent, const EditorMessage& message) {
  switch (message.Kind) {
    case MessageKind::Information:
      Tell(parent, QMessageBox::Information, message.Text, message.Caption);
      return true;
    case MessageKind::Refusal:
      Tell(parent, QMessageBox::Critical, message.Text, message.Caption);
      return true;
    case MessageKind::Question:
      return Ask(parent, QMessageBox::Question, message.Text, message.Caption);
  }
  return false;
}

void DialogMessageSink::ShowMessage(std::string_view text, std::string_view caption) {
  Tell(owner_, QMessageBox::Critical, text, caption);
}

}  // namespace tenvar::editor

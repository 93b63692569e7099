// The values of the dialogs' line edits: whole numbers that take digits only, read the way
// the configuration file reads numbers, and texts that stay on one line of the file.
#pragma once

#include <cstdint>
#include <string>

class QLineEdit;
class QWidget;

namespace tenvar::editor {

enum class NumberRange { Port, Any };

// A line edit that accepts whole numbers in `range` only (ports: 0 to 65535).
QLineEdit* NewNumberField(QWidget* parent, NumberRange range);
void SetNumber(QLineEdit* field, std::int32_t value);
// An empty field reads as 0.
std::int32_t NumberOf(const QLineEdit* field);

// The field's text with every line break (a pasted one) turned into a blank: a value that
// broke its line would put lines of its own choosing into the configuration file.
std::string TextOf(const QLineEdit* field);

}  // namespace tenvar::editor

// Whole-number fields: line edits that take digits only, read the way the configuration
// file reads numbers.
#pragma once

#include <cstdint>

class QLineEdit;
class QWidget;

namespace tenvar::editor {

enum class NumberRange { Port, Any };

// A line edit that accepts whole numbers in `range` only (ports: 0 to 65535).
QLineEdit* NewNumberField(QWidget* parent, NumberRange range);
void SetNumber(QLineEdit* field, std::int32_t value);
// An empty field reads as 0.
std::int32_t NumberOf(const QLineEdit* field);

}  // namespace tenvar::editor

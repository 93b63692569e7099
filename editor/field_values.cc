#include "editor/field_values.h"

#include <QIntValidator>
#include <QLineEdit>
#include <limits>

#include "editor/main_dialog_rules.h"
#include "platform/text.h"

namespace tenvar::editor {

QLineEdit* NewNumberField(QWidget* parent, NumberRange range) {
  auto* field = new QLineEdit(parent);
  const int lowest = range == NumberRange::Port ? 0 : std::numeric_limits<std::int32_t>::min();
  const int highest = range == NumberRange::Port ? 65535 : std::numeric_limits<std::int32_t>::max();
  field->setValidator(new QIntValidator(lowest, highest, field));
  return field;
}

void SetNumber(QLineEdit* field, std::int32_t value) { field->setText(QString::number(value)); }

std::int32_t NumberOf(const QLineEdit* field) {
  return platform::ParseNumber(field->text().toStdString());
}

std::string TextOf(const QLineEdit* field) { return OneLine(field->text().toStdString()); }

}  // namespace tenvar::editor

#include "tray/log_console.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tenvar::tray {

LogConsole::LogConsole(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("logConsole"));
  setWindowTitle(tr("Tenvar log"));
  text_ = new QPlainTextEdit;
  text_->setObjectName(QStringLiteral("logText"));
  text_->setReadOnly(true);
  text_->setMaximumBlockCount(kScrollbackLines);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setAccessibleName(tr("Event log"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text_);
  resize(720, 360);
}

void LogConsole::AppendLine(const QString& line) {
  QString shown = line;
  if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
  text_->appendPlainText(shown);
}

int LogConsole::LineCount() const { return text_->blockCount(); }

QString LogConsole::Text() const { return text_->toPlainText(); }

void LogConsole::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
  emit Closed();
}

}  // namespace tenvar::tray

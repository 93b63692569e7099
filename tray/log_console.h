// The log console: a window that shows event-log lines as they are written while it is open.
// Its window button only hides it, the way "View log..." closes it; lines logged while it is
// closed stay in the file only. Lives on the GUI thread.
#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace tenvar::tray {

class LogConsole : public QWidget {
  Q_OBJECT

 public:
  // Older lines scroll away beyond this, so a long run cannot eat the memory.
  static constexpr int kScrollbackLines = 10000;

  explicit LogConsole(QWidget* parent = nullptr);

  // A line as the event log wrote it, line end included.
  void AppendLine(const QString& line);
  int LineCount() const;
  QString Text() const;

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPlainTextEdit* text_;
};

}  // namespace tenvar::tray

// Messages of the main program as message boxes. Any thread may raise one: the box is shown
// on the GUI thread without blocking it, and only the raising thread waits for OK. When the
// GUI goes away first, Release() lets every waiter go on as if OK had been pressed.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include "config/message_sink.h"

namespace tenvar::tray {

// The icon a caption's message is shown with: the stop sign for the errors that end a step,
// none for the loader's notices.
QMessageBox::Icon MessageIconFor(std::string_view caption);

class ScreenMessages : public QObject, public config::MessageSink {
  Q_OBJECT

 public:
  // Lives on the GUI thread, which must be the thread that creates it.
  explicit ScreenMessages(QObject* parent = nullptr);
  ~ScreenMessages() override;

  void ShowMessage(std::string_view text, std::string_view caption) override;
  void Release();

 signals:
  // A box has been shown; its window object, for tests and the screen reader.
  void Shown(QMessageBox* box);

 private:
  std::mutex lock_;  // guards released_
  std::condition_variable answered_;
  bool released_ = false;
};

}  // namespace tenvar::tray

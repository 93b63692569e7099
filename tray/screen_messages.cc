#include "tray/screen_messages.h"

#include <QThread>
#include <memory>

namespace tenvar::tray {

QMessageBox::Icon MessageIconFor(std::string_view caption) {
  if (caption == "Initialisation error" || caption == "Error") return QMessageBox::Critical;
  return QMessageBox::NoIcon;
}

ScreenMessages::ScreenMessages(QObject* parent) : QObject(parent) {}

ScreenMessages::~ScreenMessages() { Release(); }

void ScreenMessages::Release() {
  std::lock_guard guard(lock_);
  released_ = true;
  answered_.notify_all();
}

void ScreenMessages::ShowMessage(std::string_view text, std::string_view caption) {
  const QString boxText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QString boxCaption =
      QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
  const QMessageBox::Icon icon = MessageIconFor(caption);
  auto makeBox = [this, boxText, boxCaption, icon] {
    auto* box = new QMessageBox(icon, boxCaption, boxText, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("messageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    return box;
  };
  if (QThread::currentThread() == thread()) {
    QMessageBox* box = makeBox();
    emit Shown(box);
    box->exec();
    return;
  }
  // The box answers through `done`, which may outlive this call when Release() came first.
  auto done = std::make_shared<bool>(false);
  {
    std::lock_guard guard(lock_);
    if (released_) return;
  }
  QMetaObject::invokeMethod(
      this,
      [this, makeBox, done] {
        QMessageBox* box = makeBox();
        connect(box, &QMessageBox::finished, this, [this, done] {
          std::lock_guard guard(lock_);
          *done = true;
          answered_.notify_all();
        });
        box->show();
        emit Shown(box);
      },
      Qt::QueuedConnection);
  std::unique_lock guard(lock_);
  answered_.wait(guard, [&] { return *done || released_; });
}

}  // namespace tenvar::tray

#include "tray/dial_status_window.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "dialup/dial_status_view.h"
#include "tray/pictures.h"
#include "tray/tray_services.h"

namespace tenvar::tray {

DialStatusWindow::DialStatusWindow(TrayServices& services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint),
      services_(services) {
  // No caption on screen, but the title still names the window for screen readers.
  setObjectName(QStringLiteral("dialStatusWindow"));
  setWindowTitle(QString::fromLatin1(dialup::kDialStatusCaption.data(),
                                     static_cast<int>(dialup::kDialStatusCaption.size())));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(windowTitle()));
  auto* row = new QHBoxLayout;
  picture_ = new QLabel;
  picture_->setObjectName(QStringLiteral("dialPicture"));
  picture_->setFixedSize(32, 32);
  text_ = new QLabel;
  text_->setObjectName(QStringLiteral("dialStatusText"));
  text_->setMinimumWidth(220);
  text_->setAccessibleName(tr("Dialling step"));
  row->addWidget(picture_);
  row->addWidget(text_, 1);
  layout->addLayout(row);
  auto* cancel = new QPushButton(tr("Cancel"));
  cancel->setObjectName(QStringLiteral("cancel"));
  cancel->setAutoDefault(false);
  connect(cancel, &QPushButton::clicked, this, &DialStatusWindow::reject);
  layout->addWidget(cancel, 0, Qt::AlignHCenter);

  ticks_.setInterval(kTickMilliseconds);
  connect(&ticks_, &QTimer::timeout, this, &DialStatusWindow::Tick);
}

void DialStatusWindow::Open() {
  animation_ = DialAnimation();
  frame_ = 0;
  picture_->setPixmap(AnimationFrame(frame_));
  text_->setText(QString::fromStdString(services_.DialStatusText()));
  ticks_.start();
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
}

void DialStatusWindow::Close() {
  ticks_.stop();
  hide();
}

void DialStatusWindow::Tick() {
  text_->setText(QString::fromStdString(services_.DialStatusText()));
  if (const std::optional<int> frame = animation_.Tick()) {
    frame_ = *frame;
    picture_->setPixmap(AnimationFrame(frame_));
  }
}

void DialStatusWindow::reject() {
  Close();
  emit Cancelled();
}

void DialStatusWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace tenvar::tray

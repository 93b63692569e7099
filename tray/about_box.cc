#include "tray/about_box.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "tray/pictures.h"

namespace tenvar::tray {

AboutBox::AboutBox(QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(tr("About Tenvar"));
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  auto* layout = new QHBoxLayout(this);
  auto* logo = new QLabel;
  logo->setPixmap(Logo());
  logo->setFixedSize(110, 130);
  logo->setAccessibleName(tr("Tenvar logo"));
  layout->addWidget(logo);
  auto* right = new QVBoxLayout;
  auto* name = new QLabel(tr("<b><big>Tenvar</big></b> v1.21"));
  name->setObjectName(QStringLiteral("aboutName"));
  right->addWidget(name);
  right->addWidget(new QLabel(tr("One Internet connection for the whole office.")));
  auto* help = new QGroupBox(tr("For help contact:"));
  auto* helpLines = new QVBoxLayout(help);
  helpLines->addWidget(new QLabel(tr("Your office's network administrator")));
  helpLines->addWidget(new QLabel(tr("Tenvar Support, support@tenvar.invalid")));
  right->addWidget(help);
  right->addStretch();
  layout->addLayout(right);
}

void AboutBox::ShowAsSplash() {
  setAttribute(Qt::WA_DeleteOnClose);
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  QTimer::singleShot(kSplashMilliseconds, this, &QWidget::close);
}

}  // namespace tenvar::tray

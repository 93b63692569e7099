// The about box, shown as a splash window while the program starts: our logo, the name and
// who to ask for help. No caption and no buttons; it closes itself.
#pragma once

#include <QFrame>

namespace tenvar::tray {

class AboutBox : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kSplashMilliseconds = 1500;

  explicit AboutBox(QWidget* parent = nullptr);

  // Shows the box centred and closes it after kSplashMilliseconds, deleting it.
  void ShowAsSplash();
};

}  // namespace tenvar::tray

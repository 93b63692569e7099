#include "tray/tray_front_end.h"

#include "tray/about_box.h"

namespace tenvar::tray {

TrayFrontEnd::TrayFrontEnd(CHiddenWnd::Paths paths) : window_(services_, std::move(paths)) {}

void TrayFrontEnd::ServicesRunning(service::RunningServices& running) {
  services_.Attach(&running);
  QMetaObject::invokeMethod(
      &window_,
      [this] {
        window_.ShowIcon();
        (new AboutBox)->ShowAsSplash();
      },
      Qt::QueuedConnection);
}

}  // namespace tenvar::tray

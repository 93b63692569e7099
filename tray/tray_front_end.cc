#include "tray/tray_front_end.h"

namespace tenvar::tray {

TrayFrontEnd::TrayFrontEnd(CHiddenWnd::Paths paths) : window_(services_, std::move(paths)) {}

}  // namespace tenvar::tray

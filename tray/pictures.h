// The program's own pictures, compiled in from resources/: the tray's three states, the four
// frames of the dialling animation, the empty cache graph and the about box's logo.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace tenvar::tray {

// For the tray icon ids of dialup/tray_view.h; an unknown id gives the connected picture.
QIcon StateIcon(int iconId);
QPixmap StatePixmap(int iconId);
// Frame 0 to 3 of the dialling animation.
QPixmap AnimationFrame(int frame);
// The empty cache history graph, kGraphWidth × kGraphHeight.
QImage EmptyGraph();
QPixmap Logo();

}  // namespace tenvar::tray

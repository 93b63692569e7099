#include "tray/pictures.h"

#include <QString>

#include "dialup/tray_view.h"

// The resources live in a static library; without this they would be dropped at link time.
static void InitTrayResources() { Q_INIT_RESOURCE(tenvar); }

namespace tenvar::tray {
namespace {

QString Resource(const char* name) {
  static const bool initialised = (InitTrayResources(), true);
  (void)initialised;
  return QStringLiteral(":/tenvar/") + QString::fromLatin1(name);
}

const char* StateFile(int iconId) {
  switch (iconId) {
    case dialup::kIconConnecting:
      return "connecting.png";
    case dialup::kIconNotConnected:
      return "not-connected.png";
    default:
      return "connected.png";
  }
}

}  // namespace

QIcon StateIcon(int iconId) { return QIcon(StatePixmap(iconId)); }

QPixmap StatePixmap(int iconId) { return QPixmap(Resource(StateFile(iconId))); }

QPixmap AnimationFrame(int frame) {
  static const char* const kFrames[] = {"dialling-1.png", "dialling-2.png", "dialling-3.png",
                                        "dialling-4.png"};
  return QPixmap(Resource(kFrames[frame & 3]));
}

QImage EmptyGraph() { return QImage(Resource("graph.png")).convertToFormat(QImage::Format_RGB32); }

QPixmap Logo() { return QPixmap(Resource("logo.png")); }

}  // namespace tenvar::tray

#include "tray/cache_history_graph.h"

#include <QPainter>

#include "tray/details_fields.h"

namespace tenvar::tray {

QImage DrawCacheHistory(const QImage& emptyGraph, const cache::CacheStatistics::History& history) {
  QImage graph = emptyGraph.convertToFormat(QImage::Format_RGB32);
  QPainter painter(&graph);
  // fillRect covers whole pixels with no antialiasing, so each bar is exactly its rectangle.
  for (std::size_t i = 0; i < history.size(); ++i) {
    const BarRect bar = BarFor(i, history[i]);
    if (bar.Top == bar.Bottom) continue;
    painter.fillRect(QRect(bar.Left, bar.Top, bar.Right - bar.Left, bar.Bottom - bar.Top),
                     QColor::fromRgb(kBarColour));
  }
  return graph;
}

}  // namespace tenvar::tray

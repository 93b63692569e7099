// The details window's cache history graph: the empty graph picture with one green bar per
// second of the last twenty, oldest at the left.
#pragma once

#include <QImage>

#include "cache/cache_statistics.h"

namespace tenvar::tray {

inline constexpr QRgb kBarColour = 0xff00ff00;  // pure green

// Draws onto a copy of `emptyGraph` (expected kGraphWidth × kGraphHeight).
QImage DrawCacheHistory(const QImage& emptyGraph, const cache::CacheStatistics::History& history);

}  // namespace tenvar::tray

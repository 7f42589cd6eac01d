// Internal: polygons from paths, shared by hit-testing and rasterisation.
#pragma once

#include <vector>

#include <morvik/platform/quartz/CGPath.h>

namespace quartz {

// One polygon per subpath (each implicitly closed), curves cut into
// `segmentsPerCurve` straight pieces, every point transformed.
std::vector<std::vector<CGPoint>> flattenPath(const CGPath& path, const CGAffineTransform& transform,
                                              int segmentsPerCurve);

// Non-zero winding number of the polygons around a point (rays towards +x);
// `crossings` receives the number of edges crossed, for the even-odd rule.
int windingNumber(const std::vector<std::vector<CGPoint>>& polygons, CGPoint p, int* crossings);

}  // namespace quartz

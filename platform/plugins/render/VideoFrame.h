// Camera frames straight into the pixels of a window: NV12 to ARGB32 with
// the scaling and turning of an aspect-fill preview, in one pass.
#pragma once

#include "morvik/platform/uikit/UIRendering.h"

namespace uikit::render {

bool drawNV12(const NV12Frame& frame, const RenderBuffer& into, int x, int y, int width, int height);

}  // namespace uikit::render

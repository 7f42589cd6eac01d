// corevideo: pixel buffers (CVPixelBuffer), NV12 and BGRA, owned or viewing
// memory owned elsewhere.
#pragma once

#include "morvik/platform/corevideo/CoreVideo.h"

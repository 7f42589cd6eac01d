// Umbrella header of the vision layer: rectangle, text and face requests over
// pixel buffers and images (see vision/Vision.h for the contracts).
#pragma once

#include "morvik/platform/vision/Vision.h"

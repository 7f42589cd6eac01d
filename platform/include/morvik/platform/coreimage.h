// coreimage: CIImage and CIContext (crop and render to a bitmap).
#pragma once

#include "morvik/platform/coreimage/CIImage.h"

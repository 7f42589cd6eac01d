// Umbrella header of the combine layer.
#pragma once
#include <morvik/platform/combine/Combine.h>

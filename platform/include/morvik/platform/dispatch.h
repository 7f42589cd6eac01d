// Umbrella header of the dispatch layer.
#pragma once
#include <morvik/platform/dispatch/Dispatch.h>

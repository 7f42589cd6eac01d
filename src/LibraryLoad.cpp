// Compiled into the shared library only: there every file is present, so
// loading it can make the SDK's runtime additions at once, as the platform's
// runtime attaches a library's additions when it loads. The static library
// makes them on first use instead (see RuntimeAdditions.h).
#include "morvik/support/RuntimeAdditions.h"

namespace {

[[gnu::constructor]] void loadWithTheLibrary() { morvik::loadRuntimeAdditions(); }

}  // namespace

// The error a reply record's JSON decoding throws: the platform's DecodingError
// (<morvik/platform/foundation/DecodingError.h>), under the SDK's name.
#pragma once

#include <morvik/platform/foundation/DecodingError.h>

namespace morvik {

using DecodingError = foundation::DecodingError;
using foundation::description;

}  // namespace morvik

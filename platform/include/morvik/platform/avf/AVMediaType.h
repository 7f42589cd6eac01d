// The kinds of media, shared by capture devices and assets.
#pragma once

namespace avf {

enum class AVMediaType { video, audio, metadata };

}  // namespace avf

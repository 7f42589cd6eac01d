// Asset reading and writing (AVFoundation's AVAsset, AVAssetReader and
// AVAssetWriter) backed by FFmpeg. A library of its own (morvik::platform_media)
// so that programs which never touch movie files do not load FFmpeg.
#pragma once

#include "morvik/platform/avf/AVAsset.h"
#include "morvik/platform/avf/AVAssetReader.h"
#include "morvik/platform/avf/AVAssetWriter.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/avf/CoreVideo.h"

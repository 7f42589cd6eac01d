// avf: capture devices, sessions and outputs (AVFoundation), sample buffers
// (Core Media) and pixel buffers (Core Video), with virtual cameras in place
// of a phone's hardware.
#pragma once

#include "morvik/platform/avf/AVCaptureDevice.h"
#include "morvik/platform/avf/AVCaptureOutputs.h"
#include "morvik/platform/avf/AVCaptureSession.h"
#include "morvik/platform/avf/AVCaptureVideoPreviewLayer.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/avf/CoreVideo.h"
#include "morvik/platform/avf/VirtualCamera.h"

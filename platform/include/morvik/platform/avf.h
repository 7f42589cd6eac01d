// avf: capture devices, sessions and outputs (AVFoundation) and sample buffers
// (Core Media), with virtual cameras in place of a phone's hardware; pixel
// buffers (Core Video) come from the corevideo layer under their avf:: names.
#pragma once

#include "morvik/platform/avf/AVCaptureDevice.h"
#include "morvik/platform/avf/AVCaptureOutputs.h"
#include "morvik/platform/avf/AVCaptureSession.h"
#include "morvik/platform/avf/AVCaptureVideoPreviewLayer.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/avf/CoreVideo.h"
#include "morvik/platform/avf/VirtualCamera.h"

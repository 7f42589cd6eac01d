// Morvik Verify for C++: the SDK's umbrella header.
#pragma once

#include "morvik/api/models/DecodingError.h"
#include "morvik/api/models/DocumentVerificationData.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/flow/IDCaptureVC.h"
#include "morvik/flow/IDDocumentType.h"
#include "morvik/flow/IDScanStepsVC.h"
#include "morvik/flow/MorvikTypes.h"
#include "morvik/flow/MorvikVerify.h"
#include "morvik/support/ConnectivityMonitor.h"
#include "morvik/support/Extensions.h"
#include "morvik/support/LoadingOverlay.h"
#include "morvik/swiftui/MorvikVerifyExampleView.h"
#include "morvik/swiftui/MorvikVerifyManager.h"
#include "morvik/swiftui/MorvikVerifyView.h"

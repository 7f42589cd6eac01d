// Umbrella header of the foundation layer.
#pragma once
#include <morvik/platform/foundation/AttributedString.h>
#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/foundation/Calendar.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/Date.h>
#include <morvik/platform/foundation/DecodingError.h>
#include <morvik/platform/foundation/Error.h>
#include <morvik/platform/foundation/JSONCoding.h>
#include <morvik/platform/foundation/JSONSerialization.h>
#include <morvik/platform/foundation/NotificationCenter.h>
#include <morvik/platform/foundation/Progress.h>
#include <morvik/platform/foundation/PropertyList.h>
#include <morvik/platform/foundation/TimeZone.h>
#include <morvik/platform/foundation/URL.h>
#include <morvik/platform/foundation/UserDefaults.h>

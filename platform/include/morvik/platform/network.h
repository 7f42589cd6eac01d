// Umbrella header of the network layer.
#pragma once
#include <morvik/platform/network/NWPathMonitor.h>
#include <morvik/platform/network/SCNetworkReachability.h>
#include <morvik/platform/network/Testing.h>

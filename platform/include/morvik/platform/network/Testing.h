// Test hooks of the network layer: they replace what the kernel says for
// every monitor and reachability object in the process.
#pragma once

#include <morvik/platform/network/NWPathMonitor.h>
#include <morvik/platform/network/SCNetworkReachability.h>

#include <optional>

namespace network::testhooks {

// Every NWPathMonitor reports this path instead of the kernel's (nullopt
// returns to the kernel's); started monitors receive it as a change.
void injectPath(std::optional<NWPath> path);

// Every reachability object without flags of its own injected reports these
// flags (nullopt returns to the kernel's); watching objects receive them as
// a change.
void injectReachabilityFlags(std::optional<SCNetworkReachabilityFlags> flags);

}  // namespace network::testhooks

// The host's debug switch for the document road's console output.
//
// By default a verdict leaves one console line with its request id only: the
// verdict holds names, dates of birth, addresses and document numbers, and a
// host's stdout often ends in its logs. With MORVIK_VERIFY_DEBUG=1 in the
// process's environment the whole verdict is printed as JSON instead. The
// environment is read once, at the first question; any thread.
#pragma once

#include <optional>

namespace morvik {

bool verdictDebugPrintEnabled();
// For tests: answers `enabled` from now on; nullopt lets the environment
// decide again.
void setVerdictDebugPrintForTesting(std::optional<bool> enabled);

}  // namespace morvik

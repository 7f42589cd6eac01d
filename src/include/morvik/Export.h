// Marks the SDK's public API. The SDK libraries are built with hidden symbol
// visibility, so only what carries this mark is exported to hosts: put it on
// every public class (`class MORVIK_API IDScanStepsVC ...`) and on every public
// free function. Internal classes stay unmarked.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define MORVIK_API __attribute__((visibility("default")))
#else
#define MORVIK_API
#endif

# Flags for our own targets only: third-party headers come in as SYSTEM.
add_library(morvik_settings INTERFACE)
target_compile_options(morvik_settings INTERFACE -Wall -Wextra -Wpedantic -Werror
  # GCC 12 reports impossible overlaps inside std::string at -O3 (GCC bug 105651).
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
target_compile_features(morvik_settings INTERFACE cxx_std_20)

if(MORVIK_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(MORVIK_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(_san)
  # Applied globally so every object (tests, fixtures, gtest glue) agrees.
  add_compile_options(${_san})
  add_link_options(${_san})
endif()

# Debug builds check UI-thread contracts.
target_compile_definitions(morvik_settings INTERFACE $<$<CONFIG:Debug>:MORVIK_DEBUG_CHECKS=1>)

# Unity builds of the libraries: each batch of sixteen sources compiles as one
# translation unit, so the heavy headers (OpenCV, nlohmann/json, the platform
# layers) are parsed and their templates instantiated once per batch instead of
# once per file: half the CPU of a clean build (batches of eight take 15 %
# more). A change to one file then recompiles its whole batch, so the everyday
# release and debug presets leave it off; the sanitizer presets and CI turn it
# on.
option(MORVIK_UNITY_BUILD "Compile the libraries' sources in batches, each as one translation unit" OFF)
function(morvik_unity_build target)
  if(MORVIK_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 16)
    # Types from a file's anonymous namespace in its own classes are fine; GCC
    # reports them once the file is included into a batch.
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
endfunction()

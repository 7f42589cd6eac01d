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

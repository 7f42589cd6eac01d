#!/bin/sh
# Builds the sample exporter against a release build of the tree (cmake --preset release and a build of
# the vision tests first: it links what they link).
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
b="$root/build/release"
libs=$(grep -A3 "build bin/test_platform_vision:" "$b/build.ninja" | sed -n 's/.*LINK_LIBRARIES = //p' |
  tr ' ' '\n' | sed "s|^\([a-z]\)|$b/\1|; s|^$b/-|-|" | tr '\n' ' ')
g++ -std=c++20 -O2 -w -o "${OUT:-$b/export_generated}" "$root/tools/docmodel/export_generated.cpp" \
  -I"$root/platform/include" -I"$root/platform" -I"$root/tests" -I/usr/include/opencv4 $libs

#!/usr/bin/env bash
# Runs a program on an X display of its own: Xvfb on a free display number
# (xvfb-run -a), big enough for a 390 x 844 point window at scale 2.
set -euo pipefail
if ! command -v xvfb-run >/dev/null; then
  echo "under-xvfb: xvfb-run is missing (scripts/install-deps installs xvfb)" >&2
  exit 1
fi
exec xvfb-run -a -s "-screen 0 1024x1800x24 -nolisten tcp" "$@"

#!/usr/bin/env bash
# Installs what is missing, builds Movenna and starts it. Arguments are passed
# on (files and folders to add). Without a display, run it under xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
if [ -x build/bin/movenna ]; then
  exec build/bin/movenna "$@"
fi
echo "The window is not built yet: build/bin holds the converter and the core's tests so far."
ls build/bin

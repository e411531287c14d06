#!/usr/bin/env bash
# Installs what is needed, builds both targets and installs the deliverables:
#   dist/windows-x86/{demo,library}/Corvane_jniexport32.dll
#   dist/linux-x64/{demo,library}/libCorvane_jniexport32.so (+ libcorvane_posix.so)
#   dist/java/corvane.jar
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in linux-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test leg.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
status=0
for preset in linux-x64 windows-x86; do
  echo "== tests: $preset"
  ctest --preset "$preset" || status=1
done
exit $status

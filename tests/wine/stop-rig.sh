#!/usr/bin/env bash
# Stops the rig's wineserver and with it Wine's service processes, e.g. after
# a test run; the next wine-run.sh starts a new one. Does nothing when none
# runs.
#   tests/wine/stop-rig.sh [RIG_DIR]   (default: $CORVANE_WINE_RIG, else
#                                       build/wine-rig of this checkout)
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=rig-common.sh
source "$HERE/rig-common.sh"

(($# <= 1)) || { echo "usage: $0 [RIG_DIR]" >&2; exit 2; }
RIG=${1:-$(rig_default_dir)}
rig_load_env "$RIG"

rig_server_running || exit 0
# -k ends every process of the server's prefix, then the server itself,
# which writes the registry back on its way out.
"$CORVANE_WINESERVER" -k || true
for ((i = 0; i < 200; i++)); do
  rig_server_running || exit 0
  sleep 0.05
done
rig_die "the wineserver for $WINEPREFIX is still running"

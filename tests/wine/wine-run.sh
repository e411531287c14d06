#!/usr/bin/env bash
# Runs a 32-bit Windows program in the rig built by setup-rig.sh and exits
# with the program's exit code. Meant as CMAKE_CROSSCOMPILING_EMULATOR, so
# ctest runs each test program through it:
#   tests/wine/wine-run.sh PROGRAM.exe [ARGS...]
# Environment:
#   CORVANE_WINE_RIG   the rig folder (default: build/wine-rig of this checkout)
#   CORVANE_WINEDEBUG  WINEDEBUG for this run (the rig's default is -all)
#
# The program's stdout and stderr go to a file that is printed, CRs
# stripped, once it has exited. Wine's service processes, started by the
# first program, inherit its stdout and live on with the server: had that
# been ctest's pipe, ctest would wait for them after every test.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=rig-common.sh
source "$HERE/rig-common.sh"

(($# >= 1)) || { echo "usage: $0 PROGRAM.exe [ARGS...]" >&2; exit 2; }

RIG=$(rig_default_dir)
rig_load_env "$RIG"
[[ -x $CORVANE_QEMU && -x $CORVANE_WINE_LOADER ]] ||
  rig_die "the rig at '$RIG' is incomplete; run tests/wine/setup-rig.sh '$RIG'"
[[ -z ${CORVANE_WINEDEBUG:-} ]] || export WINEDEBUG=$CORVANE_WINEDEBUG
# Headless: no window may open on a developer's display.
unset DISPLAY WAYLAND_DISPLAY

# binfmt registration ends with a reboot; the rig folder does not.
rig_register_binfmt "$CORVANE_QEMU"
rig_start_server

out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
pid=
# shellcheck disable=SC2317 # runs as the EXIT trap
finish() {
  local rc=$?
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    sleep 1
    kill -KILL "$pid" 2>/dev/null || true
  fi
  [[ -f $out ]] && tr -d '\r' <"$out"
  rm -f "$out"
  exit "$rc"
}
# ctest's timeout sends a signal: end the program too, and show what it wrote.
trap finish EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

"$CORVANE_QEMU" "$CORVANE_WINE_LOADER" "$@" </dev/null >"$out" 2>&1 &
pid=$!
rc=0
wait "$pid" || rc=$?
pid=
exit "$rc"

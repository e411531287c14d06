# shellcheck shell=bash
# Shared by setup-rig.sh, wine-run.sh and stop-rig.sh; sourced, not run.
#
# The rig runs 32-bit Windows programs on an x86-64 kernel that runs no 32-bit
# code: Debian's 32-bit Wine, unpacked into a sysroot, executed by qemu-i386
# user-mode emulation, talking to the host's native wineserver64.

# The persistent server and the prefix's tools are the host's 64-bit ones.
CORVANE_HOST_WINESERVER=/usr/lib/wine/wineserver64

CORVANE_BINFMT_DIR=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects (e_machine 3), as the qemu packages
# register them.
CORVANE_BINFMT_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
CORVANE_BINFMT_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The same magic as binfmt_misc prints it back.
CORVANE_BINFMT_MAGIC_HEX=7f454c4601010100000000000000000002000300

rig_die() {
  printf '%s: error: %s\n' "${0##*/}" "$*" >&2
  exit 1
}

# The rig folder: $CORVANE_WINE_RIG, else build/wine-rig of this checkout.
rig_default_dir() {
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  printf '%s\n' "${CORVANE_WINE_RIG:-$(cd "$here/../.." && pwd)/build/wine-rig}"
}

# Loads RIG_DIR/env.sh or stops with a message saying how to create it.
rig_load_env() {
  local rig=$1
  [[ -f $rig/env.sh ]] ||
    rig_die "no Wine rig at '$rig' (env.sh missing); create it with: tests/wine/setup-rig.sh '$rig'"
  # shellcheck source=/dev/null
  source "$rig/env.sh"
}

# The interpreter currently registered as qemu-i386, empty when none is.
rig_binfmt_interpreter() {
  local entry=$CORVANE_BINFMT_DIR/qemu-i386
  [[ -r $entry ]] || return 0
  grep -qx enabled "$entry" || return 0
  sed -n 's/^interpreter //p' "$entry"
}

# True when INTERPRETER is this qemu or the qemu of another complete rig
# (RIG/qemu/usr/bin/qemu-i386 beside RIG/qemu/.rig-stamp). Any of them runs
# any rig's programs, since QEMU_LD_PREFIX names the sysroot; taking over the
# registration of a rig in use would fail its programs' exec calls meanwhile.
rig_binfmt_usable() {
  local interpreter=$1 qemu=$2
  [[ -n $interpreter ]] || return 1
  [[ $interpreter == "$qemu" ]] && return 0
  [[ $interpreter == */qemu/usr/bin/qemu-i386 && -x $interpreter &&
    -f ${interpreter%/usr/bin/qemu-i386}/.rig-stamp ]]
}

# Makes the kernel hand every i386 ELF to QEMU. Wine re-executes itself and
# starts wineboot and its services as new i386 processes, so running the
# loader under qemu by hand is not enough. Lasts until reboot. With FORCE=1 an
# existing registration of the same path is replaced too (the F flag keeps the
# file that was open at registration, so a re-extracted qemu needs this).
rig_register_binfmt() {
  local qemu=$1 force=${2:-0} entry name current
  current=$(rig_binfmt_interpreter)
  if [[ $force == 1 ]]; then
    [[ $current == "$qemu" || -z $current ]] || force=0
  fi
  if [[ $force != 1 ]] && rig_binfmt_usable "$current" "$qemu"; then
    return 0
  fi
  [[ $(id -u) == 0 ]] || rig_die "registering qemu for i386 executables needs root"
  if ! mountpoint -q "$CORVANE_BINFMT_DIR"; then
    mount -t binfmt_misc binfmt_misc "$CORVANE_BINFMT_DIR" ||
      rig_die "cannot mount binfmt_misc on $CORVANE_BINFMT_DIR"
  fi
  # Another handler for the same magic (a system qemu package, say) would
  # take i386 programs away from ours.
  for entry in "$CORVANE_BINFMT_DIR"/*; do
    name=${entry##*/}
    [[ $name == register || $name == status || $name == qemu-i386 ]] && continue
    if grep -q "^magic $CORVANE_BINFMT_MAGIC_HEX\$" "$entry" 2>/dev/null; then
      echo 0 >"$entry" || rig_die "cannot disable the conflicting binfmt entry $name"
    fi
  done
  if [[ -e $CORVANE_BINFMT_DIR/qemu-i386 ]]; then
    echo -1 >"$CORVANE_BINFMT_DIR/qemu-i386" || rig_die "cannot remove the old qemu-i386 binfmt entry"
  fi
  # printf turns the \x escapes into the bytes binfmt_misc wants; F opens the
  # interpreter now, so it works in any mount namespace later.
  printf ":qemu-i386:M::${CORVANE_BINFMT_MAGIC}:${CORVANE_BINFMT_MASK}:%s:F" "$qemu" \
    >"$CORVANE_BINFMT_DIR/register" || rig_die "cannot register qemu-i386 with binfmt_misc"
  [[ $(rig_binfmt_interpreter) == "$qemu" ]] || rig_die "binfmt registration of $qemu did not take"
}

# The socket of the wineserver serving $WINEPREFIX; this Wine build keeps the
# name of its folder under /tmp in PREFIX/wineserver. Prints nothing when no
# server has ever run for the prefix.
rig_server_socket() {
  local dir dev ino
  [[ -r $WINEPREFIX/wineserver ]] || return 0
  dir=$(<"$WINEPREFIX/wineserver")
  dev=$(stat -c %D "$WINEPREFIX")
  ino=$(printf '%x' "$(stat -c %i "$WINEPREFIX")")
  printf '/tmp/%s/server-%s-%s/socket\n' "$dir" "$dev" "$ino"
}

# True when a server holds the prefix's lock. A socket alone can be stale (a
# server that was killed leaves it behind); the server's fcntl lock on the
# file beside it shows in /proc/locks as MAJOR:MINOR:INODE.
rig_server_running() {
  local socket lock ino
  socket=$(rig_server_socket)
  [[ -n $socket && -S $socket ]] || return 1
  lock=${socket%/socket}/lock
  ino=$(stat -c %i "$lock" 2>/dev/null) || return 1
  awk -v ino="$ino" '{ n = split($6, f, ":"); if (f[n] == ino) found = 1 } END { exit !found }' /proc/locks
}

# Starts a wineserver that stays 60 s after its last client, unless one runs.
# Its output goes nowhere and it gets its own session: a server holding the
# caller's stdout would keep a pipe (ctest's, a shell's) open for minutes.
rig_start_server() {
  local i
  rig_server_running && return 0
  setsid "$CORVANE_HOST_WINESERVER" -p60 </dev/null >/dev/null 2>&1 &
  # Wait for its socket so the program connects to it rather than racing to
  # start a server of its own. A server that lost the race to another one
  # exits at once; then the other one's socket appears.
  for ((i = 0; i < 200; i++)); do
    rig_server_running && return 0
    sleep 0.05
  done
  rig_die "wineserver for $WINEPREFIX did not start"
}

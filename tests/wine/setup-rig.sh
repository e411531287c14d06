#!/usr/bin/env bash
# Builds the rig that runs our 32-bit Windows test programs on this x86-64
# Debian 12 machine, whose kernel runs no 32-bit code:
#   RIG_DIR/sysroot   Debian's 32-bit Wine and its i386 libraries, unpacked
#   RIG_DIR/qemu      qemu-i386 10 from bookworm-backports, unpacked
#   RIG_DIR/prefix    the Wine prefix (WINEARCH=win32)
#   RIG_DIR/downloads the .deb files, kept so a rebuild downloads nothing
#   RIG_DIR/env.sh    what wine-run.sh needs, for sourcing
# Nothing i386 is installed into the system and its dpkg architectures stay
# as they are: the i386 packages come through a private apt configuration
# and are only unpacked. Run as root (apt, binfmt_misc). Idempotent: with
# everything in place a run only checks each part (binfmt included) and
# rewrites env.sh, in well under a second.
#
# Usage: tests/wine/setup-rig.sh RIG_DIR
set -Eeuo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=rig-common.sh
source "$HERE/rig-common.sh"

# Bump when a step below changes what ends up in the sysroot or the prefix.
RECIPE=1

STARTED=$SECONDS
HOST_PACKAGES=(g++-mingw-w64-i686 gcc-multilib wine64)
# What the i386 Wine needs, found as a dependency closure.
ROOT_PACKAGES=(wine32 libwine)
# In the closure but unpacked only by maintainer scripts or not needed to run
# Wine; their own dependencies would bring in much more.
SKIP_PACKAGES='util-linux|dpkg|tar|debconf|install-info|sysvinit-utils|lsb-base|openssl'
# Architecture-independent packages Wine uses; every other "all" package the
# closure lists (alternative fonts, X11 common files) is left out.
ALL_PACKAGES='libz-mingw-w64|fontconfig-config|fonts-dejavu-core|libasound2-data|libx11-data'
PRELOAD_NAME=libcorvane_trapno.so
PRELOAD_GUEST_PATH=/usr/lib/i386-linux-gnu/$PRELOAD_NAME

log() { printf '[setup-rig %3ss] %s\n' "$((SECONDS - STARTED))" "$*" >&2; }
trap 'rig_die "step failed (line $LINENO): $BASH_COMMAND"' ERR

[[ $# == 1 ]] || { echo "usage: $0 RIG_DIR" >&2; exit 2; }
[[ $(id -u) == 0 ]] || rig_die "run as root: it installs packages and registers binfmt_misc"
mkdir -p "$1"
RIG=$(cd "$1" && pwd)
SYSROOT=$RIG/sysroot
QEMU_DIR=$RIG/qemu
QEMU=$QEMU_DIR/usr/bin/qemu-i386
PREFIX=$RIG/prefix

# One setup at a time per rig folder. Wine's processes must not inherit fd 9
# (9>&- below): its services outlive this script and would hold the lock.
exec 9>"$RIG/.lock"
flock 9

# ---------------------------------------------------------------- host tools
package_installed() {
  [[ $(dpkg-query -W -f '${Status}' "$1" 2>/dev/null) == "install ok installed" ]]
}

install_host_packages() {
  local missing=() p
  for p in "${HOST_PACKAGES[@]}"; do package_installed "$p" || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A fresh machine has no package lists yet, and old ones may name files the
  # mirror no longer has.
  apt-get update -q >/dev/null
  # Of wine64 the rig uses only wineserver64; its recommends (drivers,
  # fonts, GStreamer) would double the download.
  apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# --------------------------------------------------------- private apt setup
OS_CODENAME=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")

# Prints the URI of the first enabled deb source of the system that serves
# SUITE with component main, from one-line and deb822 source files alike.
system_source_uri() {
  local all
  all=$(all_source_uris "$1")
  printf '%s\n' "${all%%$'\n'*}"
}

all_source_uris() {
  local suite=$1 f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -r $f ]] || continue
    awk -v suite="$suite" '
      /^[ \t]*deb[ \t]/ {
        i = 2
        if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        uri = $i; s = $(i + 1)
        for (j = i + 2; j <= NF; j++) if (s == suite && $j == "main") { print uri; exit }
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -r $f ]] || continue
    awk -v suite="$suite" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled != "no" &&
            (" " suites " ") ~ (" " suite " ") && (" " comps " ") ~ / main /) {
          split(uris, u, " "); print u[1]; found = 1; exit
        }
        types = uris = suites = comps = enabled = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]*#/ { next }
      {
        key = tolower($1); sub(/:$/, "", key)
        val = $0; sub(/^[^:]*:[ \t]*/, "", val)
        if (key == "types") types = val
        else if (key == "uris") uris = val
        else if (key == "suites") suites = val
        else if (key == "components") comps = val
        else if (key == "enabled") enabled = tolower(val)
      }
      END { if (!found) flush() }' "$f"
  done
}

signed_by() {
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  [[ -r $keyring ]] && printf '[signed-by=%s] ' "$keyring"
}

# A private apt: own lists, cache, status and sources, one architecture. The
# system's apt.conf.d (proxies and the like) still applies.
# Usage: private_apt NAME ARCH SOURCES_TEXT; sets APT_OPTS.
private_apt() {
  local dir=$RIG/apt/$1 arch=$2 sources=$3
  mkdir -p "$dir"/{lists/partial,cache/archives/partial,sources.list.d,preferences.d}
  : >"$dir/status"
  printf '%s' "$sources" >"$dir/sources.list"
  APT_OPTS=(
    -o "Dir::State::Lists=$dir/lists" -o "Dir::State::status=$dir/status"
    -o "Dir::Cache=$dir/cache" -o "Dir::Etc::SourceList=$dir/sources.list"
    -o "Dir::Etc::SourceParts=$dir/sources.list.d"
    -o "Dir::Etc::PreferencesParts=$dir/preferences.d" -o "Dir::Etc::Preferences=$dir/preferences"
    -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
    -o "Acquire::Languages=none" -o "APT::Sandbox::User=root"
  )
  apt-get "${APT_OPTS[@]}" -q update >"$dir/update.log" 2>&1 ||
    rig_die "apt-get update of the private $1 configuration failed: see $dir/update.log"
}

# Downloads the given packages (name or name=version) into DIR, skipping the
# ones already there, and removes .deb files of DIR that are no longer wanted.
fetch_debs() {
  local dir=$1 uris wanted=() missing=() f version
  shift
  mkdir -p "$dir"
  uris=$(apt-get "${APT_OPTS[@]}" download --print-uris "$@")
  while read -r _ f _; do
    [[ -n $f ]] || continue
    wanted+=("$f")
    # NAME_VERSION_ARCH.deb, the version's colon written as %3a.
    version=${f#*_}
    version=${version%_*}
    [[ -s $dir/$f ]] || missing+=("${f%%_*}=${version//%3a/:}")
  done <<<"$uris"
  for f in "$dir"/*.deb; do
    [[ -e $f ]] || continue
    [[ " ${wanted[*]} " == *" ${f##*/} "* ]] || rm -f "$f"
  done
  ((${#missing[@]})) || return 0
  log "downloading ${#missing[@]} packages"
  (cd "$dir" && apt-get "${APT_OPTS[@]}" -q download "${missing[@]}" >/dev/null)
}

# ------------------------------------------------------------------- sysroot
build_sysroot() {
  local wine_version mirror security sources stamp closure names=() debs=$RIG/downloads/i386
  wine_version=$(dpkg-query -W -f '${Version}' wine64)
  stamp="recipe=$RECIPE wine=$wine_version"
  if [[ -f $SYSROOT/.rig-stamp && $(<"$SYSROOT/.rig-stamp") == "$stamp" ]]; then
    return 0
  fi

  mirror=$(system_source_uri "$OS_CODENAME")
  [[ -n $mirror ]] || rig_die "no deb source for $OS_CODENAME main in /etc/apt/sources.list*"
  security=$(system_source_uri "$OS_CODENAME-security")
  sources="deb $(signed_by)$mirror $OS_CODENAME main
deb $(signed_by)$mirror $OS_CODENAME-updates main
"
  [[ -n $security ]] && sources+="deb $(signed_by)$security $OS_CODENAME-security main
"
  log "i386 package lists from $mirror"
  private_apt i386 i386 "$sources"

  # The 32-bit client must speak the protocol of the host's wineserver64:
  # same Wine version on both sides.
  apt-cache "${APT_OPTS[@]}" show "wine32=$wine_version" >/dev/null 2>&1 ||
    rig_die "wine32 $wine_version (the version of the installed wine64) is not on $mirror"
  closure=$(apt-cache "${APT_OPTS[@]}" depends --recurse --no-recommends --no-suggests \
    --no-conflicts --no-breaks --no-replaces --no-enhances \
    "${ROOT_PACKAGES[@]/%/=$wine_version}")
  # Real package names only (virtual ones print as <name>), minus the skipped.
  mapfile -t names < <(grep -v '^[ <]' <<<"$closure" | sort -u | grep -vxE "$SKIP_PACKAGES")
  # Keep i386 packages and the chosen "all" ones; pin Wine to the host's.
  local keep=() file name root
  while read -r _ file _; do
    name=${file%%_*}
    case $file in
      *_i386.deb) ;;
      *_all.deb) [[ $name =~ ^($ALL_PACKAGES)$ ]] || continue ;;
      *) continue ;;
    esac
    for root in "${ROOT_PACKAGES[@]}"; do
      [[ $name == "$root" ]] && name+="=$wine_version"
    done
    keep+=("$name")
  done < <(apt-get "${APT_OPTS[@]}" download --print-uris "${names[@]}")
  for root in "${ROOT_PACKAGES[@]}"; do
    [[ " ${keep[*]} " == *" $root=$wine_version "* ]] || rig_die "the package list lost $root"
  done
  fetch_debs "$debs" "${keep[@]}"

  log "unpacking $(find "$debs" -name '*.deb' | wc -l) packages"
  rm -rf "$SYSROOT.new" "$SYSROOT"
  mkdir -p "$SYSROOT.new"
  # dpkg -x only extracts: no maintainer script runs, nothing is registered.
  # shellcheck disable=SC2016 # $0 and $d belong to the inner shell
  find "$debs" -name '*.deb' -print0 |
    xargs -0 -n 8 -P "$(nproc)" sh -c 'for d; do dpkg -x "$d" "$0" || exit 255; done' "$SYSROOT.new"

  # qemu resolves every absolute path of the guest inside the sysroot first:
  # a tmp folder there would hide the host's /tmp, where the host wineserver
  # puts its socket.
  [[ ! -e $SYSROOT.new/tmp ]] || rig_die "the sysroot has a tmp folder"

  # user32 imports zlib1.dll, which Debian ships as a mingw DLL outside Wine's
  # folders; Wine's loader takes a DLL from its own folder only when it
  # carries Wine's builtin marker in the bytes after the DOS header (64-95).
  # Without it: "could not load kernel32.dll, status c0000135".
  local zlib=$SYSROOT.new/usr/i686-w64-mingw32/lib/zlib1.dll
  local zlib_wine=$SYSROOT.new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  local pe_offset
  pe_offset=$(od -An -tu4 -j60 -N4 "$zlib" | tr -d ' ')
  ((pe_offset >= 96)) || rig_die "zlib1.dll has its PE header at $pe_offset, inside the marker bytes"
  cp "$zlib" "$zlib_wine"
  printf 'Wine builtin DLL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0' |
    dd of="$zlib_wine" bs=1 seek=64 conv=notrunc status=none

  # The dynamic loader of the guest finds the i386 libraries through the
  # sysroot's own cache, which libc-bin's trigger would have built.
  echo 'include /etc/ld.so.conf.d/*.conf' >"$SYSROOT.new/etc/ld.so.conf"
  ldconfig -r "$SYSROOT.new"

  mv "$SYSROOT.new" "$SYSROOT"
  echo "$stamp" >"$SYSROOT/.rig-stamp"
  # A prefix made by another Wine is rebuilt.
  rm -rf "$PREFIX"
}

# Builds the trapno preload library and lists it in the sysroot's
# etc/ld.so.preload (qemu reads that file instead of the host's).
install_preload() {
  local src=$HERE/trapno_preload.c out=$SYSROOT$PRELOAD_GUEST_PATH sum
  sum="$(sha256sum <"$src" | cut -d' ' -f1) $(gcc -m32 -dumpfullversion)"
  if [[ -f $out && -f $out.src && $(<"$out.src") == "$sum" ]]; then
    [[ $(<"$SYSROOT/etc/ld.so.preload") == "$PRELOAD_GUEST_PATH" ]] && return 0
  else
    log "building $PRELOAD_NAME"
    gcc -m32 -shared -fPIC -O2 -Wall -Wextra -Werror -o "$out.new" "$src" ||
      rig_die "building $src with gcc -m32 failed (is gcc-multilib installed?)"
    mv "$out.new" "$out"
    echo "$sum" >"$out.src"
  fi
  echo "$PRELOAD_GUEST_PATH" >"$SYSROOT/etc/ld.so.preload"
}

# A Wine program that finds no server starts SYSROOT/usr/lib/wine/wineserver,
# a script that the host's /bin/sh runs natively. Debian's version execs
# wineserver64 with -p0: that server quits with its last program, and the next
# test then pays a cold start (4-5 s instead of 0.3 s). Ours stays 60 s, like
# the one wine-run.sh starts.
install_server_script() {
  local script=$SYSROOT/usr/lib/wine/wineserver text
  text="#!/bin/sh
# Installed by tests/wine/setup-rig.sh: the host's server, persistent for 60 s.
exec $CORVANE_HOST_WINESERVER -p60 \"\$@\""
  [[ -f $script && $(<"$script") == "$text" ]] && return 0
  printf '%s\n' "$text" >"$script"
  chmod 755 "$script"
}

# ---------------------------------------------------------------------- qemu
QEMU_FRESH=0
fetch_qemu() {
  local mirror stamp="recipe=$RECIPE" deb version
  if [[ -x $QEMU && -f $QEMU_DIR/.rig-stamp && $(<"$QEMU_DIR/.rig-stamp") == "$stamp" ]]; then
    return 0
  fi
  # Debian 12's own qemu (7.2) ignores MAP_FIXED_NOREPLACE: Wine then needs
  # tens of thousands of mmap calls to start (about 50 s) and fails at times.
  mirror=$(system_source_uri "$OS_CODENAME")
  [[ -n $mirror ]] || rig_die "no deb source for $OS_CODENAME main in /etc/apt/sources.list*"
  log "qemu-user from $OS_CODENAME-backports"
  private_apt qemu amd64 "deb $(signed_by)$mirror $OS_CODENAME-backports main
"
  fetch_debs "$RIG/downloads/qemu" qemu-user
  deb=$(ls "$RIG"/downloads/qemu/qemu-user_*.deb)
  rm -rf "$QEMU_DIR"
  mkdir -p "$QEMU_DIR"
  # Only the one emulator; the package holds dozens.
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$QEMU_DIR" ./usr/bin/qemu-i386
  version=$("$QEMU" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  if [[ -z $version ]] || ((version < 10)); then
    rig_die "qemu-i386 from backports is '$("$QEMU" --version | head -n 1)', need 10 or later"
  fi
  echo "$stamp" >"$QEMU_DIR/.rig-stamp"
  QEMU_FRESH=1
}

# -------------------------------------------------------------------- env.sh
write_env() {
  local tmp=$RIG/env.sh.new
  {
    echo "# Written by tests/wine/setup-rig.sh; sourced by tests/wine/wine-run.sh."
    printf 'export CORVANE_WINE_RIG=%q\n' "$RIG"
    printf 'export CORVANE_QEMU=%q\n' "$QEMU"
    printf 'export CORVANE_WINE_SYSROOT=%q\n' "$SYSROOT"
    printf 'export CORVANE_WINE_LOADER=%q\n' "$SYSROOT/usr/lib/wine/wine"
    printf 'export CORVANE_WINESERVER=%q\n' "$CORVANE_HOST_WINESERVER"
    printf 'export QEMU_LD_PREFIX=%q\n' "$SYSROOT"
    printf 'export WINEPREFIX=%q\n' "$PREFIX"
    echo "export WINEARCH=win32"
    echo "export WINEDEBUG=-all"
    # No Mono or Gecko installer on prefix updates, no desktop menu entries.
    echo "export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'"
  } >"$tmp"
  mv "$tmp" "$RIG/env.sh"
}

# -------------------------------------------------------------------- prefix
create_prefix() {
  local stamp="recipe=$RECIPE"
  if [[ -f $PREFIX/.rig-stamp && $(<"$PREFIX/.rig-stamp") == "$stamp" ]] &&
    grep -q '^#arch=win32' "$PREFIX/system.reg" 2>/dev/null; then
    return 0
  fi
  # A server still running for an old prefix would serve the new one badly.
  if [[ -d $PREFIX ]] && rig_server_running; then
    "$CORVANE_HOST_WINESERVER" -k 9>&- || true
  fi
  rm -rf "$PREFIX"
  mkdir -p "$PREFIX"
  log "creating the Wine prefix"
  unset DISPLAY WAYLAND_DISPLAY
  rig_start_server 9>&-
  timeout 300 "$QEMU" "$CORVANE_WINE_LOADER" wineboot --init </dev/null >"$RIG/wineboot.log" 2>&1 9>&- ||
    rig_die "wineboot failed: see $RIG/wineboot.log"
  # cmd's exit code reaching us shows loader, server and binfmt work together.
  local rc=0
  timeout 120 "$QEMU" "$CORVANE_WINE_LOADER" cmd /c exit 42 </dev/null >>"$RIG/wineboot.log" 2>&1 9>&- || rc=$?
  ((rc == 42)) || rig_die "a program in the new prefix exited with $rc instead of 42: see $RIG/wineboot.log"
  # The server writes the registry to system.reg as it stops; its services
  # stop with it, so none outlives this script.
  timeout 60 "$CORVANE_HOST_WINESERVER" -k 9>&- ||
    rig_die "could not stop the wineserver after wineboot"
  local i
  for ((i = 0; i < 200; i++)); do
    rig_server_running || break
    sleep 0.05
  done
  grep -q '^#arch=win32' "$PREFIX/system.reg" 2>/dev/null ||
    rig_die "wineboot left no 32-bit prefix in $PREFIX: see $RIG/wineboot.log"
  echo "$stamp" >"$PREFIX/.rig-stamp"
}

install_host_packages
build_sysroot
install_preload
install_server_script
fetch_qemu
rig_register_binfmt "$QEMU" "$QEMU_FRESH"
write_env
# shellcheck source=/dev/null
source "$RIG/env.sh"
create_prefix
log "ready: source $RIG/env.sh, run programs with tests/wine/wine-run.sh"

#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root. Installs only
# what is missing, so a second run takes a moment.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3 binutils     # the linux-x64 build
  openjdk-17-jdk-headless                    # javac -h, jni.h, the real JVM
  googletest                                 # GoogleTest sources in /usr/src/googletest
  g++-mingw-w64-i686 binutils-mingw-w64-i686 # the windows-x86 build
  clang-14 libclang-rt-14-dev                # the fuzzer (libFuzzer, sanitizers)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

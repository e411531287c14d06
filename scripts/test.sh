#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test leg:
#   hotspot     the suite in OpenJDK 17 with -Xcheck:jni (linux-x64)
#   java        java itself binding each module through its class (linux-x64)
#   sanitizers  the suite against our JVM under ASan and UBSan (linux-x64-asan),
#               once with direct element access, once with copies
#   wine        the suite as a 32-bit Windows program against our JVM, calling
#               the very DLLs in dist/windows-x86 under 32-bit Wine in qemu-i386,
#               once with direct element access, once with copies
#   static      the export directories of the deliverables
#   fuzz        a minute of libFuzzer over both bindings (linux-x64-fuzz), and
#               every input that once found a bug
# then prints per leg how many tests passed, failed and were skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
for preset in linux-x64-asan linux-x64-fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# The 32-bit Windows rig: set up (or checked) under build/, served by one
# wineserver for the whole run.
export CORVANE_WINE_RIG="$PWD/build/wine-rig"
bash tests/wine/setup-rig.sh "$CORVANE_WINE_RIG"
trap 'bash tests/wine/stop-rig.sh "$CORVANE_WINE_RIG" || true' EXIT

status=0
presets=(linux-x64 linux-x64-asan windows-x86 linux-x64-fuzz)
for preset in "${presets[@]}"; do
  echo "== tests: $preset"
  rm -rf "build/$preset/gtest-results"
  only=()
  [[ $preset == linux-x64-fuzz ]] && only=(-L fuzz)  # the other tests run on their own legs
  ctest --preset "$preset" "${only[@]}" --output-junit ctest-results.xml || status=1
done
echo "== summary"
python3 scripts/summary.py "${presets[@]/#/build/}"
exit $status

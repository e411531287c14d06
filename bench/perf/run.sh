#!/usr/bin/env bash
# Per-call benchmark of both bindings on the real JVM, against floors.
# Builds with the linux-x64 preset, then runs one JVM per measurement family
# and prints one table. Usage: bash bench/perf/run.sh   (from anywhere)
# The JVMs get a fixed, pre-touched 4 GiB heap, so first touches of fresh
# heap pages stay out of the pixel timings.
# Environment: BENCH_CALLS (calls per settings batch, default 1000000),
#              BENCH_BATCHES (measured batches, default 7).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cd "$root"

jdk=/usr/lib/jvm/java-17-openjdk-amd64
ffm_jdk=/usr/lib/jvm/temurin-25-jdk-amd64
jna=/usr/share/java/jna.jar
if [ ! -f "$jna" ]; then
  apt-get install -y libjna-java >/dev/null
fi

cmake --preset linux-x64 >/dev/null
cmake --build --preset linux-x64 >/dev/null

build="$root/build/linux-x64"
out="$build/bench/perf"
classes="$out/classes"
rm -rf "$classes" "$out/classes-ffm"
mkdir -p "$classes"
"$jdk/bin/javac" -Xlint:all -Werror -d "$classes" -cp "$build/corvane.jar:$jna" "$here"/java/corvane_bench/*.java

double_dir="$build/image-library/complete"
calls="${BENCH_CALLS:-1000000}"
batches="${BENCH_BATCHES:-7}"
props=(-Dbench.calls="$calls" -Dbench.batches="$batches")
results="$out/results.tsv"
: >"$results"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"

run() {  # run <library path> <main class> [args...]
  local path="$1"
  shift
  LD_LIBRARY_PATH="$double_dir" "$jdk/bin/java" -Xms4g -Xmx4g -XX:+AlwaysPreTouch "${props[@]}" \
    -Djava.library.path="$path:$out" -Djna.library.path="$double_dir" \
    -cp "$classes:$build/corvane.jar:$jna" "$@" | grep '^R' >>"$results"
}

run "$build/demo" corvane_bench.Bench settings-demo
run "$build/library" corvane_bench.Bench settings-library
run "$out" corvane_bench.Bench settings-floor
run "$out" corvane_bench.Jna
if [ -x "$ffm_jdk/bin/java" ] && "$ffm_jdk/bin/java" -version 2>&1 | grep -Eq 'version "(2[2-9]|[3-9][0-9])'; then
  mkdir -p "$out/classes-ffm"
  "$ffm_jdk/bin/javac" -Xlint:all,-restricted -Werror -d "$out/classes-ffm" "$here"/ffm/corvane_bench_ffm/Ffm.java
  LD_LIBRARY_PATH="$double_dir" "$ffm_jdk/bin/java" --enable-native-access=ALL-UNNAMED "${props[@]}" \
    -Dbench.double="$double_dir/libCorvane.so" -cp "$out/classes-ffm" corvane_bench_ffm.Ffm | grep '^R' >>"$results"
  ffm_version="$("$ffm_jdk/bin/java" -version 2>&1 | head -1)"
else
  ffm_version="n/a (no JDK 22+)"
fi
run "$build/demo" corvane_bench.Bench pixels-demo
run "$build/library" corvane_bench.Bench pixels-library
run "$out" corvane_bench.Bench pixels-floor

echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "JVM:     $("$jdk/bin/java" -version 2>&1 | head -1) (bindings, floors, JNA); FFM: $ffm_version"
echo "Load:    $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after (1/5/15 min averages; other work on the machine skews the times)"
echo "Median of $batches measured batches after warm-up; settings batches of $calls calls."
python3 "$here/table.py" "$results"

"""Prints the bench/perf results (R<TAB>key<TAB>ns<TAB>bytes lines) as one table."""
import sys

r = {}
for line in open(sys.argv[1]):
    _, key, ns, nbytes = line.rstrip("\n").split("\t")
    r[key] = (float(ns), int(nbytes))


def fmt_ns(ns):
    return f"{ns:,.1f}" if ns < 10_000 else f"{ns:,.0f}"


def fmt_rate(ns, nbytes):
    return f"{nbytes / ns:.2f} GB/s" if nbytes else ""


rows = []


def row(what, key, floors):
    if key not in r:
        rows.append((what, "n/a (no JDK 22+)" if key.startswith("ffm.") else "n/a", "", ""))
        return
    ns, nbytes = r[key]
    ratios = []
    for name, floor in floors:
        if floor in r:
            ratios.append(f"{ns / r[floor][0]:.2f}x {name}")
    rows.append((what, fmt_ns(ns), fmt_rate(ns, nbytes), ", ".join(ratios)))


for m in ("ReadWSQ_ppi", "WriteWSQ_bitrate", "ReadWSQ_bitrate"):
    rows.append((f"-- {m}", "", "", ""))
    row("floor (a) constant", f"floor-a.{m}", [])
    row("floor (b) pointer + x87 reset", f"floor-b-demo.{m}", [("(a)", f"floor-a.{m}")])
    row("floor (b) pointer + x87/MXCSR reset", f"floor-b-library.{m}", [("(a)", f"floor-a.{m}")])
    row("demo binding", f"demo.{m}", [("(b)", f"floor-b-demo.{m}"), ("(a)", f"floor-a.{m}"), ("JNA", f"jna.{m}")])
    row("library binding", f"library.{m}", [("(b)", f"floor-b-library.{m}"), ("(a)", f"floor-a.{m}"), ("JNA", f"jna.{m}")])
    row("JNA direct mapping (c)", f"jna.{m}", [("(a)", f"floor-a.{m}")])
    row("FFM (d)", f"ffm.{m}", [("(a)", f"floor-a.{m}")])
rows.append(("-- FPU reset alone (native loop)", "", "", ""))
row("x87 (demo)", "reset.demo", [])
row("x87 + MXCSR (library)", "reset.library", [])
rows.append(("-- ConvertHBITMAPtoGrayScale256 (pass-through)", "", "", ""))
for side in (512, 2048, 4096):
    row(f"two memcpy, {side}x{side}x4 B", f"memcpy2.{side}", [])
    row(f"JNI-calls floor, {side}x{side}", f"jnicalls.convert.{side}", [("2 memcpy", f"memcpy2.{side}")])
    for b in ("demo", "library"):
        row(f"{b} binding, {side}x{side}", f"{b}.convert.{side}",
            [("2 memcpy", f"memcpy2.{side}"), ("JNI floor", f"jnicalls.convert.{side}")])
rows.append(("-- SaveBMPToFile 2048x2048", "", "", ""))
row("one memcpy, 16 MiB", "memcpy1.2048", [])
for b in ("demo", "library"):
    row(f"{b} binding", f"{b}.save.2048", [("memcpy", "memcpy1.2048")])
rows.append(("-- WSQ_decode_stream, 16 MiB result", "", "", ""))
row("one memcpy, 16 MiB", "memcpy1.decode", [])
row("JNI-calls floor", "jnicalls.decode", [("memcpy", "memcpy1.decode")])
row("JNI-calls floor + double's decode", "jnicalls+double.decode", [("memcpy", "memcpy1.decode")])
for b in ("demo", "library"):
    row(f"{b} binding", f"{b}.decode",
        [("JNI floor", "jnicalls.decode"), ("JNI floor+double", "jnicalls+double.decode"), ("memcpy", "memcpy1.decode")])

rows.append(("-- WSQ_encode_stream, 16 MiB result", "", "", ""))
row("JNI-calls floor + double's encode", "jnicalls+double.encode", [("memcpy", "memcpy1.decode")])
for b in ("demo", "library"):
    row(f"{b} binding", f"{b}.encode", [("JNI floor+double", "jnicalls+double.encode"), ("memcpy", "memcpy1.decode")])

head = ("what", "ns/call", "bytes/s", "ratio")
w = [max(len(x[i]) for x in rows + [head]) for i in range(4)]
print("  ".join(h.ljust(w[i]) if i in (0, 3) else h.rjust(w[i]) for i, h in enumerate(head)))
for x in rows:
    if x[0].startswith("--"):
        print(x[0])
        continue
    print("  ".join(v.ljust(w[i]) if i in (0, 3) else v.rjust(w[i]) for i, v in enumerate(x)))
print("bytes/s: the image's (or result's) bytes per call over the time per call; "
      "ratio: time over the named row's time.")

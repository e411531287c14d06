package corvane_bench;

/**
 * One measurement family per JVM:
 *   settings-demo | settings-library | settings-floor | pixels-demo | pixels-library | pixels-floor
 * The bridge bindings are called through their static native methods.
 */
public final class Bench {
  static final int CALLS = Integer.getInteger("bench.calls", 1_000_000);
  static final int[] SIDES = {512, 2048, 4096};

  private Bench() {}

  public static void main(String[] args) throws Exception {
    switch (args[0]) {
      case "settings-demo": Settings.demo(); break;
      case "settings-library": Settings.library(); break;
      case "settings-floor": settingsFloor(); break;
      case "pixels-demo": Pixels.demo(); break;
      case "pixels-library": Pixels.library(); break;
      case "pixels-floor": pixelsFloor(); break;
      default: throw new IllegalArgumentException(args[0]);
    }
  }

  static void settingsFloor() {
    Timer.print("floor-a.ReadWSQ_ppi", Timer.median(CALLS, 5, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Floor.constInt();
      return s;
    }), 0);
    Timer.print("floor-a.WriteWSQ_bitrate", Timer.median(CALLS, 5, n -> {
      for (int i = 0; i < n; ++i) Floor.voidDouble(i * 0.5);
      return 0;
    }), 0);
    Timer.print("floor-a.ReadWSQ_bitrate", Timer.median(CALLS, 5, n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += Floor.constDouble();
      return (long) s;
    }), 0);
    Timer.print("floor-b-demo.ReadWSQ_ppi", Timer.median(CALLS, 5, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Floor.ppiX87();
      return s;
    }), 0);
    Timer.print("floor-b-demo.WriteWSQ_bitrate", Timer.median(CALLS, 5, n -> {
      for (int i = 0; i < n; ++i) Floor.writeBitrateX87(i * 0.5);
      return 0;
    }), 0);
    Timer.print("floor-b-demo.ReadWSQ_bitrate", Timer.median(CALLS, 5, n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += Floor.readBitrateX87();
      return (long) s;
    }), 0);
    Timer.print("floor-b-library.ReadWSQ_ppi", Timer.median(CALLS, 5, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Floor.ppiX87Sse();
      return s;
    }), 0);
    Timer.print("floor-b-library.WriteWSQ_bitrate", Timer.median(CALLS, 5, n -> {
      for (int i = 0; i < n; ++i) Floor.writeBitrateX87Sse(i * 0.5);
      return 0;
    }), 0);
    Timer.print("floor-b-library.ReadWSQ_bitrate", Timer.median(CALLS, 5, n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += Floor.readBitrateX87Sse();
      return (long) s;
    }), 0);
    for (int variant = 0; variant < 2; ++variant) {
      final int v = variant;
      double best = Double.MAX_VALUE;
      for (int i = 0; i < 7; ++i) best = Math.min(best, Floor.resetLoop(v, 10_000_000));
      Timer.print(v == 0 ? "reset.demo" : "reset.library", best, 0);
    }
  }

  static int batchFor(long bytes) {
    return (int) Math.max(3, Math.min(2000, (256L << 20) / Math.max(1, bytes)));
  }

  static void pixelsFloor() {
    // The codec first, as in the bindings' processes.
    final int decoded = 4096 * 4096;
    Floor.prepare(decoded);
    Timer.print("memcpy1.decode", Timer.median(batchFor(decoded), 3, n -> {
      Floor.memcpyFloor(decoded, n);
      return 0;
    }), decoded);
    Timer.print("jnicalls.decode", Timer.median(batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Floor.decodeFloor(decoded, false).length;
      return s;
    }), decoded);
    Floor.setDecodeAnswer(4096, 4096);
    Timer.print("jnicalls+double.decode", Timer.median(batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Floor.decodeFloor(0, true).length;
      return s;
    }), decoded);
    Floor.setEncodeAnswer(decoded);
    final byte[] encoderInput = new byte[16];
    Timer.print("jnicalls+double.encode", Timer.median(batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Floor.encodeFloor(encoderInput, "c").length;
      return s;
    }), decoded);
    for (int side : SIDES) {
      final long bytes = 4L * side * side;
      Floor.prepare(bytes);
      Timer.print("memcpy2." + side, Timer.median(batchFor(bytes), 3, n -> {
        Floor.memcpyFloor(bytes, 2 * n);
        return 0;
      }), bytes);
      final int[] pixels = Pixels.image(side);
      Timer.print("jnicalls.convert." + side, Timer.median(batchFor(bytes), 3, n -> {
        long s = 0;
        for (int i = 0; i < n; ++i) s += Floor.pixelsFloor(pixels).length;
        return s;
      }), bytes);
    }
    final long save = 4L * 2048 * 2048;
    Timer.print("memcpy1.2048", Timer.median(batchFor(save), 3, n -> {
      Floor.memcpyFloor(save, n);
      return 0;
    }), save);
  }

}

package corvane_bench;

import wsq_sun_java.Corvane;
import wsq_sun_java.Tessaly;

/** Pixel paths through one binding, the double handing back what it received. */
final class Pixels {
  private Pixels() {}

  static int[] image(int side) {
    final int[] pixels = new int[side * side];
    for (int i = 0; i < pixels.length; ++i) pixels[i] = i * 0x010101 & 0xFFFFFF;
    return pixels;
  }

  static void demo() {
    Floor.setReturnReceived(true);
    final int[] size = new int[2];
    for (int side : Bench.SIDES) {
      final int[] pixels = image(side);
      final long bytes = 4L * side * side;
      Timer.print("demo.convert." + side, Timer.median(Bench.batchFor(bytes), 3, n -> {
        long s = 0;
        for (int i = 0; i < n; ++i) s += Tessaly.ConvertHBITMAPtoGrayScale256(size, pixels, side, side).length;
        return s;
      }), bytes);
    }
    final int[] save = image(2048);
    final long saveBytes = 4L * 2048 * 2048;
    Timer.print("demo.save.2048", Timer.median(Bench.batchFor(saveBytes), 3, n -> {
      for (int i = 0; i < n; ++i) Tessaly.SaveBMPToFile(save, 2048, 2048, "bench.bmp", 0);
      return 0;
    }), saveBytes);
    Floor.setDecodeAnswer(4096, 4096);
    final byte[] stream = new byte[16];
    final int[] info = new int[3];
    final long decoded = 4096L * 4096;
    Timer.print("demo.decode", Timer.median(Bench.batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Tessaly.WSQ_decode_stream(stream, info).length;
      return s;
    }), decoded);
  }

  static void library() {
    Floor.setReturnReceived(true);
    final int[] size = new int[2];
    for (int side : Bench.SIDES) {
      final int[] pixels = image(side);
      final long bytes = 4L * side * side;
      Timer.print("library.convert." + side, Timer.median(Bench.batchFor(bytes), 3, n -> {
        long s = 0;
        for (int i = 0; i < n; ++i) s += Corvane.ConvertHBITMAPtoGrayScale256(size, pixels, side, side).length;
        return s;
      }), bytes);
    }
    final int[] save = image(2048);
    final long saveBytes = 4L * 2048 * 2048;
    Timer.print("library.save.2048", Timer.median(Bench.batchFor(saveBytes), 3, n -> {
      for (int i = 0; i < n; ++i) Corvane.SaveBMPToFile(save, 2048, 2048, "bench.bmp", 0);
      return 0;
    }), saveBytes);
    Floor.setDecodeAnswer(4096, 4096);
    final byte[] stream = new byte[16];
    final int[] info = new int[3];
    final long decoded = 4096L * 4096;
    Timer.print("library.decode", Timer.median(Bench.batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Corvane.WSQ_decode_stream(stream, info).length;
      return s;
    }), decoded);
  }
}

package corvane_bench;

import wsq_sun_java.Corvane;
import wsq_sun_java.Tessaly;

/** Pixel paths through one binding, the double handing back what it received. */
final class Pixels {
  private Pixels() {}

  /** The three pixel methods of one binding's class. */
  private interface Binding {
    int[] convert(int[] size, int[] pixels, int width, int height);

    void save(int[] pixels, int width, int height, String name, int flags);

    byte[] decode(byte[] stream, int[] info);

    byte[] encode(byte[] pixels, String comment);
  }

  static int[] image(int side) {
    final int[] pixels = new int[side * side];
    for (int i = 0; i < pixels.length; ++i) pixels[i] = i * 0x010101 & 0xFFFFFF;
    return pixels;
  }

  static void demo() {
    run("demo", new Binding() {
      public int[] convert(int[] size, int[] pixels, int width, int height) {
        return Tessaly.ConvertHBITMAPtoGrayScale256(size, pixels, width, height);
      }

      public void save(int[] pixels, int width, int height, String name, int flags) {
        Tessaly.SaveBMPToFile(pixels, width, height, name, flags);
      }

      public byte[] decode(byte[] stream, int[] info) {
        return Tessaly.WSQ_decode_stream(stream, info);
      }

      public byte[] encode(byte[] pixels, String comment) {
        return Tessaly.WSQ_encode_stream(pixels, 4, 4, 0.75, 500, comment);
      }
    });
  }

  static void library() {
    run("library", new Binding() {
      public int[] convert(int[] size, int[] pixels, int width, int height) {
        return Corvane.ConvertHBITMAPtoGrayScale256(size, pixels, width, height);
      }

      public void save(int[] pixels, int width, int height, String name, int flags) {
        Corvane.SaveBMPToFile(pixels, width, height, name, flags);
      }

      public byte[] decode(byte[] stream, int[] info) {
        return Corvane.WSQ_decode_stream(stream, info);
      }

      public byte[] encode(byte[] pixels, String comment) {
        return Corvane.WSQ_encode_stream(pixels, 4, 4, 0.75, 500, comment);
      }
    });
  }

  // Each call costs milliseconds: the one interface call per call is noise.
  private static void run(String name, Binding binding) {
    // The codec first, while the process's allocator is as fresh as in the
    // floor's process: its results are large mallocs inside HotSpot.
    Floor.setDecodeAnswer(4096, 4096);
    final byte[] stream = new byte[16];
    final int[] info = new int[3];
    final long decoded = 4096L * 4096;
    Timer.print(name + ".decode", Timer.median(Bench.batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += binding.decode(stream, info).length;
      return s;
    }), decoded);
    // The encode's pixels and comment stay allocated for every call (as the
    // bridge keeps them): small ones, and a 16 MiB result.
    Floor.setEncodeAnswer(4096 * 4096);
    final byte[] encoderInput = new byte[16];
    Timer.print(name + ".encode", Timer.median(Bench.batchFor(decoded), 3, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += binding.encode(encoderInput, "c").length;
      return s;
    }), decoded);
    Floor.setReturnReceived(true);
    final int[] size = new int[2];
    for (int side : Bench.SIDES) {
      final int[] pixels = image(side);
      final long bytes = 4L * side * side;
      Timer.print(name + ".convert." + side, Timer.median(Bench.batchFor(bytes), 3, n -> {
        long s = 0;
        for (int i = 0; i < n; ++i) s += binding.convert(size, pixels, side, side).length;
        return s;
      }), bytes);
    }
    final int[] save = image(2048);
    final long saveBytes = 4L * 2048 * 2048;
    Timer.print(name + ".save.2048", Timer.median(Bench.batchFor(saveBytes), 3, n -> {
      for (int i = 0; i < n; ++i) binding.save(save, 2048, 2048, "bench.bmp", 0);
      return 0;
    }), saveBytes);

  }
}

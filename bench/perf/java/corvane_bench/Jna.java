package corvane_bench;

import com.sun.jna.Native;

/** The double's entry points through JNA direct mapping. */
public final class Jna {
  static {
    Native.register("Corvane");
  }

  private Jna() {}

  public static native int _ReadWSQ_ppi();
  public static native void _WriteWSQ_bitrate(double bitrate);
  public static native double _ReadWSQ_bitrate();

  public static void main(String[] args) {
    Timer.print("jna.ReadWSQ_ppi", Timer.median(Bench.CALLS, 5, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += _ReadWSQ_ppi();
      return s;
    }), 0);
    Timer.print("jna.WriteWSQ_bitrate", Timer.median(Bench.CALLS, 5, n -> {
      for (int i = 0; i < n; ++i) _WriteWSQ_bitrate(i * 0.5);
      return 0;
    }), 0);
    Timer.print("jna.ReadWSQ_bitrate", Timer.median(Bench.CALLS, 5, n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += _ReadWSQ_bitrate();
      return (long) s;
    }), 0);
  }
}

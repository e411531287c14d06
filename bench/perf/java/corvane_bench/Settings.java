package corvane_bench;

import wsq_sun_java.Corvane;
import wsq_sun_java.Tessaly;

/** Per-call time of the settings methods through one binding. */
final class Settings {
  private Settings() {}

  static void demo() {
    Tessaly.WriteWSQ_ppi(500);
    Tessaly.WriteWSQ_bitrate(0.75);
    Timer.print("demo.ReadWSQ_ppi", Timer.median(Bench.CALLS, 5, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Tessaly.ReadWSQ_ppi();
      return s;
    }), 0);
    Timer.print("demo.WriteWSQ_bitrate", Timer.median(Bench.CALLS, 5, n -> {
      for (int i = 0; i < n; ++i) Tessaly.WriteWSQ_bitrate(i * 0.5);
      return 0;
    }), 0);
    Timer.print("demo.ReadWSQ_bitrate", Timer.median(Bench.CALLS, 5, n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += Tessaly.ReadWSQ_bitrate();
      return (long) s;
    }), 0);
  }

  static void library() {
    Corvane.WriteWSQ_ppi(500);
    Corvane.WriteWSQ_bitrate(0.75);
    Timer.print("library.ReadWSQ_ppi", Timer.median(Bench.CALLS, 5, n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += Corvane.ReadWSQ_ppi();
      return s;
    }), 0);
    Timer.print("library.WriteWSQ_bitrate", Timer.median(Bench.CALLS, 5, n -> {
      for (int i = 0; i < n; ++i) Corvane.WriteWSQ_bitrate(i * 0.5);
      return 0;
    }), 0);
    Timer.print("library.ReadWSQ_bitrate", Timer.median(Bench.CALLS, 5, n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += Corvane.ReadWSQ_bitrate();
      return (long) s;
    }), 0);
  }
}

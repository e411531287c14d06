package corvane_bench;

import java.util.Arrays;

/** Warm-up, then measured batches; the median of ns per call. */
public final class Timer {
  public interface Batch {
    long run(int calls);  // returns something so the work stays
  }

  public static long sink;
  static final int BATCHES = Integer.getInteger("bench.batches", 7);

  private Timer() {}

  public static double median(int calls, int warmups, Batch batch) {
    for (int i = 0; i < warmups; ++i) {
      sink += batch.run(calls);
    }
    final double[] ns = new double[BATCHES];
    for (int i = 0; i < BATCHES; ++i) {
      final long start = System.nanoTime();
      sink += batch.run(calls);
      ns[i] = (double) (System.nanoTime() - start) / calls;
    }
    Arrays.sort(ns);
    return ns[BATCHES / 2];
  }

  /** One result line: key, ns per call, bytes moved per call (0: none). */
  public static void print(String key, double ns, long bytes) {
    System.out.printf("R\t%s\t%.3f\t%d%n", key, ns, bytes);
  }
}

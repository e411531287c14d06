package corvane_bench_ffm;

import java.lang.foreign.Arena;
import java.lang.foreign.FunctionDescriptor;
import java.lang.foreign.Linker;
import java.lang.foreign.SymbolLookup;
import java.lang.foreign.ValueLayout;
import java.lang.invoke.MethodHandle;
import java.util.Arrays;

/** The double's entry points through the FFM API (JDK 22+), downcall handles in static finals. */
public final class Ffm {
  static final int CALLS = Integer.getInteger("bench.calls", 1_000_000);
  static final int BATCHES = Integer.getInteger("bench.batches", 7);
  static final SymbolLookup LIB = SymbolLookup.libraryLookup(System.getProperty("bench.double"), Arena.global());
  static final Linker LINKER = Linker.nativeLinker();
  static final MethodHandle READ_PPI = LINKER.downcallHandle(LIB.find("_ReadWSQ_ppi").orElseThrow(),
      FunctionDescriptor.of(ValueLayout.JAVA_INT));
  static final MethodHandle WRITE_BITRATE = LINKER.downcallHandle(LIB.find("_WriteWSQ_bitrate").orElseThrow(),
      FunctionDescriptor.ofVoid(ValueLayout.JAVA_DOUBLE));
  static final MethodHandle READ_BITRATE = LINKER.downcallHandle(LIB.find("_ReadWSQ_bitrate").orElseThrow(),
      FunctionDescriptor.of(ValueLayout.JAVA_DOUBLE));

  interface Batch {
    long run(int calls) throws Throwable;
  }

  static long sink;

  static double median(Batch batch) throws Throwable {
    for (int i = 0; i < 5; ++i) sink += batch.run(CALLS);
    final double[] ns = new double[BATCHES];
    for (int i = 0; i < BATCHES; ++i) {
      final long start = System.nanoTime();
      sink += batch.run(CALLS);
      ns[i] = (double) (System.nanoTime() - start) / CALLS;
    }
    Arrays.sort(ns);
    return ns[BATCHES / 2];
  }

  static void print(String key, double ns) {
    System.out.printf("R\t%s\t%.3f\t0%n", key, ns);
  }

  public static void main(String[] args) throws Throwable {
    print("ffm.ReadWSQ_ppi", median(n -> {
      long s = 0;
      for (int i = 0; i < n; ++i) s += (int) READ_PPI.invokeExact();
      return s;
    }));
    print("ffm.WriteWSQ_bitrate", median(n -> {
      for (int i = 0; i < n; ++i) WRITE_BITRATE.invokeExact(i * 0.5);
      return 0;
    }));
    print("ffm.ReadWSQ_bitrate", median(n -> {
      double s = 0;
      for (int i = 0; i < n; ++i) s += (double) READ_BITRATE.invokeExact();
      return (long) s;
    }));
  }
}

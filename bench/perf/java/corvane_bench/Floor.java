package corvane_bench;

/** The benchmark-only JNI module (floor.cpp). */
public final class Floor {
  static {
    System.loadLibrary("CorvanePerfFloor");
  }

  private Floor() {}

  public static native int constInt();
  public static native double constDouble();
  public static native void voidDouble(double value);

  public static native int ppiX87();
  public static native double readBitrateX87();
  public static native void writeBitrateX87(double value);
  public static native int ppiX87Sse();
  public static native double readBitrateX87Sse();
  public static native void writeBitrateX87Sse(double value);

  public static native double resetLoop(int variant, int count);

  public static native void prepare(long bytes);
  public static native void memcpyFloor(long bytes, int copies);
  public static native byte[] decodeFloor(int bytes, boolean callDouble);
  public static native int[] pixelsFloor(int[] pixels);
  public static native byte[] encodeFloor(byte[] pixels, String comment);
  public static native void setEncodeAnswer(int length);

  public static native void setReturnReceived(boolean on);
  public static native void setDecodeAnswer(int width, int height);
}

import java.lang.reflect.Method;

/**
 * Loads one binding through its Java class, as an application does, and
 * calls through it: proves that the JVM binds the exported names. The image
 * library double answers each read with the value last written.
 */
public final class BindingCheck {
  private static void expect(boolean ok, String what) {
    if (!ok) {
      throw new AssertionError(what);
    }
  }

  public static void main(String[] args) throws ReflectiveOperationException {
    final Class<?> api = Class.forName(args[0].equals("demo") ? "wsq_sun_java.Tessaly" : "wsq_sun_java.Corvane");
    final Method writePpi = api.getMethod("WriteWSQ_ppi", int.class);
    final Method readPpi = api.getMethod("ReadWSQ_ppi");
    final Method writeBitrate = api.getMethod("WriteWSQ_bitrate", double.class);
    final Method readBitrate = api.getMethod("ReadWSQ_bitrate");
    final Method writeComment = api.getMethod("WriteWSQ_comment", String.class);
    final Method readComment = api.getMethod("ReadWSQ_comment");
    final Method decode = api.getMethod("WSQ_decode_stream", byte[].class, int[].class);

    writePpi.invoke(null, -321);
    expect((Integer) readPpi.invoke(null) == -321, "ppi");
    writeBitrate.invoke(null, -0.75);
    expect(Double.doubleToRawLongBits((Double) readBitrate.invoke(null)) == Double.doubleToRawLongBits(-0.75),
        "bit rate");
    final String comment = "caf\u00e9 \u0000 \uD83D\uDE00";
    writeComment.invoke(null, comment);
    expect(comment.equals(readComment.invoke(null)), "comment");
    final int[] info = {-1, -1, -1, 7};
    final byte[] pixels = (byte[]) decode.invoke(null, new byte[] {1, 2, 3}, info);
    expect(pixels.length == 0 && info[0] == 0 && info[1] == 0 && info[2] == 0 && info[3] == 7, "decode");
    System.out.println(args[0] + ": bound and called");
  }
}
